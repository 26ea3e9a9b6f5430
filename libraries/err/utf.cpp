#include "utf.h"

#include <utf8.h>

#ifdef _WIN32
#include <windows.h>
#endif

namespace Err {

namespace {
constexpr char kInvalid[] = "(invalid string)";
}

std::string toUtf8(std::u16string_view text)
{
    try {
        std::string result;
        utf8::utf16to8(text.begin(), text.end(), std::back_inserter(result));
        return result;
    } catch (const utf8::exception&) {
        return kInvalid;
    }
}

std::string toUtf8Replacing(std::u16string_view text)
{
    constexpr char16_t kReplacement = 0xFFFD;
    const auto high = [](char16_t c) { return c >= 0xD800 && c <= 0xDBFF; };
    const auto low = [](char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; };
    std::u16string sound(text);
    for (std::size_t i = 0; i < sound.size(); ++i) {
        if (high(sound[i]) && i + 1 < sound.size() && low(sound[i + 1]))
            ++i;
        else if (high(sound[i]) || low(sound[i]))
            sound[i] = kReplacement;
    }
    return toUtf8(sound);
}

std::u16string fromUtf8ToUtf16(std::string_view text)
{
    try {
        std::u16string result;
        utf8::utf8to16(text.begin(), text.end(), std::back_inserter(result));
        return result;
    } catch (const utf8::exception&) {
        return u"(invalid string)";
    }
}

std::wstring widenAscii(std::string_view text)
{
    std::wstring wide;
    wide.reserve(text.size());
    for (const char c : text)
        wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return wide;
}

#ifdef _WIN32
static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide text is UTF-16");

std::string toUtf8(std::wstring_view text)
{
    return toUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}

std::string toUtf8Replacing(std::wstring_view text)
{
    return toUtf8Replacing(std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}

std::wstring fromUtf8(std::string_view text)
{
    const std::u16string wide = fromUtf8ToUtf16(text);
    return std::wstring(wide.begin(), wide.end());
}

std::wstring fromAnsi(std::string_view text)
{
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    const int length = ::MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), size, nullptr, 0);
    if (length <= 0)
        return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), size, wide.data(), length);
    return wide;
}
#endif

} // namespace Err
