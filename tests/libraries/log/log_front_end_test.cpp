#include "log/log.h"
#include "support/test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <thread>

namespace {

using namespace TestSupport;

// A log statement is part of every error path of the host: none may throw.
static_assert(noexcept(logPrintf(LogLevel::Info, L"x")));
static_assert(noexcept(HOST_LOG(LogLevel::Info, L"x %d", 1)));
static_assert(noexcept(HOST_LOG(LogLevel::Info, withPluginId(1, L"x %d"), 1)));
using testing::EndsWith;
using testing::HasSubstr;

// The log decides once per process whether it has a file; this program's
// whole run logs into one file.
TempDir& logDir()
{
    static TempDir dir;
    return dir;
}

std::filesystem::path logFile()
{
    return logDir() / L"front-end.log";
}

class LogPathEnvironment : public testing::Environment {
public:
    void SetUp() override { setLogPath(logFile().wstring()); }
};

const auto* const environment = testing::AddGlobalTestEnvironment(new LogPathEnvironment);

std::string lastLine()
{
    const auto lines = readLogLines(logFile());
    return lines.empty() ? std::string() : lines.back();
}

// Everything after the header's four fields.
std::string envelope(const std::string& line)
{
    std::size_t at = 0;
    for (int field = 0; field < 4; ++field)
        at = line.find(" | ", at) + 3;
    return line.substr(at);
}

TEST(LogFrontEnd, MessageWithoutPlaceholdersIsWrittenUnchanged)
{
    HOST_LOG(LogLevel::Info, L"initializing plugin...");
    const int line = __LINE__ - 1;
    EXPECT_EQ(envelope(lastLine()),
              "tests/libraries/log/log_front_end_test.cpp | `anonymous-namespace'::"
              "LogFrontEnd_MessageWithoutPlaceholdersIsWrittenUnchanged_Test::TestBody | " +
                  std::to_string(line) + " | initializing plugin...");
    EXPECT_THAT(lastLine(), HasSubstr(" - | 2 | th("));
}

TEST(LogFrontEnd, ValuesAreFormattedByPrintfRulesWithWideStrings)
{
    HOST_LOG(LogLevel::Error, L"got language: %s, count %d, HRESULT = 0x%x", L"de-DE \u00e4", -3, 0x80004005u);
    EXPECT_THAT(lastLine(), EndsWith(" | got language: de-DE \xC3\xA4, count -3, HRESULT = 0x80004005"));
    EXPECT_THAT(lastLine(), HasSubstr(" - | 0 | th("));
}

TEST(LogFrontEnd, DoubledPercentSignIsALiteralOne)
{
    HOST_LOG(LogLevel::Debug, L"100%% done");
    EXPECT_THAT(lastLine(), EndsWith(" | 100% done"));
}

TEST(LogFrontEnd, PluginIdWrapping)
{
    HOST_LOG(LogLevel::Warning, withPluginId(3, L"failed plugin events callback, HRESULT = 0x%x"), 0x80004005u);
    EXPECT_THAT(lastLine(), EndsWith(" | plugin_id: 3 | failed plugin events callback, HRESULT = 0x80004005"));
}

TEST(LogFrontEnd, LevelOutsideTheNamedOnesIsWrittenAsItsNumber)
{
    logPrintf(7, L"seven");
    EXPECT_THAT(lastLine(), HasSubstr(" - | 7 | th("));
    EXPECT_THAT(lastLine(), EndsWith(" | seven"));
}

TEST(LogFrontEnd, NullFormatWritesNothing)
{
    logPrintf(LogLevel::Info, L"marker");
    logPrintf(LogLevel::Info, nullptr);
    EXPECT_THAT(lastLine(), EndsWith(" | marker"));
}

TEST(LogFrontEnd, LongMessagesAreNotCut)
{
    const std::wstring text(100000, L'x');
    logPrintf(LogLevel::Info, L"%s", text.c_str());
    EXPECT_THAT(lastLine(), EndsWith(" | " + std::string(100000, 'x')));
}

TEST(LogFrontEnd, ThreadsLoggingAtOnceWriteWholeLines)
{
    constexpr int kThreads = 4;
    constexpr int kLines = 100;
    const auto before = readLogLines(logFile()).size();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i)
                HOST_LOG(LogLevel::Info, L"thread %d line %d %s", t, i, std::wstring(200, L'=').c_str());
        });
    for (auto& thread : threads)
        thread.join();
    const auto lines = readLogLines(logFile());
    ASSERT_EQ(lines.size(), before + kThreads * kLines);
    const std::regex whole(R"(.* \| thread \d line \d+ ={200})");
    for (std::size_t i = before; i < lines.size(); ++i)
        EXPECT_TRUE(std::regex_match(lines[i], whole)) << lines[i];
}

} // namespace
