#pragma once

#include <string>
#include <string_view>

namespace Err {

// UTF-16 to UTF-8 and back. Text that cannot be converted reads "(invalid string)"
// instead of failing: these feed error texts, which must never throw themselves.
std::string toUtf8(std::u16string_view text);
std::u16string fromUtf8ToUtf16(std::string_view text);

// Text of our own that is ASCII by construction (option names, manifest
// attributes, source paths): each byte becomes the character of that value.
std::wstring widenAscii(std::string_view text);

#ifdef _WIN32
std::string toUtf8(std::wstring_view text);
std::wstring fromUtf8(std::string_view text);

// Text in the thread's ANSI code page, as exception texts come; empty when
// the system cannot convert it.
std::wstring fromAnsi(std::string_view text);
#endif

} // namespace Err
