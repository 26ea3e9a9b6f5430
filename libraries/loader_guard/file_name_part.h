#pragma once

#include <string_view>

// The characters after the last "/" or "\" of a path, wherever that separator
// stands; the whole path when it has none.
template <typename Char>
std::basic_string_view<Char> fileNamePart(const Char* path)
{
    const Char* part = path;
    for (const Char* c = path; *c != 0; ++c)
        if (*c == Char('/') || *c == Char('\\'))
            part = c + 1;
    return std::basic_string_view<Char>(part);
}
