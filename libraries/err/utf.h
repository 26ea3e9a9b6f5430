#pragma once

#include <string>
#include <string_view>

namespace Err {

// UTF-16 to UTF-8 and back. Text that cannot be converted reads "(invalid string)"
// instead of failing: these feed error texts, which must never throw themselves.
std::string toUtf8(std::u16string_view text);
std::u16string fromUtf8ToUtf16(std::string_view text);

// UTF-16 to UTF-8 for text that must arrive even when a character of it is
// broken (paths and names handed to the crash-reporting library): each lone
// surrogate becomes U+FFFD, the rest stays as it was.
std::string toUtf8Replacing(std::u16string_view text);

// Text of our own that is ASCII by construction (option names, manifest
// attributes, source paths): each byte becomes the character of that value.
std::wstring widenAscii(std::string_view text);

#ifdef _WIN32
std::string toUtf8(std::wstring_view text);
std::wstring fromUtf8(std::string_view text);
std::string toUtf8Replacing(std::wstring_view text);

// Text in the thread's ANSI code page, as exception texts come; empty when
// the system cannot convert it.
std::wstring fromAnsi(std::string_view text);
#endif

} // namespace Err
