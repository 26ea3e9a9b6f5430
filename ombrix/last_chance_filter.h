#pragma once

#include <windows.h>

// The process's top-level exception filter until crash reporting installs its
// own: one log line, then the process ends with the exception's code. Without
// it a fault in a thread of the plug-in would leave the host to the system's
// handling, which may wait for somebody to close an error dialog (Wine's waits
// for a debugger that never comes), and the launcher would never see the crash.
LONG WINAPI lastChanceFilter(EXCEPTION_POINTERS* pointers);

void installLastChanceFilter();
