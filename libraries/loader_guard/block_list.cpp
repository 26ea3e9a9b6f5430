#include "block_list.h"

#include "ntdll_strings.h"
#include "wildcard_match.h"

namespace {

template <typename Char>
const Char* nameOf(const BlockListEntry& entry);
template <>
const char* nameOf<char>(const BlockListEntry& entry) { return entry.ansiName; }
template <>
const wchar_t* nameOf<wchar_t>(const BlockListEntry& entry) { return entry.wideName; }

template <typename Char>
std::size_t length(const Char* text)
{
    std::size_t n = 0;
    while (text[n] != 0)
        ++n;
    return n;
}

template <typename Char>
bool matches(const BlockListEntry& entry, const Char* fileName, std::size_t fileNameLength)
{
    const Char* name = nameOf<Char>(entry);
    if (entry.isPattern)
        return wildcardMatch(name, std::basic_string_view<Char>(fileName, fileNameLength),
                             [](Char c) { return LoaderGuard::upcase(c); });
    return length(name) == fileNameLength && LoaderGuard::equalIgnoringCase(name, fileName, fileNameLength);
}

template <typename Char>
bool isBlocked(const Char* fileName, std::size_t fileNameLength)
{
    for (const BlockListEntry& entry : kDllBlockList)
        if (matches(entry, fileName, fileNameLength))
            return true;
    return false;
}

} // namespace

bool isBlockedDll(const char* fileName, std::size_t length)
{
    return isBlocked(fileName, length);
}

bool isBlockedDll(const wchar_t* fileName, std::size_t length)
{
    return isBlocked(fileName, length);
}
