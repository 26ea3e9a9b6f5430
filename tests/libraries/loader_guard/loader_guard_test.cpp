// The installed guard, each case in a process of its own (hooks stay for the
// life of a process): the real LoadLibrary entry points of the process refuse
// the blocked DLLs.
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace {

using namespace TestSupport;

class InstalledGuard : public testing::TestWithParam<const wchar_t*> {};

TEST_P(InstalledGuard, Case)
{
    TempDir dir;
    for (const wchar_t* name : {L"RTSSHooks.dll", L"rtsshooks.dll", L"ltc_game32-1.0.dll", L"RTSSHooks.dll.bak",
                                L"ltc_game32.dll", L"fraps.dll"})
        std::filesystem::copy_file(binDirectory() / L"test_library.dll", dir / name,
                                   std::filesystem::copy_options::overwrite_existing);
    const ChildResult result =
        runProgram(binDirectory() / L"guard_probe.exe", std::wstring(GetParam()) + L" \"" + dir.path().wstring() + L"\"");
    EXPECT_EQ(result.exitCode, 0u) << result.output;
}

INSTANTIATE_TEST_SUITE_P(Cases, InstalledGuard,
                         testing::Values(L"blocked-names", L"system-modules", L"entry-points", L"spinning-thread", L"engine",
                                         L"thread-in-patched-bytes"),
                         [](const auto& info) {
                             std::string name(info.param, info.param + std::wcslen(info.param));
                             for (char& c : name)
                                 if (c == '-')
                                     c = '_';
                             return name;
                         });

} // namespace
