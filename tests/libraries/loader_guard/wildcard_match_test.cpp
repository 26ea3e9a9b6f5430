#include "loader_guard/block_list.h"
#include "loader_guard/file_name_part.h"
#include "loader_guard/wildcard_match.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace {

std::optional<wchar_t> asciiUpcase(wchar_t c)
{
    return static_cast<wchar_t>(c >= L'a' && c <= L'z' ? c - L'a' + L'A' : c);
}

struct MatchCase {
    const wchar_t* pattern;
    const wchar_t* text;
    bool matches;
};

class WildcardMatch : public testing::TestWithParam<MatchCase> {};

TEST_P(WildcardMatch, FollowsTheWildcardRules)
{
    EXPECT_EQ(wildcardMatch(GetParam().pattern, std::wstring_view(GetParam().text), asciiUpcase), GetParam().matches);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WildcardMatch,
    testing::Values(MatchCase{L"ltc_game32-*.dll", L"ltc_game32-1.0.dll", true},
                    MatchCase{L"ltc_game32-*.dll", L"LTC_GAME32-1.0.DLL", true},
                    MatchCase{L"ltc_game32-*.dll", L"ltc_game32-.dll", true},
                    MatchCase{L"ltc_game32-*.dll", L"ltc_game32.dll", false},
                    MatchCase{L"ltc_game32-*.dll", L"ltc_game32-1.0.dll.bak", false},
                    MatchCase{L"ltc_game32-*.dll", L"xltc_game32-1.dll", false},
                    MatchCase{L"*", L"", true},
                    MatchCase{L"*", L"anything", true},
                    MatchCase{L"", L"", true},
                    MatchCase{L"", L"a", false},
                    MatchCase{L"a*", L"a", true},
                    // A "*" with more pattern after it needs text to try.
                    MatchCase{L"*a", L"", false},
                    MatchCase{L"*.dll", L".dll", true},
                    MatchCase{L"a?c", L"abc", true},
                    MatchCase{L"a?c", L"ac", false},
                    MatchCase{L"?", L"", false},
                    MatchCase{L"*b*", L"aaabaaa", true},
                    MatchCase{L"*b*c", L"aaabaaa", false}));

TEST(WildcardMatch, NoUpcaseRoutineMeansNoMatch)
{
    const auto none = [](wchar_t) { return std::optional<wchar_t>(); };
    EXPECT_FALSE(wildcardMatch(L"a", std::wstring_view(L"a"), none));
    EXPECT_TRUE(wildcardMatch(L"?*", std::wstring_view(L"ab"), none));
}

TEST(FileNamePart, TakesWhatFollowsTheLastSeparator)
{
    EXPECT_EQ(fileNamePart(L"C:\\Program Files\\X\\RTSSHooks.dll"), L"RTSSHooks.dll");
    EXPECT_EQ(fileNamePart(L"C:/a\\b/fraps.dll"), L"fraps.dll");
    EXPECT_EQ(fileNamePart(L"\\fraps.dll"), L"fraps.dll");
    EXPECT_EQ(fileNamePart(L"fraps.dll"), L"fraps.dll");
    EXPECT_EQ(fileNamePart(L"C:\\dir\\"), L"");
    EXPECT_EQ(fileNamePart("a/b"), "b");
}

TEST(DllBlockList, HasTheSeventyOneRowsWithTwoPatterns)
{
    ASSERT_EQ(std::size(kDllBlockList), 71u);
    EXPECT_STREQ(kDllBlockList[0].ansiName, "SS2DevProps.dll");
    EXPECT_STREQ(kDllBlockList[14].ansiName, "RTSSHooks.dll");
    EXPECT_STREQ(kDllBlockList[70].ansiName, "graphics-hook32.dll");
    EXPECT_STREQ(kDllBlockList[59].ansiName, "rlls64.dll");
    EXPECT_STREQ(kDllBlockList[60].ansiName, "rlls64.dll");
    std::set<std::string> patterns;
    for (const BlockListEntry& entry : kDllBlockList) {
        EXPECT_EQ(std::wstring(entry.wideName), std::wstring(entry.ansiName, entry.ansiName + std::strlen(entry.ansiName)));
        EXPECT_EQ(entry.isPattern, std::strchr(entry.ansiName, '*') != nullptr ? 1 : 0) << entry.ansiName;
        if (entry.isPattern)
            patterns.insert(entry.ansiName);
    }
    EXPECT_EQ(patterns, (std::set<std::string>{"ltc_game32-*.dll", "ltc_help32-*.dll"}));
}

} // namespace
