#pragma once

#include <string>
#include <string_view>

namespace Err {

// UTF-16 to UTF-8 and back. Text that cannot be converted reads "(invalid string)"
// instead of failing: these feed error texts, which must never throw themselves.
std::string toUtf8(std::u16string_view text);
std::u16string fromUtf8ToUtf16(std::string_view text);

#ifdef _WIN32
std::string toUtf8(std::wstring_view text);
std::wstring fromUtf8(std::string_view text);
#endif

} // namespace Err
