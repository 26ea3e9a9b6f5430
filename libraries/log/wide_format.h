#pragma once

#include <cstdarg>
#include <string>

namespace Log {

// printf into a string of whatever length results, with the Microsoft meaning
// of the conversions (%s in a wide format takes a wide string): MinGW's own C99
// printf family would read %s as a narrow string.
std::wstring formatWide(const wchar_t* format, va_list args);

} // namespace Log
