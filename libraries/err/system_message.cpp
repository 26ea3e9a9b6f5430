#include "err_category.h"
#include "utf.h"

#include "system/win32/unique_resource.h"

namespace Err {

std::wstring systemMessageText(unsigned long code, unsigned long languageId)
{
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, code,
        languageId, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    const System::Win32::UniqueLocalMemory owner(buffer);
    return length == 0 || buffer == nullptr ? std::wstring() : std::wstring(buffer, length);
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
