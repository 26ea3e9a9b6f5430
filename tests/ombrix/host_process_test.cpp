// The host as the launcher sees it: a real ombrix.exe process, its exit code,
// its standard output and its log file.
#include "support/test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <gsl/util>

#include <algorithm>
#include <cstring>
#include <map>
#include <regex>
#include <thread>

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

    // The host's own lines; crash reporting's, which come through its log sink,
    // are in crashReportingMessages.
    std::vector<std::string> logMessages() const { return messages(false); }
    std::vector<std::string> crashReportingMessages() const { return messages(true); }
    static bool fromCrashReporting(const std::string& line)
    {
        return line.find(" | ombrix/crash_reporting_parameters.cpp | ") != std::string::npos;
    }

    // A copy of the host one folder down, so that this folder is its parent,
    // where it looks for the crash-reporting library and custom_config.xml.
    std::filesystem::path hostOneFolderDown()
    {
        std::filesystem::create_directory(dir_ / L"bin");
        std::filesystem::copy_file(binDirectory() / L"ombrix.exe", dir_ / L"bin" / L"ombrix.exe");
        return dir_ / L"bin" / L"ombrix.exe";
    }

    TempDir dir_;
    std::filesystem::path log_ = dir_ / L"host.log";

private:
    std::vector<std::string> messages(bool crashReporting) const
    {
        const std::vector<std::string> lines = readLogLines(log_);
        const std::vector<std::string> all = readLogMessages(log_);
        std::vector<std::string> chosen;
        for (std::size_t i = 0; i < lines.size(); ++i)
            if (fromCrashReporting(lines[i]) == crashReporting)
                chosen.push_back(all[i]);
        return chosen;
    }
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
    std::vector<std::string> lines = readLogLines(log_);
    // Here crash reporting finds no library: its lines, warnings, come first.
    const auto own = std::find_if_not(lines.begin(), lines.end(), fromCrashReporting);
    ASSERT_EQ(lines.end() - own, 1);
    const std::string header = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d - \| )";
    const std::string thread = R"( \| th\(0x[0-9A-F]{8}\) \| pid\(0x[0-9A-F]{8}\) \| )";
    const std::regex layout(header + "2" + thread +
                            R"(ombrix/ombrix\.cpp \| wWinMain \| \d+ \| Process is in 'admin mode': true)");
    EXPECT_TRUE(std::regex_match(*own, layout)) << *own;
    const std::regex sinkLayout(header + "1" + thread +
                                R"(ombrix/crash_reporting_parameters\.cpp \| crashReportingParameters::<lambda> \| \d+ \| )"
                                R"(VESK monitor initialization failure, code: 0)");
    EXPECT_TRUE(std::any_of(lines.begin(), own, [&](const std::string& l) { return std::regex_match(l, sinkLayout); }))
        << "no line of crash reporting's failed start";
}

TEST_F(HostProcess, WithoutALauncherBindingFailsWithSix)
{
    const ChildResult result = run(L"--plugin-id=7 " + logArgument());
    EXPECT_EQ(result.exitCode, 6u);
    EXPECT_THAT(logMessages(), ElementsAre(kAdminModeTrue, "initalizing 'ombrix' system for plugin_id = 7",
                                           "cannot get a plugin-system object from ROT, HRESULT = 0x800401e3"));
}

TEST_F(HostProcess, AdminHostRegistrationFailureExitsWithSeven)
{
    const ChildResult result = run(L"--adminhost --plugin-id=7 " + logArgument());
    EXPECT_EQ(result.exitCode, 7u);
    EXPECT_THAT(logMessages(),
                ElementsAre(kAdminModeTrue, "cannot get a plugin-system object from ROT, HRESULT = 0x800401e3"));
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

namespace {

constexpr wchar_t kAppIdKey[] = L"SOFTWARE\\Classes\\AppID\\{50F0F57E-A2A7-40DB-9271-20C71046A9A7}";
constexpr wchar_t kLauncherAppIdKey[] = L"SOFTWARE\\Classes\\AppID\\tvx.exe";
const wchar_t* const kProxyStubIids[] = {
    L"{74A0E1FA-77D7-4261-A140-E30135F5B253}", L"{41F2ED58-C7A8-43D8-8F5A-E15229560913}",
    L"{6AD7B3A0-C3A6-4A1A-ACFE-8917F06AA7DC}", L"{C8452F94-4761-47C0-B8A5-004397B56BA9}",
    L"{9844E5BC-2DB1-4408-9A55-B574353DCC4F}"};

std::wstring readString(HKEY root, const std::wstring& key, const wchar_t* value)
{
    wchar_t data[1024] = {};
    DWORD size = sizeof(data);
    if (::RegGetValueW(root, key.c_str(), value, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
        return L"(absent)";
    return data;
}

bool keyExists(HKEY root, const std::wstring& key)
{
    System::Win32::UniqueRegKey handle;
    return ::RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, handle.put()) == ERROR_SUCCESS;
}

// The party that asks for a registration: it creates the started event, and
// acknowledges once the host has signalled it.
class RegistrationPeer {
public:
    RegistrationPeer()
        : started_(::CreateEventW(nullptr, TRUE, FALSE, L"E7932CE2-CC1F-4B97-98CA-1C06EDDD3F71"))
        , thread_([this] {
            if (::WaitForSingleObject(started_.get(), 60000) != WAIT_OBJECT_0)
                return;
            signalled = true;
            System::Win32::UniqueHandle ack(::OpenEventW(EVENT_MODIFY_STATE, FALSE, L"CF65E0DF-C456-48D6-917D-C3061502981D"));
            acknowledged = ack && ::SetEvent(ack.get());
        })
    {
    }
    ~RegistrationPeer()
    {
        if (!signalled)
            ::SetEvent(started_.get());
        thread_.join();
    }

    std::atomic<bool> signalled{false};
    std::atomic<bool> acknowledged{false};

private:
    System::Win32::UniqueHandle started_;
    std::thread thread_;
};

class Registration : public HostProcess {
protected:
    void SetUp() override { clean(); }
    void TearDown() override { clean(); }

    static void clean()
    {
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kAppIdKey);
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kLauncherAppIdKey);
        for (const wchar_t* iid : kProxyStubIids)
            ::RegDeleteTreeW(HKEY_CLASSES_ROOT, (std::wstring(L"CLSID\\") + iid).c_str());
        System::Win32::UniqueRegKey wine;
        if (::RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Wine", 0, KEY_ALL_ACCESS, wine.put()) == ERROR_SUCCESS)
            ::RegDeleteValueW(wine.get(), L"hlx_mac_wrapper");
    }

    static void setMacWrapper()
    {
        System::Win32::UniqueRegKey wine;
        ::RegCreateKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Wine", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, wine.put(), nullptr);
        const DWORD one = 1;
        ::RegSetValueExW(wine.get(), L"hlx_mac_wrapper", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof(one));
    }

    static bool anyProxyStubClass()
    {
        for (const wchar_t* iid : kProxyStubIids)
            if (keyExists(HKEY_CLASSES_ROOT, std::wstring(L"CLSID\\") + iid))
                return true;
        return false;
    }
};

TEST_F(Registration, MachineWideWritesTheApplicationIdAndCompletesTheHandshake)
{
    RegistrationPeer peer;
    const ChildResult result = run(L"--regserver " + logArgument());
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_TRUE(peer.signalled);
    EXPECT_TRUE(peer.acknowledged);
    EXPECT_THAT(logMessages(), ElementsAre(kAdminModeTrue, "plugin sys COM server was successfully registered, as admin: true",
                                           "Registered plugin host process, exit"));
    EXPECT_EQ(readString(HKEY_LOCAL_MACHINE, kAppIdKey, L"RunAs"), L"Interactive User");
    EXPECT_EQ(readString(HKEY_LOCAL_MACHINE, kLauncherAppIdKey, L"AppID"), L"{50F0F57E-A2A7-40DB-9271-20C71046A9A7}");
    EXPECT_FALSE(anyProxyStubClass());
}

TEST_F(Registration, PerUserWritesNothingAndCompletesTheHandshake)
{
    RegistrationPeer peer;
    const auto token = nonAdministratorToken();
    const ChildResult result = run(L"--regserver " + logArgument(), token.get());
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_TRUE(peer.acknowledged);
    EXPECT_THAT(logMessages(), ElementsAre("Process is in 'admin mode': false",
                                           "plugin sys COM server was successfully registered, as admin: false",
                                           "Registered plugin host process, exit"));
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kAppIdKey));
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kLauncherAppIdKey));
    EXPECT_FALSE(anyProxyStubClass());
}

// Wine is the compatibility layer here: with the wrapper's value set, the
// proxy/stub classes of the manifest are registered as well.
TEST_F(Registration, MacWrapperRegistersTheProxyStubClasses)
{
    setMacWrapper();
    {
        RegistrationPeer peer;
        EXPECT_EQ(run(L"--regserver " + logArgument()).exitCode, 0u);
    }
    const std::wstring proxyStub = (binDirectory() / L"ombrixPS.dll").wstring();
    const std::pair<const wchar_t*, const wchar_t*> names[] = {
        {kProxyStubIids[0], L"IUpdatePluginEvents"}, {kProxyStubIids[1], L"IUpdatePlugin"},
        {kProxyStubIids[2], L"IAdminHostProcess"}, {kProxyStubIids[3], L"IPluginSystemEvents"},
        {kProxyStubIids[4], L"IPluginSystem"}};
    for (const auto& [iid, name] : names) {
        const std::wstring key = std::wstring(L"CLSID\\") + iid;
        EXPECT_EQ(readString(HKEY_CLASSES_ROOT, key, nullptr), name);
        EXPECT_EQ(readString(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", nullptr), proxyStub);
        EXPECT_EQ(readString(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
    }

    EXPECT_EQ(run(L"--unregserver " + logArgument()).exitCode, 0u);
    EXPECT_FALSE(anyProxyStubClass());
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kAppIdKey));
}

TEST_F(Registration, WithoutAPeerTheRegistrationFails)
{
    const ChildResult result = run(L"--regserver " + logArgument());
    EXPECT_EQ(result.exitCode, 3u);
    EXPECT_THAT(logMessages(),
                ElementsAre(kAdminModeTrue, "plugin sys COM server was successfully registered, as admin: true",
                            "failed to open named event E7932CE2-CC1F-4B97-98CA-1C06EDDD3F71 to synchronize",
                            "error: std exception - failed to register server via --regserver"));
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, kAppIdKey));
}

TEST_F(Registration, UnregisterWinsOverRegister)
{
    {
        RegistrationPeer peer;
        ASSERT_EQ(run(L"--regserver").exitCode, 0u);
    }
    const ChildResult result = run(L"--regserver --unregserver " + logArgument());
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_THAT(logMessages(), ElementsAre(kAdminModeTrue, "Unregistered plugin host process, exit"));
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kAppIdKey));
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kLauncherAppIdKey));
}

TEST_F(Registration, MachineWideUnregistrationNeedsTheApplicationIdAndKeepsTheRest)
{
    System::Win32::UniqueRegKey launcher;
    ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kLauncherAppIdKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, launcher.put(), nullptr);
    const ChildResult result = run(L"--unregserver " + logArgument());
    EXPECT_EQ(result.exitCode, 3u);
    EXPECT_THAT(logMessages(),
                ElementsAre(kAdminModeTrue, "error: std exception - failed to unregister server via --regserver"));
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, kLauncherAppIdKey));
}

TEST_F(Registration, PerUserUnregistrationAlwaysSucceeds)
{
    const auto token = nonAdministratorToken();
    EXPECT_EQ(run(L"--unregserver " + logArgument(), token.get()).exitCode, 0u);
}

// The loader guard as a live host has it: the host is held inside the
// registration handshake while the test reads the LoadLibrary entry points in
// its memory. System DLLs map at the same address in every process, and this
// process hooks nothing, so its own bytes are the untouched ones. Under Wine the
// kernel32 exports jump on into kernelbase, where the hook may sit instead.
TEST_F(Registration, LoaderEntryPointsAreHookedUnlessTheBlockListIsDisabled)
{
    struct Case {
        const wchar_t* arguments;
        bool hooked;
    };
    for (const Case& c : {Case{L"--regserver", true}, Case{L"--regserver --disable-black-list", false}}) {
        SCOPED_TRACE(testing::Message() << "with " << std::string(c.arguments, c.arguments + std::wcslen(c.arguments)));
        const System::Win32::UniqueHandle started(
            ::CreateEventW(nullptr, TRUE, FALSE, L"E7932CE2-CC1F-4B97-98CA-1C06EDDD3F71"));
        const System::Win32::UniqueHandle host = startProgram(binDirectory() / L"ombrix.exe", c.arguments);
        // A failed check must not leave the host waiting for its acknowledgement.
        const auto endHost = gsl::finally([&] { ::TerminateProcess(host.get(), 99); });
        const HANDLE handshakeOrEnd[] = {started.get(), host.get()};
        ASSERT_EQ(::WaitForMultipleObjects(2, handshakeOrEnd, FALSE, 60000), WAIT_OBJECT_0);

        for (const char* name : {"LoadLibraryA", "LoadLibraryW", "LoadLibraryExA", "LoadLibraryExW"}) {
            bool patched = false;
            for (const wchar_t* module : {L"kernel32", L"kernelbase"}) {
                const auto* code =
                    reinterpret_cast<const unsigned char*>(::GetProcAddress(::GetModuleHandleW(module), name));
                ASSERT_NE(code, nullptr) << name;
                unsigned char inHost[16] = {};
                SIZE_T read = 0;
                ASSERT_TRUE(::ReadProcessMemory(host.get(), code, inHost, sizeof(inHost), &read)) << name;
                patched = patched || std::memcmp(inHost, code, sizeof(inHost)) != 0;
            }
            EXPECT_EQ(patched, c.hooked) << name;
        }

        const System::Win32::UniqueHandle acknowledged(
            ::OpenEventW(EVENT_MODIFY_STATE, FALSE, L"CF65E0DF-C456-48D6-917D-C3061502981D"));
        ASSERT_TRUE(acknowledged && ::SetEvent(acknowledged.get()));
        ASSERT_EQ(::WaitForSingleObject(host.get(), 60000), WAIT_OBJECT_0);
        DWORD exitCode = 1;
        ::GetExitCodeProcess(host.get(), &exitCode);
        EXPECT_EQ(exitCode, 0u);
    }
}

} // namespace

#include "support/monitor_client_standin.h"

namespace {

// The crash-reporting library lies in the parent of the host's folder: the host
// is copied into a layout of that shape, with or without the stand-in.
struct CrashReportingCase {
    const char* name;
    bool library;
    bool disableBlackList;
    friend void PrintTo(const CrashReportingCase& c, std::ostream* os) { *os << c.name; }
};

class HostCrashReporting : public HostProcess, public testing::WithParamInterface<CrashReportingCase> {
protected:
    HostCrashReporting()
    {
        if (GetParam().library)
            std::filesystem::copy_file(standinDirectory() / L"monitor_client_impl.dll",
                                       dir_ / L"monitor_client_impl.dll");
    }

    std::filesystem::path host_ = hostOneFolderDown();
};

// The first bytes of LoadLibraryW in this process, where no guard is installed,
// as the stand-in writes them.
std::vector<std::string> pristineLoaderLines()
{
    std::vector<std::string> lines;
    for (const wchar_t* module : {L"kernel32.dll", L"kernelbase.dll"}) {
        const auto* code = reinterpret_cast<const unsigned char*>(::GetProcAddress(::GetModuleHandleW(module), "LoadLibraryW"));
        std::string line = std::string(module == std::wstring(L"kernel32.dll") ? "kernel32" : "kernelbase") + "!LoadLibraryW";
        for (int i = 0; code != nullptr && i < 16; ++i) {
            char hex[4];
            std::snprintf(hex, sizeof(hex), " %02X", code[i]);
            line += hex;
        }
        lines.push_back(line);
    }
    return lines;
}

TEST_P(HostCrashReporting, StartsTheLibraryFromTheParentFolderAfterTheLoaderGuard)
{
    const StandinRecord record;
    const ScopedEnvironment probe(L"OMBRIX_STANDIN_PROBE_LOADER", L"1");
    const ChildResult result = runProgram(host_, (GetParam().disableBlackList ? L"--disable-black-list " : L"") + logArgument());
    EXPECT_EQ(result.exitCode, 3u);
    EXPECT_THAT(logMessages(), ElementsAre(kAdminModeTrue));
    // Crash reporting's own lines reach the host's log.
    EXPECT_THAT(crashReportingMessages(), testing::Contains(GetParam().library
                                                                ? "[VESK] stand-in started"
                                                                : "VESK monitor initialization failure, code: 0"));

    const std::vector<std::string> lines = record.lines();
    if (!GetParam().library) {
        EXPECT_THAT(lines, IsEmpty());
        return;
    }
    const std::string base = dir_.path().string();
    EXPECT_THAT(lines, testing::Contains("CI_SetAppVersion #2 \"26.00.02.1046\""));
    EXPECT_THAT(lines, testing::Contains("CI_SetClientExecutable #2 \"" + host_.string() + "\""));
    const std::regex installationId(R"(CI_InsertCustomClientData #2 "installation_id" "[0-9a-zA-Z]{40}")");
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [&](const std::string& l) { return std::regex_match(l, installationId); }),
              1);
    EXPECT_THAT(lines, testing::Contains("CI_InsertCustomClientData #2 \"process_failure_severity\" \"Major\""));
    EXPECT_THAT(lines, testing::Contains("C_SetReportsWorkingFolder #1 \"" + base + "\\vesk\""));
    EXPECT_THAT(lines, testing::Contains("FA_SetDirectory #14 \"" + base + "\\logs\""));
    // Every setter of the configuration (no monitor plug-ins), seven events; then
    // start, and the host's return shuts it down.
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("C_", 0) == 0; }),
              25 + 7);
    // The status comes from the library's own thread: before or after the host
    // freed the configuration, but before the shutdown.
    ASSERT_GE(lines.size(), 4u);
    EXPECT_THAT(std::vector<std::string>(lines.end() - 3, lines.end()),
                ElementsAre("TerminateLib", "UnregisterCallback 101", "UnregisterCallback 102"));
    EXPECT_THAT(std::vector<std::string>(lines.begin(), lines.end() - 3), testing::Contains("status 7"));

    // Installed before crash reporting starts, unless switched off.
    const auto initialised = std::find(lines.begin(), lines.end(), "InitLib_Dyn #1 (null) 0");
    ASSERT_GE(std::distance(initialised, lines.end()), 3);
    const std::vector<std::string> loader(initialised + 1, initialised + 3);
    if (GetParam().disableBlackList)
        EXPECT_EQ(loader, pristineLoaderLines());
    else
        EXPECT_NE(loader, pristineLoaderLines());
}

INSTANTIATE_TEST_SUITE_P(Cases, HostCrashReporting,
                         testing::Values(CrashReportingCase{"WithLibrary", true, false},
                                         CrashReportingCase{"WithLibraryWithoutLoaderGuard", true, true},
                                         CrashReportingCase{"WithoutLibrary", false, false}),
                         [](const testing::TestParamInfo<CrashReportingCase>& info) { return info.param.name; });

// A custom_config.xml beyond the reader's limits in the host's base folder
// (the parent of its own): the host starts as without one, and its log says
// why the file was ignored. Ten thousand levels once overflowed the parser's
// stack before the host logged anything.
struct CustomConfigCase {
    const char* name;
    std::string (*content)();
    const char* line;
    friend void PrintTo(const CustomConfigCase& c, std::ostream* os) { *os << c.name; }
};

class HostCustomConfig : public HostProcess, public testing::WithParamInterface<CustomConfigCase> {
protected:
    HostCustomConfig()
    {
        writeFile(dir_ / L"custom_config.xml", GetParam().content());
    }

    std::filesystem::path host_ = hostOneFolderDown();
};

TEST_P(HostCustomConfig, BeyondTheLimitsIsIgnoredWithItsLine)
{
    const ChildResult result = runProgram(host_, logArgument());
    EXPECT_EQ(result.exitCode, 3u);
    EXPECT_THAT(logMessages(), ElementsAre(kAdminModeTrue));
    EXPECT_THAT(crashReportingMessages(), testing::Contains(GetParam().line));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostCustomConfig,
    testing::Values(CustomConfigCase{"TenThousandDeep",
                                     [] {
                                         std::string text = "<cereal>";
                                         for (int i = 0; i < 10'000; ++i)
                                             text += "<a>";
                                         for (int i = 0; i < 10'000; ++i)
                                             text += "</a>";
                                         return text + "</cereal>";
                                     },
                                     "Unable to load custom config: the file is nested deeper than 64 elements"},
                    CustomConfigCase{"OverTheSizeLimit", [] { return std::string(256 * 1024 + 1, ' '); },
                                     "Unable to load custom config: the file is 262145 bytes, more than the limit "
                                     "of 262144"}),
    [](const testing::TestParamInfo<CustomConfigCase>& info) { return info.param.name; });

} // namespace

// A log path the log cannot use changes nothing but the log: the host runs its
// mode to the exit code and output it has with a good path. A trailing
// separator leaves the file's mutex no name; that once ended the host in
// std::terminate, whose abort also exits with 3, so the modes here exit otherwise.
namespace {

struct UnusableLogCase {
    const char* name;
    // The --logpath value; `held` keeps what the case needs alive during the run.
    std::wstring (*prepare)(const std::filesystem::path& dir, const std::filesystem::path& log,
                            System::Win32::UniqueHandle& held);
    bool linesWritten;
};

void PrintTo(const UnusableLogCase& c, std::ostream* out)
{
    *out << c.name;
}

class HostWithUnusableLog : public HostProcess, public testing::WithParamInterface<UnusableLogCase> {
protected:
    HostWithUnusableLog() { log_ = dir_ / (L"unusable-" + std::to_wstring(::GetCurrentProcessId()) + L".log"); }

    // A backslash before the closing quote would escape it.
    static std::wstring quoted(const std::wstring& path)
    {
        const std::size_t trailing = path.size() - path.find_last_not_of(L'\\') - 1;
        return L"\"" + path + std::wstring(trailing, L'\\') + L"\"";
    }
};

TEST_P(HostWithUnusableLog, RunsItsModeAsWithAGoodLog)
{
    // Host runs are slow under Wine: the good one of each mode is run once.
    static std::map<std::wstring, std::pair<ChildResult, std::vector<std::string>>> goodRuns;
    for (const std::wstring mode : {L"--plugin-id=7", L"--adminhost"}) {
        if (!goodRuns.count(mode)) {
            const ChildResult good = run(mode + L" " + logArgument());
            goodRuns[mode] = {good, logMessages()};
            std::filesystem::remove(log_);
        }
        const auto& [good, goodLines] = goodRuns[mode];
        ASSERT_FALSE(goodLines.empty());

        std::filesystem::remove(log_);
        System::Win32::UniqueHandle held;
        const std::wstring path = GetParam().prepare(dir_.path(), log_, held);
        const ChildResult result = run(mode + L" --logpath=" + quoted(path));
        EXPECT_EQ(result.exitCode, good.exitCode) << mode;
        EXPECT_EQ(result.output, good.output) << mode;
        if (GetParam().linesWritten) {
            EXPECT_EQ(logMessages(), goodLines) << mode;
        }
    }
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_.path()))
        ::SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
}

INSTANTIATE_TEST_SUITE_P(
    LogPaths, HostWithUnusableLog,
    testing::Values(
        UnusableLogCase{"FolderWithTrailingSeparator",
                        [](const std::filesystem::path& dir, const std::filesystem::path&, System::Win32::UniqueHandle&) {
                            std::filesystem::create_directories(dir / L"logs");
                            return (dir / L"logs").wstring() + L"\\";
                        },
                        false},
        UnusableLogCase{"MissingFolder",
                        [](const std::filesystem::path& dir, const std::filesystem::path&, System::Win32::UniqueHandle&) {
                            return (dir / L"missing" / L"host.log").wstring();
                        },
                        false},
        // Wine lets its administrator write a read-only file; Windows refuses.
        UnusableLogCase{"ReadOnlyFile",
                        [](const std::filesystem::path& dir, const std::filesystem::path&, System::Win32::UniqueHandle&) {
                            const std::filesystem::path file = dir / L"read-only.log";
                            if (!std::filesystem::exists(file))
                                writeFile(file, "");
                            ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);
                            return file.wstring();
                        },
                        false},
        // The mutex named after the file cannot be had; the file can, and gets every line.
        UnusableLogCase{"MutexNameHeldByAnEvent",
                        [](const std::filesystem::path&, const std::filesystem::path& log,
                           System::Win32::UniqueHandle& held) {
                            held.reset(::CreateEventW(nullptr, TRUE, FALSE, (L"Local\\" + log.filename().wstring()).c_str()));
                            return log.wstring();
                        },
                        true}),
    [](const testing::TestParamInfo<UnusableLogCase>& info) { return info.param.name; });

} // namespace
