#include "wide_format.h"

#include <cstdio>

namespace Log {

std::wstring formatWide(const wchar_t* format, va_list args)
{
    va_list measure;
    va_copy(measure, args);
    const int length = ::_vscwprintf(format, measure);
    va_end(measure);
    if (length <= 0)
        return {};
    std::wstring text(static_cast<std::size_t>(length), L'\0');
    ::_vsnwprintf(text.data(), text.size() + 1, format, args);
    return text;
}

} // namespace Log
