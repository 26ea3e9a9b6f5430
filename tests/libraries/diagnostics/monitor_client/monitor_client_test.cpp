// The binding against the stand-in library: loading, the conversion the
// library sees, start results, shutdown and the process handlers.
#include "diagnostics/generate_configuration.h"
#include "diagnostics/monitor_client/monitor_client.h"
#include "diagnostics/monitor_client/process_handlers.h"
#include "diagnostics/monitor_client/to_c_struct.h"
#include "support/monitor_client_standin.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <mutex>

namespace {

using namespace TestSupport;
using MonitorClient::ClientLibStatus;
using MonitorClient::LogSeverity;
using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::HasSubstr;
using testing::IsEmpty;

// What the binding reports through its two callbacks.
struct Observed {
    std::mutex lock;
    std::vector<std::pair<LogSeverity, std::wstring>> log;
    std::vector<std::pair<int, int>> statuses;

    ClientLibStatus start(VESK::Configuration configuration, const wchar_t* directory)
    {
        return MonitorClient::start(
            std::move(configuration),
            [this](LogSeverity severity, const std::wstring& text) {
                const std::lock_guard guard(lock);
                log.emplace_back(severity, text);
            },
            [this](int previous, int current) {
                const std::lock_guard guard(lock);
                statuses.emplace_back(previous, current);
            },
            nullptr, directory);
    }
};

class MonitorClientTest : public testing::Test {
protected:
    void TearDown() override { MonitorClient::shutdown(); }

    StandinRecord record_;
    ScopedEnvironment noStatuses_{L"OMBRIX_STANDIN_STATUSES", L"none"};
    Observed observed_;
};

std::wstring standinFile()
{
    return (standinDirectory() / L"monitor_client_impl.dll").wstring();
}

bool standinLoaded()
{
    return ::GetModuleHandleW(standinFile().c_str()) != nullptr;
}

struct LoadCase {
    const char* name;
    std::function<std::wstring(const TempDir&)> directory; // returns "(null)" for a null argument
    std::function<std::wstring(const TempDir&)> loggedPath;
    ClientLibStatus status;
    std::wstring (*line)(const std::wstring& path);
    LogSeverity severity;
    friend void PrintTo(const LoadCase& c, std::ostream* os) { *os << c.name; }
};

class Loading : public MonitorClientTest, public testing::WithParamInterface<LoadCase> {};

std::wstring loadedLine(const std::wstring& path)
{
    return L"VESK library=\"" + path + L"\" was successfully loaded. API version = 3";
}
std::wstring notFoundLine(const std::wstring& path)
{
    return L"Unable to load VESK library=\"" + path + L"\". Error:126";
}
std::wstring badImageLine(const std::wstring& path)
{
    return L"Unable to load VESK library=\"" + path + L"\". Error:193";
}
std::wstring missingFunctionLine(const std::wstring& path)
{
    return L"Unable to load VESK library=\"" + path + L"\"";
}

TEST_P(Loading, FindsTheLibraryByTheDirectoryRules)
{
    const TempDir dir;
    TestSupport::writeFile(dir / L"monitor_client_impl.dll", "MZ but not a program");
    std::filesystem::create_directory(dir / L"empty");
    std::filesystem::create_directory(dir / L"no functions");
    std::filesystem::copy_file(binDirectory() / L"test_library.dll", dir / L"no functions" / L"monitor_client_impl.dll");

    const std::wstring directory = GetParam().directory(dir);
    const ClientLibStatus status =
        observed_.start(VESK::Configuration{}, directory == L"(null)" ? nullptr : directory.c_str());
    EXPECT_EQ(status, GetParam().status);
    ASSERT_FALSE(observed_.log.empty());
    EXPECT_EQ(observed_.log.front(),
              std::make_pair(GetParam().severity, GetParam().line(GetParam().loggedPath(dir))));
    if (status == ClientLibStatus::Loaded) {
        EXPECT_TRUE(standinLoaded());
        // Loaded already: at once, and without a word.
        const std::size_t lines = observed_.log.size();
        EXPECT_EQ(MonitorClient::load(L"C:\\nowhere"), ClientLibStatus::Loaded);
        EXPECT_EQ(observed_.log.size(), lines);
    } else {
        // A failed load releases at once and tells the status callback.
        EXPECT_THAT(observed_.log, testing::SizeIs(1));
        EXPECT_THAT(observed_.statuses, ElementsAre(std::make_pair(0, 1)));
        EXPECT_THAT(record_.lines(), IsEmpty());
    }
}

const auto standin = [](const TempDir&) { return standinDirectory().wstring(); };
const auto standinDll = [](const TempDir&) { return standinFile(); };

INSTANTIATE_TEST_SUITE_P(
    Cases, Loading,
    testing::Values(
        LoadCase{"DirectoryWithoutSeparator", standin, standinDll, ClientLibStatus::Loaded, loadedLine,
                 LogSeverity::Info},
        LoadCase{"DirectoryWithBackslash", [](const TempDir&) { return standinDirectory().wstring() + L"\\"; },
                 standinDll, ClientLibStatus::Loaded, loadedLine, LogSeverity::Info},
        LoadCase{"DirectoryWithSlash", [](const TempDir&) { return standinDirectory().wstring() + L"/"; },
                 [](const TempDir&) { return standinDirectory().wstring() + L"/monitor_client_impl.dll"; },
                 ClientLibStatus::Loaded, loadedLine, LogSeverity::Info},
        LoadCase{"DirectoryNamingTheFile", standinDll, standinDll, ClientLibStatus::Loaded, loadedLine,
                 LogSeverity::Info},
        LoadCase{"MissingLibrary", [](const TempDir& d) { return (d / L"empty").wstring(); },
                 [](const TempDir& d) { return (d / L"empty" / L"monitor_client_impl.dll").wstring(); },
                 ClientLibStatus::NotFound, notFoundLine, LogSeverity::Warning},
        LoadCase{"MissingDirectoryIsStillJoined", [](const TempDir& d) { return (d / L"absent").wstring(); },
                 [](const TempDir& d) { return (d / L"absent" / L"monitor_client_impl.dll").wstring(); },
                 ClientLibStatus::NotFound, notFoundLine, LogSeverity::Warning},
        LoadCase{"NullMeansTheExecutablesFolder", [](const TempDir&) { return std::wstring(L"(null)"); },
                 [](const TempDir&) { return (binDirectory() / L"monitor_client_impl.dll").wstring(); },
                 ClientLibStatus::NotFound, notFoundLine, LogSeverity::Warning},
        LoadCase{"NotALoadableLibrary", [](const TempDir& d) { return d.path().wstring(); },
                 [](const TempDir& d) { return (d / L"monitor_client_impl.dll").wstring(); },
                 ClientLibStatus::LoadFailed, badImageLine, LogSeverity::Warning},
        LoadCase{"MissingCoreFunction", [](const TempDir& d) { return (d / L"no functions").wstring(); },
                 [](const TempDir& d) { return (d / L"no functions" / L"monitor_client_impl.dll").wstring(); },
                 ClientLibStatus::LoadFailed, missingFunctionLine, LogSeverity::Error}),
    [](const testing::TestParamInfo<LoadCase>& info) { return info.param.name; });

std::vector<std::string> expectedConversion()
{
    std::vector<std::string> lines;
    const std::string text = readFile(std::filesystem::path(OMBRIX_SOURCE_DIR) /
                                      "tests/libraries/diagnostics/monitor_client/expected_conversion.txt");
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

// The whole configuration of the host as the library receives it: every value,
// the setters in the table's order, each nested structure freed once its
// setter returned, then start and shutdown in their order.
TEST_F(MonitorClientTest, LibrarySeesTheGeneratedConfiguration)
{
    Diagnostics::Parameters parameters;
    parameters.applicationPath = L"C:\\Spiele\\Größe\\bin\\ombrix.exe";
    parameters.appVersion = L"26.00.02.1046";
    parameters.baseDirectory = L"C:\\Spiele\\Größe";
    parameters.installationId = L"0123456789abcdefghijABCDEFGHIJ0123456789";
    parameters.abnormalTerminationHandling = {true, {{1, 2, 3, 4}}};
    VESK::Configuration configuration = Diagnostics::Private::generateConfiguration(parameters, L"C:\\Temp");
    configuration.ClientInformation.RestartArguments = {L"--restarted"};
    configuration.MonitorPlugins = {{{L"-a", L"-b"}, L"plugin.dll"}};
    configuration.Events.front().CallstackHash = "hash";

    EXPECT_EQ(observed_.start(configuration, standinDirectory().c_str()), ClientLibStatus::Loaded);
    MonitorClient::shutdown();
    EXPECT_FALSE(standinLoaded());
    EXPECT_THAT(record_.lines(), ElementsAreArray(expectedConversion()));
}

TEST_F(MonitorClientTest, RefusedValueStopsTheConversion)
{
    const ScopedEnvironment refuse(L"OMBRIX_STANDIN_FAIL", L"CI_SetAppId");
    {
        const System::Win32::UniqueModule module(::LoadLibraryW(standinFile().c_str()));
        const VESK::ConfigurationTable api = VESK::bindConfigurationFunctions(module.get());
        VESK::ClientInfo client;
        client.AppId = L"tvx";
        try {
            VESK::ToCStruct(api, client);
            ADD_FAILURE() << "no exception";
        } catch (const VESK::Error::UnableToSetProperty& e) {
            EXPECT_STREQ(e.what(), "Unable to set property at VESK::ToCStruct. Error code:0");
        }
    }
    EXPECT_THAT(record_.lines(), ElementsAre("CreateClientInfo -> #1", "CI_SetAppId #1 \"tvx\" -> 0", "FreeClientInfo #1"));

    VESK::Configuration configuration;
    configuration.ClientInformation.AppId = L"tvx";
    EXPECT_EQ(observed_.start(configuration, standinDirectory().c_str()), ClientLibStatus::Exception);
    EXPECT_THAT(observed_.statuses, IsEmpty());
    // The library stays loaded until shutdown.
    EXPECT_TRUE(standinLoaded());
    MonitorClient::shutdown();
    EXPECT_THAT(record_.lines(),
                ElementsAre("CreateClientInfo -> #1", "CI_SetAppId #1 \"tvx\" -> 0", "FreeClientInfo #1",
                            "CreateConfiguration -> #1", "CreateClientInfo -> #2", "CI_SetAppId #2 \"tvx\" -> 0",
                            "FreeClientInfo #2", "FreeConfiguration #1", "TerminateLib", "UnregisterCallback 0",
                            "UnregisterCallback 0"));
}

TEST_F(MonitorClientTest, MissingConfigurationFunctionGivesOneAfterLoading)
{
    EXPECT_EQ(observed_.start(VESK::Configuration{}, coreOnlyStandinDirectory().c_str()), ClientLibStatus::LoadFailed);
    EXPECT_THAT(observed_.statuses, IsEmpty());
    EXPECT_EQ(observed_.log.size(), 1u);
    MonitorClient::shutdown();
    EXPECT_THAT(record_.lines(), ElementsAre("TerminateLib", "UnregisterCallback 0", "UnregisterCallback 0"));
}

TEST_F(MonitorClientTest, StartPassesTheLibrarysResultAndItsStatuses)
{
    const ScopedEnvironment result(L"OMBRIX_STANDIN_INIT_RESULT", L"7");
    const ScopedEnvironment statuses(L"OMBRIX_STANDIN_STATUSES", L"3,4");
    EXPECT_EQ(observed_.start(VESK::Configuration{}, standinDirectory().c_str()), ClientLibStatus::Started);
    MonitorClient::shutdown();
    EXPECT_THAT(observed_.statuses, ElementsAre(std::make_pair(7, 3), std::make_pair(3, 4)));
    EXPECT_THAT(observed_.log, ElementsAre(testing::_, std::make_pair(LogSeverity::Info, L"stand-in started")));
    // Released: a second shutdown does nothing.
    const std::size_t lines = record_.lines().size();
    MonitorClient::shutdown();
    EXPECT_EQ(record_.lines().size(), lines);
}

TEST_F(MonitorClientTest, AssertionsReachTheLibraryOnlyWhileLoaded)
{
    EXPECT_FALSE(MonitorClient::raiseAssert("a", "b", "c", "d", "e", 7));
    ASSERT_EQ(observed_.start(VESK::Configuration{}, standinDirectory().c_str()), ClientLibStatus::Loaded);
    EXPECT_TRUE(MonitorClient::raiseAssert("a", nullptr, "c", "d", "e", 0x100000000ull));
    MonitorClient::shutdown();
    EXPECT_FALSE(MonitorClient::raiseAssert("a", "b", "c", "d", "e", 7));
    EXPECT_THAT(record_.lines(), testing::Contains("RaiseAssert \"a\" (null) \"c\" \"d\" \"e\" 4294967296 0"));
}

void ownAbortHandler(int) {}
void ownTerminateHandler() {}
void ownInvalidParameterHandler(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int, std::uintptr_t) {}
void otherTerminateHandler() {}
void otherInvalidParameterHandler(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int, std::uintptr_t) {}

// The process's abort, terminate and invalid-parameter handlers.
auto currentHandlers()
{
    const auto abort = std::signal(SIGABRT, SIG_DFL);
    std::signal(SIGABRT, abort);
    return std::make_tuple(abort, std::get_terminate(), ::_get_invalid_parameter_handler());
}

const auto kOwnHandlers = std::make_tuple(&ownAbortHandler, &ownTerminateHandler, &ownInvalidParameterHandler);

// The test's own handlers in place for its life, the runner's back afterwards.
class OwnHandlers {
public:
    OwnHandlers()
        : abort_(std::signal(SIGABRT, &ownAbortHandler)), terminate_(std::set_terminate(&ownTerminateHandler)),
          invalidParameter_(::_set_invalid_parameter_handler(&ownInvalidParameterHandler))
    {
    }
    ~OwnHandlers()
    {
        std::signal(SIGABRT, abort_);
        std::set_terminate(terminate_);
        ::_set_invalid_parameter_handler(invalidParameter_);
    }
    OwnHandlers(const OwnHandlers&) = delete;
    OwnHandlers& operator=(const OwnHandlers&) = delete;

private:
    void (*abort_)(int);
    std::terminate_handler terminate_;
    _invalid_parameter_handler invalidParameter_;
};

TEST_F(MonitorClientTest, ProcessHandlersAreRoutedWhileLoadedAndRestoredAfterShutdown)
{
    const OwnHandlers own;
    ASSERT_EQ(MonitorClient::load(standinDirectory().c_str()), ClientLibStatus::Loaded);
    const auto loaded = currentHandlers();
    EXPECT_EQ(std::get<0>(loaded), &MonitorClient::ProcessHandlers::onAbortSignal);
    EXPECT_NE(std::get<1>(loaded), &ownTerminateHandler);
    EXPECT_NE(std::get<2>(loaded), &ownInvalidParameterHandler);
    MonitorClient::shutdown();
    EXPECT_EQ(currentHandlers(), kOwnHandlers);
}

// Exactly the handlers given (the binding gives its reporting ones, which the
// child processes below run), and every previous one back on restore, once.
TEST(ProcessHandlers, InstallsExactlyTheGivenHandlersAndRestoresThePreviousOnes)
{
    const OwnHandlers own;
    MonitorClient::ProcessHandlers handlers;
    handlers.install(&otherTerminateHandler, &otherInvalidParameterHandler);
    EXPECT_EQ(currentHandlers(), std::make_tuple(&MonitorClient::ProcessHandlers::onAbortSignal,
                                                 &otherTerminateHandler, &otherInvalidParameterHandler));
    handlers.restore();
    EXPECT_EQ(currentHandlers(), kOwnHandlers);
    handlers.restore();
    EXPECT_EQ(currentHandlers(), kOwnHandlers);
}

struct HandlerCase {
    const wchar_t* name;
    std::vector<std::string> record;
};

class ProcessHandler : public testing::TestWithParam<HandlerCase> {};

// The handlers end the process, so each case runs in a child: terminate and
// invalid parameter report a termination, then all three end in the abort
// exception.
TEST_P(ProcessHandler, ReportsThroughTheLibraryAndRaisesTheAbortException)
{
    const StandinRecord record;
    const ChildResult result = runProgram(binDirectory() / L"handler_probe.exe",
                                          std::wstring(GetParam().name) + L" \"" + standinDirectory().wstring() + L"\"");
    EXPECT_EQ(result.exitCode, MonitorClient::kAbortExceptionCode) << result.output;
    EXPECT_THAT(record.lines(), ElementsAreArray(GetParam().record));
}

INSTANTIATE_TEST_SUITE_P(Cases, ProcessHandler,
                         testing::Values(HandlerCase{L"terminate", {"ReportTermination"}},
                                         HandlerCase{L"invalid-parameter", {"ReportTermination"}},
                                         HandlerCase{L"abort", {}}),
                         [](const testing::TestParamInfo<HandlerCase>& info) {
                             std::string name;
                             for (const wchar_t* c = info.param.name; *c; ++c)
                                 if (*c != L'-')
                                     name += static_cast<char>(*c);
                             return name;
                         });

} // namespace
