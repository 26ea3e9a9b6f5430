#include "support/test_support.h"
#include "system/win32/admin_mode.h"
#include "system/win32/environment.h"
#include "system/win32/known_paths_win.h"

#include <gtest/gtest.h>

namespace {

using namespace TestSupport;

std::string probe(const std::wstring& question, const std::filesystem::path& program = binDirectory() / L"env_probe.exe")
{
    const ChildResult result = runProgram(program, question);
    EXPECT_EQ(result.exitCode, 0u) << "env_probe " << std::string(question.begin(), question.end());
    return result.output;
}

TEST(KnownPaths, ApplicationPathIsTheRunningProgram)
{
    const std::filesystem::path path = System::Env::KnownPaths::applicationPath().str();
    EXPECT_EQ(path.filename(), L"system_test.exe");
    EXPECT_EQ(path.parent_path(), binDirectory());
    EXPECT_EQ(System::Env::KnownPaths::applicationDirectory().str(), binDirectory().wstring());
}

TEST(KnownPaths, TempFolderIsAnAbsoluteFolderWithoutTrailingSeparator)
{
    const System::Path temp = System::Env::KnownPaths::tempFolder();
    EXPECT_FALSE(temp.isRelative());
    EXPECT_NE(temp.str().back(), L'\\');
    EXPECT_TRUE(std::filesystem::is_directory(temp.str()));
}

// Wine refuses a TMP longer than MAX_PATH; env_probe answers GetTempPathW as
// Windows does for one: the size it needs, nothing written.
TEST(KnownPaths, TempFolderLongerThanTheBufferComesBackWhole)
{
    for (const std::size_t length : {std::size_t{260}, std::size_t{1000}}) {
        const std::string expected = "C:\\" + std::string(length - 4, 't');
        EXPECT_EQ(probe(L"long-temp-folder " + std::to_wstring(length)), expected) << length;
    }
}

TEST(AdminMode, WineProcessIsAnAdministrator)
{
    EXPECT_TRUE(isAppRunningInAdminMode());
}

TEST(AdminMode, RestrictedTokenIsNot)
{
    const auto token = nonAdministratorToken();
    ASSERT_TRUE(::ImpersonateLoggedOnUser(token.get()));
    const bool admin = isAppRunningInAdminMode();
    ::RevertToSelf();
    EXPECT_FALSE(admin);
}

TEST(WineCheck, IsTrueUnderWine)
{
    EXPECT_TRUE(System::Env::isWine());
    EXPECT_EQ(probe(L"wine"), "true");
}

class MacWrapperCheck : public testing::Test {
protected:
    void SetUp() override { ::RegCreateKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Wine", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key_.put(), nullptr); }
    void TearDown() override { ::RegDeleteValueW(key_.get(), L"hlx_mac_wrapper"); }
    void setDword(DWORD value)
    {
        ::RegSetValueExW(key_.get(), L"hlx_mac_wrapper", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                         sizeof(value));
    }
    System::Win32::UniqueRegKey key_;
};

TEST_F(MacWrapperCheck, FollowsTheRegistryValue)
{
    ::RegDeleteValueW(key_.get(), L"hlx_mac_wrapper");
    EXPECT_FALSE(System::Env::isMacWrapper());
    setDword(0);
    EXPECT_FALSE(System::Env::isMacWrapper());
    setDword(1);
    EXPECT_TRUE(System::Env::isMacWrapper());
    EXPECT_EQ(probe(L"mac-wrapper"), "true");
    setDword(2);
    EXPECT_FALSE(System::Env::isMacWrapper());
    ::RegSetValueExW(key_.get(), L"hlx_mac_wrapper", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"1"), 4);
    EXPECT_FALSE(System::Env::isMacWrapper());
}

} // namespace
