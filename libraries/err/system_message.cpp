#include "err_category.h"
#include "utf.h"

#include <windows.h>

namespace Err {

// Into a buffer of our own rather than one the system allocates: nothing to
// free, so the bottom library needs no resource owner. A system message is at
// most 64 KB.
std::wstring systemMessageText(unsigned long code, unsigned long languageId)
{
    constexpr DWORD kLargestMessage = 32 * 1024;
    std::wstring buffer;
    for (DWORD size = 512;; size *= 2) {
        buffer.assign(size, L'\0');
        const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                              code, languageId, buffer.data(), size, nullptr);
        if (length > 0) {
            buffer.resize(length);
            return buffer;
        }
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size >= kLargestMessage)
            return {};
    }
}

std::string systemMessage(int code)
{
    constexpr DWORD kEnglishUnitedStates = 0x409;
    const std::wstring message = systemMessageText(static_cast<DWORD>(code), kEnglishUnitedStates);
    std::wstring_view text = message;
    constexpr std::wstring_view blanks = L" \t\r\n";
    const auto first = text.find_first_not_of(blanks);
    if (first == std::wstring_view::npos)
        return {};
    text = text.substr(first, text.find_last_not_of(blanks) - first + 1);
    return toUtf8(text);
}

} // namespace Err
