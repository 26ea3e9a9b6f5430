#pragma once

#include <windows.h>

namespace System::Win32 {

// A failed call's system error as an HRESULT. A call that failed without
// leaving an error code must still read as a failure: HRESULT_FROM_WIN32(0)
// is S_OK.
inline HRESULT failureFromError(DWORD error) noexcept
{
    return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

// The same for the calling thread's last error.
inline HRESULT lastErrorFailure() noexcept
{
    return failureFromError(::GetLastError());
}

} // namespace System::Win32
