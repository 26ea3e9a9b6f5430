#pragma once

#include <windows.h>

namespace System::Win32 {

// GetProcAddress typed as the function it names; null when the module or the
// name is missing.
template <typename Function>
Function procAddress(HMODULE module, const char* name)
{
    if (module == nullptr)
        return nullptr;
    // FARPROC has no parameters; going through void* states that the real
    // signature is known.
    return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

} // namespace System::Win32
