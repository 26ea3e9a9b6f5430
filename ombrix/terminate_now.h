#pragma once

#include <windows.h>

// Ends the process without unwinding: objects the launcher still references,
// the plug-in DLL and the apartment are left as they are, and no plug-in code
// runs any more.
[[noreturn]] void terminateNow(UINT exitCode) noexcept;
