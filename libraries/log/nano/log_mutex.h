#pragma once

#include "system/win32/unique_resource.h"

#include <string>

namespace Nano {

// A named mutex that serialises writers of one log file, across processes.
class LogMutex {
public:
    // The name this spelling of the path gives: older hosts meet on it.
    explicit LogMutex(const std::wstring& path);

    // The mutex of the file itself, the same for every spelling of its path.
    static LogMutex forFile(const std::wstring& path);

    HANDLE handle() const noexcept { return handle_.get(); }

private:
    struct Named {};
    LogMutex(Named, const std::wstring& name);

    System::Win32::UniqueHandle handle_;
};

// The file's canonical full path in the letter case the file system compares
// in: every path that names the file gives the same text, as far as the system
// can resolve it (folders that do not exist are taken as spelt, case aside).
std::wstring canonicalFoldedPath(const std::wstring& path);

} // namespace Nano
