#include "known_paths_win.h"

#include "err/system_error.h"
#include "system/errors.h"

#include <windows.h>

namespace System::Env::KnownPaths {

namespace {

[[noreturn]] void fail(const char* message)
{
    throw Err::GenericError<Errors::Failed_traits>(Err::makeLastSystemError(), message);
}

} // namespace

Path applicationPath()
{
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            fail("Failed to get application path");
        // A result that fills the buffer exactly was cut off.
        if (length < buffer.size()) {
            buffer.resize(length);
            return Path(std::move(buffer));
        }
        buffer.resize(buffer.size() + MAX_PATH);
    }
}

Path applicationDirectory()
{
    return applicationPath().parent();
}

Path tempFolder()
{
    // Too small a buffer is answered with the size needed, terminator included,
    // and nothing written: ask again with that size. TMP may change in between,
    // so a few rounds, not one.
    DWORD size = MAX_PATH;
    for (int round = 0; round < 4; ++round) {
        std::wstring buffer(size + 1, L'\0');
        const DWORD length = ::GetTempPathW(size, buffer.data());
        if (length == 0)
            fail("Failed to get temp folder");
        if (length < size) {
            buffer.resize(length);
            return Path(std::move(buffer));
        }
        size = length + 1;
    }
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    fail("Failed to get temp folder");
}

} // namespace System::Env::KnownPaths
