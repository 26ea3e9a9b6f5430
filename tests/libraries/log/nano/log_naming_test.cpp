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
