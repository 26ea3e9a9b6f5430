// The installation identifier against Wine's real registry and file system.
// Each case runs a fresh process: the identifier is computed once per process.
#include "err/utf.h"
#include "support/test_support.h"

#include <shlobj.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

using namespace TestSupport;
using testing::HasSubstr;

const std::string kFileId = "FILEID0000000000000000000000000000000001";
const std::string kRegistryId = "regid00000000000000000000000000000000002";

std::filesystem::path commonAppData()
{
    wchar_t folder[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder);
    return folder;
}

class InstallationId : public testing::Test {
protected:
    void SetUp() override { clean(); }
    void TearDown() override { clean(); }

    void clean()
    {
        std::filesystem::remove_all(commonAppData() / L"Tervane");
        ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Hollin.net");
    }

    std::filesystem::path dataDir() const { return commonAppData() / L"Tervane" / L"Arvenna" / L"data"; }
    std::filesystem::path idFile() const { return dataDir() / L"tvx_id.dat"; }

    void setRegistryValue(const std::wstring& value, DWORD type = REG_SZ)
    {
        System::Win32::UniqueRegKey key;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Hollin.net\\Launcher", 0, nullptr, 0,
                                    KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
        ::RegSetValueExW(key.get(), L"installation_id_tvx", 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                         static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }

    void writeIdFile(const std::string& content)
    {
        std::filesystem::create_directories(dataDir());
        writeFile(idFile(), content);
    }

    // Turns the data folder into a file, so that nothing can be written under it.
    void blockDataFolder()
    {
        std::filesystem::create_directories(dataDir().parent_path());
        writeFile(dataDir(), "not a folder");
    }

    std::string probe(const std::wstring& logPath = L"")
    {
        const ChildResult result =
            runProgram(binDirectory() / L"env_probe.exe",
                       L"installation-id" + (logPath.empty() ? L"" : L" \"" + logPath + L"\""));
        EXPECT_EQ(result.exitCode, 0u);
        return result.output;
    }

    static bool isUpperHex(const std::string& id)
    {
        return id.size() == 40 && id.find_first_not_of("0123456789ABCDEF") == std::string::npos;
    }
};

TEST_F(InstallationId, ValidFileIsUsedAsItIs)
{
    writeIdFile(kFileId);
    setRegistryValue(Err::fromUtf8(kRegistryId));
    EXPECT_EQ(probe(), kFileId);
    EXPECT_EQ(readFile(idFile()), kFileId);
}

TEST_F(InstallationId, FileWithALineEndIsReplacedByTheAdoptedValue)
{
    writeIdFile(kFileId + "\r\n");
    setRegistryValue(Err::fromUtf8(kRegistryId));
    EXPECT_EQ(probe(), kRegistryId);
    EXPECT_EQ(readFile(idFile()), kRegistryId);
}

TEST_F(InstallationId, RegistryValueOfFortyCharactersIsAdoptedAndStored)
{
    setRegistryValue(Err::fromUtf8(kRegistryId), REG_EXPAND_SZ);
    EXPECT_EQ(probe(), kRegistryId);
    EXPECT_EQ(readFile(idFile()), kRegistryId);
}

TEST_F(InstallationId, RegistryValuesOfOtherLengthsAreIgnored)
{
    for (const std::string& value : {kRegistryId.substr(1), kRegistryId + "3"}) {
        clean();
        setRegistryValue(Err::fromUtf8(value));
        const std::string id = probe();
        EXPECT_TRUE(isUpperHex(id)) << id;
        EXPECT_EQ(readFile(idFile()), id);
    }
}

TEST_F(InstallationId, AdoptedValueIsKeptWhenItCannotBeStored)
{
    setRegistryValue(Err::fromUtf8(kRegistryId));
    blockDataFolder();
    TempDir logDir;
    const auto log = logDir / L"host.log";
    EXPECT_EQ(probe(log.wstring()), kRegistryId);
    const auto lines = readLogLines(log);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_THAT(lines[0], HasSubstr(" - | 1 | "));
    EXPECT_THAT(lines[0], HasSubstr("Failed to write file " + Err::toUtf8(idFile().wstring())));
}

TEST_F(InstallationId, GeneratedValueThatCannotBeStoredIsUnknown)
{
    blockDataFolder();
    EXPECT_EQ(probe(), "unknown");
}

TEST_F(InstallationId, GeneratedValueIsHexAndSurvivesTheProcess)
{
    const std::string first = probe();
    EXPECT_TRUE(isUpperHex(first)) << first;
    EXPECT_EQ(readFile(idFile()), first);
    EXPECT_EQ(probe(), first);

    clean();
    const std::string other = probe();
    EXPECT_TRUE(isUpperHex(other));
    EXPECT_NE(other, first);
}

// Hosts started together on a machine without the file: one of them creates
// it, the others take its identifier, also while it is still being written.
TEST_F(InstallationId, HostsStartingTogetherAgreeOnOneIdentifier)
{
    constexpr int kHosts = 8;
    const std::wstring gate = L"ombrix-id-gate-" + std::to_wstring(::GetCurrentProcessId());
    const System::Win32::UniqueHandle ready(::CreateSemaphoreW(nullptr, 0, kHosts, (gate + L"-ready").c_str()));
    const System::Win32::UniqueHandle go(::CreateEventW(nullptr, TRUE, FALSE, (gate + L"-go").c_str()));
    ASSERT_TRUE(ready && go);

    std::vector<std::string> ids(kHosts);
    std::vector<std::thread> hosts;
    for (std::string& id : ids)
        hosts.emplace_back([&] {
            id = runProgram(binDirectory() / L"env_probe.exe", L"installation-id-together " + gate).output;
        });
    int waiting = 0;
    while (waiting < kHosts && ::WaitForSingleObject(ready.get(), 60000) == WAIT_OBJECT_0)
        ++waiting;
    ::SetEvent(go.get());
    for (std::thread& host : hosts)
        host.join();

    ASSERT_EQ(waiting, kHosts);
    EXPECT_TRUE(isUpperHex(ids[0])) << ids[0];
    EXPECT_THAT(ids, testing::Each(ids[0]));
    EXPECT_EQ(readFile(idFile()), ids[0]);
}

} // namespace
