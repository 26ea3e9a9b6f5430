#include "log/nano/log_naming.h"

#include <gtest/gtest.h>

#include <set>

namespace {

TEST(LogMutexName, UsesTheFileNameAfterTheLastBackslash)
{
    EXPECT_EQ(Nano::logMutexName(L"C:\\logs\\Host.log"), L"Local\\Host.log");
    EXPECT_EQ(Nano::logMutexName(L"host.log"), L"Local\\host.log");
    // Only the backslash separates, and letter case is kept.
    EXPECT_EQ(Nano::logMutexName(L"C:/logs/Host.LOG"), L"Local\\C:/logs/Host.LOG");
}

// Writers of this build and of later ones meet on the name: it must not drift.
TEST(FileMutexName, IsADigestOfThePathThatFitsAnyLength)
{
    EXPECT_EQ(Nano::fileMutexName(L"C:\\LOGS\\HOST.LOG"), L"Local\\nano-log-142e295cd6c08b5f");
    const std::wstring longPath = L"C:\\" + std::wstring(40000, L'X') + L"\\HOST.LOG";
    const std::wstring name = Nano::fileMutexName(longPath);
    EXPECT_EQ(name.size(), std::wstring(L"Local\\nano-log-").size() + 16);
    EXPECT_EQ(name.find(L'\\', 6), std::wstring::npos);
    EXPECT_NE(name, Nano::fileMutexName(longPath.substr(1)));
    EXPECT_NE(Nano::fileMutexName(L"C:\\LOGS\\HOST.LOG"), Nano::fileMutexName(L"C:\\LOGS\\HOST2.LOG"));
}

TEST(PathParts, LongPathPrefixSplitAndJoin)
{
    EXPECT_EQ(Nano::withoutLongPathPrefix(L"\\\\?\\C:\\logs"), L"C:\\logs");
    EXPECT_EQ(Nano::withoutLongPathPrefix(L"\\\\?\\UNC\\srv\\share\\x"), L"\\\\srv\\share\\x");
    EXPECT_EQ(Nano::withoutLongPathPrefix(L"\\\\srv\\share"), L"\\\\srv\\share");

    using Parts = std::pair<std::wstring_view, std::wstring_view>;
    EXPECT_EQ(Nano::splitFileName(L"C:\\logs\\host.log"), Parts(L"C:\\logs\\", L"host.log"));
    EXPECT_EQ(Nano::splitFileName(L"C:\\logs\\"), Parts(L"C:\\logs\\", L""));
    EXPECT_EQ(Nano::splitFileName(L"host.log"), Parts(L"", L"host.log"));

    // A final path has no trailing backslash, except a root's.
    EXPECT_EQ(Nano::joinFileName(L"C:\\logs", L"host.log"), L"C:\\logs\\host.log");
    EXPECT_EQ(Nano::joinFileName(L"C:\\", L"host.log"), L"C:\\host.log");
}

struct RotationCase {
    const wchar_t* path;
    unsigned long tick;
    unsigned attempt;
    const wchar_t* expected;
};

class RotatedLogPath : public testing::TestWithParam<RotationCase> {};

TEST_P(RotatedLogPath, NamesTheMovedFile)
{
    const RotationCase& c = GetParam();
    EXPECT_EQ(Nano::rotatedLogPath(c.path, c.tick, c.attempt), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Names, RotatedLogPath,
    testing::Values(RotationCase{L"C:\\logs\\host.log", 123456, 0, L"C:\\logs\\host_123456.log"},
                    RotationCase{L"C:\\logs\\host.txt", 123456, 0, L"C:\\logs\\host.txt_123456.log"},
                    // Only the exact ".log" ending is replaced.
                    RotationCase{L"C:\\logs\\host.LOG", 7, 0, L"C:\\logs\\host.LOG_7.log"},
                    RotationCase{L"host", 0, 0, L"host_0.log"},
                    RotationCase{L".log", 5, 0, L"_5.log"},
                    RotationCase{L"C:\\logs\\host.log", 4294967295ul, 0, L"C:\\logs\\host_4294967295.log"},
                    // A second rotation in the same tick gets a name of its own.
                    RotationCase{L"C:\\logs\\host.log", 99, 1, L"C:\\logs\\host_99_1.log"},
                    RotationCase{L"C:\\logs\\host.txt", 99, 12, L"C:\\logs\\host.txt_99_12.log"}));

TEST(FreeRotatedLogPath, SkipsNamesThatAreTaken)
{
    std::set<std::wstring> taken;
    const auto exists = [&](const std::wstring& name) { return taken.count(name) > 0; };
    EXPECT_EQ(Nano::freeRotatedLogPath(L"C:\\l\\host.log", 42, exists), L"C:\\l\\host_42.log");
    taken = {L"C:\\l\\host_42.log", L"C:\\l\\host_42_1.log"};
    EXPECT_EQ(Nano::freeRotatedLogPath(L"C:\\l\\host.log", 42, exists), L"C:\\l\\host_42_2.log");
    EXPECT_TRUE(Nano::freeRotatedLogPath(L"x.log", 1, [](const std::wstring&) { return true; }).empty());
}

} // namespace
