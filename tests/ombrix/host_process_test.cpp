// The host as the launcher sees it: a real ombrix.exe process, its exit code,
// its standard output and its log file.
#include "support/test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>

namespace {

using namespace TestSupport;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;

constexpr const char* kAdminModeTrue = "Process is in 'admin mode': true";

class HostProcess : public testing::Test {
protected:
    ChildResult run(const std::wstring& arguments, HANDLE token = nullptr)
    {
        return runProgram(binDirectory() / L"ombrix.exe", arguments, token);
    }
    std::wstring logArgument() const { return L"--logpath=\"" + log_.wstring() + L"\""; }

    // Each line's message: what follows the fourth " | " after the header.
    std::vector<std::string> logMessages() const
    {
        std::vector<std::string> messages;
        for (const std::string& line : readLogLines(log_)) {
            std::size_t at = 0;
            for (int field = 0; field < 7 && at != std::string::npos; ++field)
                at = line.find(" | ", at == 0 ? 0 : at + 3);
            messages.push_back(at == std::string::npos ? line : line.substr(at + 3));
        }
        return messages;
    }

    TempDir dir_;
    std::filesystem::path log_ = dir_ / L"host.log";
};

TEST_F(HostProcess, NoArgumentsExitsWithTwo)
{
    const ChildResult result = run(L"");
    EXPECT_EQ(result.exitCode, 2u);
    EXPECT_THAT(result.output, IsEmpty());
    EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));
}

TEST_F(HostProcess, UnparsableCommandLinePrintsTheParserTextAndLogsNothing)
{
    const ChildResult result = run(logArgument() + L" --verbose");
    EXPECT_EQ(result.exitCode, 2u);
    EXPECT_THAT(result.output, HasSubstr("--verbose"));
    EXPECT_FALSE(std::filesystem::exists(log_));
}

TEST_F(HostProcess, PluginModeWithoutIdExitsWithThreeAfterTheAdminModeLine)
{
    const ChildResult result = run(logArgument());
    EXPECT_EQ(result.exitCode, 3u);
    EXPECT_THAT(logMessages(), ElementsAre(kAdminModeTrue));
}

TEST_F(HostProcess, LogLineHasTheHeaderAndTheCallSiteEnvelope)
{
    run(logArgument());
    const std::vector<std::string> lines = readLogLines(log_);
    ASSERT_EQ(lines.size(), 1u);
    const std::regex layout(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d - \| 2 \| th\(0x[0-9A-F]{8}\) \| pid\(0x[0-9A-F]{8}\) \| )"
                            R"(ombrix/ombrix\.cpp \| wWinMain \| \d+ \| Process is in 'admin mode': true)");
    EXPECT_TRUE(std::regex_match(lines[0], layout)) << lines[0];
}

TEST_F(HostProcess, BindingFailureExitsWithSixWithoutFurtherLines)
{
    const ChildResult result = run(L"--plugin-id=7 " + logArgument());
    EXPECT_EQ(result.exitCode, 6u);
    EXPECT_THAT(logMessages(), ElementsAre(kAdminModeTrue));
}

TEST_F(HostProcess, AdminHostRegistrationFailureExitsWithSeven)
{
    const ChildResult result = run(L"--adminhost --plugin-id=7 " + logArgument());
    EXPECT_EQ(result.exitCode, 7u);
    EXPECT_THAT(logMessages(), ElementsAre(kAdminModeTrue));
}

TEST_F(HostProcess, UnregisterWinsOverRegister)
{
    const ChildResult result = run(L"--regserver --unregserver " + logArgument());
    EXPECT_EQ(result.exitCode, 3u);
    EXPECT_THAT(logMessages(),
                ElementsAre(kAdminModeTrue, "error: std exception - failed to unregister server via --regserver"));
}

TEST_F(HostProcess, FailedRegistrationExitsWithThree)
{
    const ChildResult result = run(L"--regserver " + logArgument());
    EXPECT_EQ(result.exitCode, 3u);
    EXPECT_THAT(logMessages(),
                ElementsAre(kAdminModeTrue, "error: std exception - failed to register server via --regserver"));
}

struct NonAdministratorCase {
    const char* name;
    const wchar_t* arguments;
};

class HostProcessWithoutAdministrator : public HostProcess,
                                        public testing::WithParamInterface<NonAdministratorCase> {};

// Every Wine process is an administrator: the host gets a token with the
// Administrators group for deny only.
TEST_P(HostProcessWithoutAdministrator, AdminHostIsRefusedWithEight)
{
    const auto token = nonAdministratorToken();
    const ChildResult result = run(std::wstring(GetParam().arguments) + L" " + logArgument(), token.get());
    EXPECT_EQ(result.exitCode, 8u);
    EXPECT_THAT(logMessages(), ElementsAre("Process is in 'admin mode': false",
                                           "cannot register AdminHost without administrator access token"));
}

INSTANTIATE_TEST_SUITE_P(Modes, HostProcessWithoutAdministrator,
                         testing::Values(NonAdministratorCase{"AdminHost", L"--adminhost"},
                                         NonAdministratorCase{"RegisterAdminHost", L"--regserver --adminhost"}),
                         [](const testing::TestParamInfo<NonAdministratorCase>& info) { return info.param.name; });

TEST_F(HostProcess, DisabledBlockListStillRunsTheSequence)
{
    const ChildResult result = run(L"--disable-black-list " + logArgument());
    EXPECT_EQ(result.exitCode, 3u);
    EXPECT_THAT(logMessages(), ElementsAre(kAdminModeTrue));
}

} // namespace
