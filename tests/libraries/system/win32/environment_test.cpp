#include "support/test_support.h"
#include "system/win32/admin_mode.h"
#include "system/win32/known_paths_win.h"

#include <gtest/gtest.h>

namespace {

TEST(KnownPaths, ApplicationPathIsTheRunningProgram)
{
    const std::filesystem::path path = System::Env::KnownPaths::applicationPath();
    EXPECT_EQ(path.filename(), L"system_test.exe");
    EXPECT_EQ(path.parent_path(), TestSupport::binDirectory());
}

// Every Wine process runs with the Administrators group enabled.
TEST(AdminMode, WineProcessIsAnAdministrator)
{
    EXPECT_TRUE(isAppRunningInAdminMode());
}

} // namespace
