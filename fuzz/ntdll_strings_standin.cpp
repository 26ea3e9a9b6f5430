// The system's case rules for the block list, natively: ASCII letters, and in
// wide text Latin-1's as well. ntdll's tables are larger, which changes which
// names count as equal, not how the block list compares them.
#include "loader_guard/ntdll_strings.h"

namespace LoaderGuard {

namespace {

template <typename Char>
Char upper(Char c)
{
    const auto unit = static_cast<unsigned>(static_cast<std::make_unsigned_t<Char>>(c));
    if (unit >= 'a' && unit <= 'z')
        return static_cast<Char>(unit - 'a' + 'A');
    if (sizeof(Char) > 1 && unit >= 0xE0 && unit <= 0xFE && unit != 0xF7)
        return static_cast<Char>(unit - 0x20);
    return c;
}

template <typename Char>
bool equal(const Char* left, const Char* right, std::size_t length)
{
    for (std::size_t i = 0; i < length; ++i)
        if (upper(left[i]) != upper(right[i]))
            return false;
    return true;
}

} // namespace

bool equalIgnoringCase(const char* left, const char* right, std::size_t length)
{
    return equal(left, right, length);
}

bool equalIgnoringCase(const wchar_t* left, const wchar_t* right, std::size_t length)
{
    return equal(left, right, length);
}

std::optional<char> upcase(char c)
{
    return upper(c);
}

std::optional<wchar_t> upcase(wchar_t c)
{
    return upper(c);
}

} // namespace LoaderGuard
