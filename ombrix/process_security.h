#pragma once

#include <windows.h>

// Lets exceptions escaping COM method calls reach crash reporting instead of
// being swallowed by COM.
HRESULT disableComExceptionHandling();

// Process-wide COM security of the elevated host: every caller admitted, so the
// non-elevated launcher can call in.
HRESULT initializeElevatedComSecurity();

// Enables SeDebugPrivilege in the process token; failures are logged and tolerated.
void enableDebugPrivilege();
