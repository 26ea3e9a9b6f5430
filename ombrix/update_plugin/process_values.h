#pragma once

#include "call_gate.h"

#include <atomic>
#include <cstdint>
#include <mutex>

// Values the host's one COM class shares with the threads that serve it.
namespace UpdatePluginProcess {

// The thread that ran the latest IUpdatePlugin::initialize: the one whose
// message loop a finished plug-in ends.
extern std::atomic<std::uint32_t> mainThreadId;

// Held by the object's final release and by every process-exit notification of
// an elevated host, so that a notification never meets a half-destroyed object.
extern std::mutex processWaitLock;

// Set by the final release under processWaitLock: later notifications do nothing.
extern bool pluginObjectsReleased;

// The launcher's calls and the host's own work that reach the plug-in on the
// main thread, one at a time.
extern CallGate mainThreadCalls;

} // namespace UpdatePluginProcess
