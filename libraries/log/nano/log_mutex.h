#pragma once

#include "system/win32/unique_resource.h"

#include <string>

namespace Nano {

// The named mutex that serialises all writers of one log file, across processes.
class LogMutex {
public:
    explicit LogMutex(const std::wstring& path);

    HANDLE handle() const noexcept { return handle_.get(); }

private:
    System::Win32::UniqueHandle handle_;
};

} // namespace Nano
