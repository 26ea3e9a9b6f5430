#include "known_paths_win.h"

#include <windows.h>

#include <system_error>

namespace System::Env::KnownPaths {

std::wstring applicationPath()
{
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(),
                                    "Failed to get application path");
        // A result that fills the buffer exactly was cut off.
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        buffer.resize(buffer.size() + MAX_PATH);
    }
}

} // namespace System::Env::KnownPaths
