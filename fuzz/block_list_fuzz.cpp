// The wildcard matcher against a reference written another way (a table over
// pattern and text positions), with both character types and with an upcase
// routine that cannot convert some character; and the block list's verdict on
// a file name part against the list read row by row, narrow and wide.
#include "loader_guard/block_list.h"
#include "loader_guard/file_name_part.h"
#include "loader_guard/ntdll_strings.h"
#include "loader_guard/wildcard_match.h"

#include "fuzz_check.h"
#include "fuzz_input.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Fuzz::require;

// The matcher's rules as its header states them, by a table: match[i][j] says
// whether the pattern from i matches the text from j.
template <typename Char, typename Upcase>
bool referenceMatch(std::basic_string_view<Char> pattern, std::basic_string_view<Char> text, Upcase upcase)
{
    const std::size_t m = pattern.size();
    const std::size_t n = text.size();
    std::vector<std::vector<bool>> match(m + 1, std::vector<bool>(n + 1, false));
    // anyFrom[j]: the row below matches from some k with j <= k < n.
    std::vector<bool> anyFrom(n + 1, false);
    match[m][n] = true;
    for (std::size_t i = m; i-- > 0;) {
        anyFrom[n] = false;
        for (std::size_t k = n; k-- > 0;)
            anyFrom[k] = anyFrom[k + 1] || match[i + 1][k];
        for (std::size_t j = 0; j <= n; ++j) {
            const Char p = pattern[i];
            if (p == Char('*')) {
                match[i][j] = i + 1 == m || anyFrom[j];
            } else if (j == n) {
                match[i][j] = false;
            } else if (p == Char('?')) {
                match[i][j] = match[i + 1][j + 1];
            } else {
                const std::optional<Char> left = upcase(p);
                const std::optional<Char> right = upcase(text[j]);
                match[i][j] = left && right && *left == *right && match[i + 1][j + 1];
            }
        }
    }
    return match[0][0];
}

template <typename Char>
std::size_t stars(std::basic_string_view<Char> pattern)
{
    return static_cast<std::size_t>(std::count(pattern.begin(), pattern.end(), Char('*')));
}

template <typename Char>
std::basic_string_view<Char> untilNul(const std::basic_string<Char>& text)
{
    return std::basic_string_view<Char>(text.c_str());
}

template <typename Char>
void requireMatcherAgrees(const std::basic_string<Char>& pattern, const std::basic_string<Char>& text,
                          std::optional<Char> unconvertible)
{
    // The matcher tries every split of the text at each "*": time grows with
    // the text's length to the power of the stars. The list's patterns have one.
    const std::basic_string_view<Char> zeroTerminated = untilNul(pattern);
    if (stars(zeroTerminated) > 3 || text.size() > 128)
        return;
    const auto upcase = [&](Char c) -> std::optional<Char> {
        if (unconvertible && c == *unconvertible)
            return std::nullopt;
        return LoaderGuard::upcase(c);
    };
    require(wildcardMatch(pattern.c_str(), std::basic_string_view<Char>(text), upcase) ==
                referenceMatch(zeroTerminated, std::basic_string_view<Char>(text), upcase),
            "wildcardMatch agrees with the reference");
}

template <typename Char>
bool referenceBlocked(std::basic_string_view<Char> name)
{
    const auto upcase = [](Char c) { return LoaderGuard::upcase(c); };
    for (const BlockListEntry& entry : kDllBlockList) {
        std::basic_string<Char> row;
        for (const char* c = entry.ansiName; *c != 0; ++c)
            row += static_cast<Char>(static_cast<unsigned char>(*c));
        if (entry.isPattern ? referenceMatch(std::basic_string_view<Char>(row), name, upcase)
                            : row.size() == name.size() &&
                                  std::equal(row.begin(), row.end(), name.begin(),
                                             [&](Char a, Char b) { return *upcase(a) == *upcase(b); }))
            return true;
    }
    return false;
}

template <typename Char>
bool requireBlockListAgrees(const std::basic_string<Char>& path)
{
    // As the guarded loaders ask: about the part after the last separator.
    const std::basic_string_view<Char> part = fileNamePart(path.c_str());
    const std::basic_string_view<Char> whole = untilNul(path);
    const std::size_t separator = whole.find_last_of(std::basic_string<Char>{Char('/'), Char('\\')});
    require(part == (separator == whole.npos ? whole : whole.substr(separator + 1)),
            "the file name part is what follows the last separator");
    const bool blocked = isBlockedDll(part.data(), part.size());
    require(blocked == referenceBlocked(part), "isBlockedDll agrees with the list read row by row");
    return blocked;
}

bool isAscii(const std::wstring& text)
{
    return std::all_of(text.begin(), text.end(), [](wchar_t c) { return c < 0x80; });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Lines: pattern, text, and a character the upcase routine cannot convert.
    Fuzz::TextFields wide(data, size);
    const std::wstring widePattern = wide.wide();
    const std::wstring wideText = wide.wide();
    const std::wstring wideRefused = wide.wide();
    Fuzz::TextFields narrow(data, size);
    const std::string narrowPattern = narrow.bytes();
    const std::string narrowText = narrow.bytes();
    const std::string narrowRefused = narrow.bytes();

    requireMatcherAgrees<wchar_t>(widePattern, wideText, std::nullopt);
    requireMatcherAgrees<char>(narrowPattern, narrowText, std::nullopt);
    if (!wideRefused.empty())
        requireMatcherAgrees<wchar_t>(widePattern, wideText, wideRefused.front());
    if (!narrowRefused.empty())
        requireMatcherAgrees<char>(narrowPattern, narrowText, narrowRefused.front());

    for (const std::wstring* path : {&widePattern, &wideText}) {
        const bool blocked = requireBlockListAgrees(*path);
        if (isAscii(*path)) {
            const std::string ascii(path->begin(), path->end());
            require(requireBlockListAgrees(ascii) == blocked, "narrow and wide names of ASCII text get one verdict");
        }
    }
    requireBlockListAgrees(narrowPattern);
    requireBlockListAgrees(narrowText);
    return 0;
}
