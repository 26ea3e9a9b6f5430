#include "command_line.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

// Expected options, written as a chain: Expect().id(7).admin().log(L"...").
struct Expect : CommandLineOptions {
    Expect& id(std::uint32_t value) { pluginId = value; return *this; }
    Expect& admin() { adminHost = true; return *this; }
    Expect& reg() { regServer = true; return *this; }
    Expect& unreg() { unregServer = true; return *this; }
    Expect& noBlackList() { disableBlackList = true; return *this; }
    Expect& log(std::wstring value) { logPath = std::move(value); return *this; }
};

struct ParseCase {
    const char* name;
    std::vector<std::wstring> arguments;
    CommandLineOptions expected;
};

class ParseCommandLine : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseCommandLine, ReadsTheOptions)
{
    const CommandLineOptions& expected = GetParam().expected;
    const CommandLineOptions options = parseCommandLine(GetParam().arguments);
    EXPECT_EQ(options.pluginId, expected.pluginId);
    EXPECT_EQ(options.adminHost, expected.adminHost);
    EXPECT_EQ(options.regServer, expected.regServer);
    EXPECT_EQ(options.unregServer, expected.unregServer);
    EXPECT_EQ(options.disableBlackList, expected.disableBlackList);
    EXPECT_EQ(options.logPath, expected.logPath);
}

INSTANTIATE_TEST_SUITE_P(
    Valid, ParseCommandLine,
    testing::Values(
        ParseCase{"Empty", {}, Expect()},
        ParseCase{"PluginIdWithEquals", {L"--plugin-id=7"}, Expect().id(7)},
        ParseCase{"PluginIdAsNextArgument", {L"--plugin-id", L"7"}, Expect().id(7)},
        ParseCase{"PluginIdLargest", {L"--plugin-id=4294967295"}, Expect().id(4294967295u)},
        ParseCase{"PluginIdZero", {L"--plugin-id=0"}, Expect().id(0)},
        ParseCase{"PluginIdLeadingZeros", {L"--plugin-id=007"}, Expect().id(7)},
        ParseCase{"Switches", {L"--adminhost", L"--regserver", L"--unregserver", L"--disable-black-list"},
                  Expect().admin().reg().unreg().noBlackList()},
        ParseCase{"UniquePrefix", {L"--admin", L"--reg", L"--unreg", L"--disable", L"--plugin=3"},
                  Expect().id(3).admin().reg().unreg().noBlackList()},
        ParseCase{"LogPath", {L"--logpath", L"C:\\Logs\\tvx plugins.log"}, Expect().log(L"C:\\Logs\\tvx plugins.log")},
        ParseCase{"LogPathNonAscii", {L"--logpath=C:\\J\u00e4ger\\\u65e5\u5fd7.log"},
                  Expect().log(L"C:\\J\u00e4ger\\\u65e5\u5fd7.log")},
        ParseCase{"LogPathEmptyAsNextArgument", {L"--logpath", L""}, Expect()},
        ParseCase{"AdminHostWithPluginId", {L"--adminhost", L"--plugin-id=5"}, Expect().id(5).admin()}),
    [](const testing::TestParamInfo<ParseCase>& info) { return info.param.name; });

struct FailureCase {
    const char* name;
    std::vector<std::wstring> arguments;
};

class ParseCommandLineFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(ParseCommandLineFailure, PrintsTheParserTextAndThrows)
{
    testing::internal::CaptureStdout();
    try {
        parseCommandLine(GetParam().arguments);
        testing::internal::GetCapturedStdout();
        FAIL() << "parsed";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "failed to parse ombrix command line");
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_FALSE(printed.empty());
        EXPECT_EQ(printed.back(), '\n');
    }
}

INSTANTIATE_TEST_SUITE_P(
    Invalid, ParseCommandLineFailure,
    testing::Values(FailureCase{"PluginIdWithoutValue", {L"--plugin-id"}},
                    FailureCase{"PluginIdNotANumber", {L"--plugin-id=abc"}},
                    FailureCase{"PluginIdTooLarge", {L"--plugin-id=4294967296"}},
                    FailureCase{"PluginIdFarTooLarge", {L"--plugin-id=18446744073709551617"}},
                    // An unsigned decimal number has no sign, no blanks and no other base.
                    FailureCase{"PluginIdNegative", {L"--plugin-id=-1"}},
                    FailureCase{"PluginIdNegativeZero", {L"--plugin-id=-0"}},
                    FailureCase{"PluginIdPlusSign", {L"--plugin-id=+1"}},
                    FailureCase{"PluginIdLeadingBlank", {L"--plugin-id= 1"}},
                    FailureCase{"PluginIdTrailingBlank", {L"--plugin-id", L"1 "}},
                    FailureCase{"PluginIdHexadecimal", {L"--plugin-id=0x10"}},
                    FailureCase{"UnknownOption", {L"--verbose"}},
                    FailureCase{"Positional", {L"7"}},
                    FailureCase{"PositionalAfterOptions", {L"--adminhost", L"extra"}},
                    FailureCase{"LogPathEmptyAfterEquals", {L"--logpath="}},
                    FailureCase{"GivenTwice", {L"--plugin-id=1", L"--plugin-id=2"}},
                    FailureCase{"LogPathWithoutValue", {L"--logpath"}},
                    FailureCase{"CaseSensitive", {L"--AdminHost"}},
                    FailureCase{"SwitchWithValue", {L"--adminhost=1"}},
                    // The parser's own error text fills in these placeholders until none is left.
                    FailureCase{"ValueHoldsThePlaceholderOfItsErrorText", {L"--plugin-id=%value%"}},
                    FailureCase{"OptionHoldsThePlaceholderOfItsErrorText", {L"--%canonical_option%"}}),
    [](const testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

TEST(ParseCommandLine, ReadsBackThePluginHostLineTheAdminHostComposes)
{
    const std::wstring line = composePluginHostCommandLine(12, L"C:\\Program Files\\Tvx\\logs\\plugins.log", true);
    EXPECT_EQ(line, L"--plugin-id=12 --logpath=\"C:\\Program Files\\Tvx\\logs\\plugins.log\" --disable-black-list");

    std::vector<std::wstring> arguments = splitCommandLine(L"ombrix.exe " + line);
    ASSERT_EQ(arguments.size(), 4u);
    arguments.erase(arguments.begin());
    const CommandLineOptions options = parseCommandLine(arguments);
    EXPECT_EQ(options.pluginId, 12u);
    EXPECT_EQ(options.logPath, L"C:\\Program Files\\Tvx\\logs\\plugins.log");
    EXPECT_TRUE(options.disableBlackList);
    EXPECT_FALSE(options.adminHost);
}

class LogPathRoundTrip : public testing::TestWithParam<const wchar_t*> {};

// A trailing backslash would escape a plain closing quote and swallow the options after it.
TEST_P(LogPathRoundTrip, ThePluginHostReadsBackTheAdminHostsLogPath)
{
    std::vector<std::wstring> arguments =
        splitCommandLine(L"ombrix.exe " + composePluginHostCommandLine(4, GetParam(), true));
    ASSERT_EQ(arguments.size(), 4u);
    arguments.erase(arguments.begin());
    const CommandLineOptions options = parseCommandLine(arguments);
    EXPECT_EQ(options.logPath, GetParam());
    EXPECT_EQ(options.pluginId, 4u);
    EXPECT_TRUE(options.disableBlackList);
}

INSTANTIATE_TEST_SUITE_P(Paths, LogPathRoundTrip,
                         testing::Values(L"C:\\Program Files\\Tvx\\logs\\plugins.log", L"C:\\logs\\",
                                         L"C:\\logs\\\\", L"\\\\server\\share\\", L"C:\\a \"quoted\" name.log",
                                         L"C:\\odd\\\"quote\\\\\"", L"C:\\J\u00e4ger\\\u65e5\u5fd7.log", L"\\"));

TEST(ComposePluginHostCommandLine, LeavesOutAnEmptyLogPathAndAnEnabledBlockList)
{
    EXPECT_EQ(composePluginHostCommandLine(0, L"", false), L"--plugin-id=0");
}

TEST(SplitCommandLine, FollowsTheWindowsArgumentRules)
{
    EXPECT_EQ(splitCommandLine(L"a.exe  --logpath \"C:\\a b\\c.log\" x\\\"y"),
              (std::vector<std::wstring>{L"a.exe", L"--logpath", L"C:\\a b\\c.log", L"x\"y"}));
    EXPECT_EQ(splitCommandLine(L"\"C:\\Program Files\\ombrix.exe\""),
              (std::vector<std::wstring>{L"C:\\Program Files\\ombrix.exe"}));
}

} // namespace
