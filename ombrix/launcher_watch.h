#pragma once

#include "ombrix_interfaces.h"

// Notices that the launcher's process has ended while the host serves it.
// Nothing else would tell: COM does not end a server whose client died, and a
// host with nothing to report would wait for its launcher for good.
namespace LauncherWatch {

// Milliseconds between two probes of the launcher.
inline constexpr unsigned kProbeIntervalMs = 1000;

// After a successful binding, on the main thread: a thread of its own asks the
// launcher's COM runtime for a reference every kProbeIntervalMs, and requests
// the host's end when that fails because the process is gone. A launcher that
// is only slow or hung keeps the host.
void start(IPluginSystem* launcher) noexcept;

} // namespace LauncherWatch
