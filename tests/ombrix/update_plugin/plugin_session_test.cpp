// Whole plug-in sessions across real processes: launcher-sim publishes the
// launcher, starts ombrix.exe for one of the test plug-ins (tests/plugins),
// drives it through IUpdatePlugin and checks what the host answers and logs
// and how it ends. Each row is one session; the simulator itself fails a row
// whose call results or exit code differ from its steps.
#include "support/test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <sstream>

namespace {

using namespace TestSupport;

constexpr const wchar_t* kFirstItem = L"publish first";
// Stand for the steps that start the host for plug-in id 1, or the admin host,
// with the test's log; {bin} in a step stands for the folder of the programs.
constexpr const wchar_t* kRunHost = L"{run-host}";
constexpr const wchar_t* kRunAdminHost = L"{run-admin-host}";
// Exit codes of a host that crashed in a call into the plug-in, or that the
// simulator ended because a call did not return.
constexpr const wchar_t* kAccessViolation = L"expect-exit 3221225477";
constexpr const wchar_t* kIllegalInstruction = L"expect-exit 3221225501";
constexpr const wchar_t* kStackOverflow = L"expect-exit 3221225725";
constexpr const wchar_t* kEndedBySimulator = L"expect-exit 57005";

struct SessionCase {
    const char* name;
    const wchar_t* plugin; // test_plugin_<plugin>.dll beside the tests
    std::vector<std::wstring> steps; // after the launcher was published and the host started
    std::vector<std::string> logged; // substrings of host log messages, in this order
    std::vector<std::string> transcribed = {}; // substrings of simulator transcript lines, in this order
    std::vector<std::string> absent = {}; // substrings no log message may hold
    const wchar_t* options = L"";
    const wchar_t* publish = kFirstItem;
    std::optional<std::pair<std::string, std::size_t>> counted = std::nullopt; // transcript lines holding it
    const wchar_t* start = kRunHost;
};

// Which of `expected` is the first not found in `lines` in order; none when all are.
std::optional<std::string> missingInOrder(const std::vector<std::string>& lines, const std::vector<std::string>& expected)
{
    auto line = lines.begin();
    for (const std::string& text : expected) {
        line = std::find_if(line, lines.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; });
        if (line == lines.end())
            return text;
        ++line;
    }
    return std::nullopt;
}

std::vector<std::string> fileLines(const std::filesystem::path& path)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

class PluginSession : public testing::TestWithParam<SessionCase> {
protected:
    unsigned long runSession(const SessionCase& session)
    {
        const std::wstring plugin = std::wstring(L"test_plugin_") + session.plugin + L".dll";
        std::wofstream scenario(scenario_);
        scenario << session.publish << L"\n";
        for (const std::wstring& step : withHostStart({session.start}))
            scenario << step << L"\n";
        for (const std::wstring& step : withHostStart(session.steps))
            scenario << step << L"\n";
        scenario.close();
        const ChildResult result = runProgram(
            binDirectory() / L"launcher-sim.exe",
            L"--transcript=\"" + transcript_.wstring() + L"\" --scenario=\"" + scenario_.wstring() +
                L"\" --plugin-path=" + plugin + L" --work-dir=\"" + binDirectory().wstring() + L"\" " + session.options);
        return result.exitCode;
    }

    std::vector<std::wstring> withHostStart(std::vector<std::wstring> steps) const
    {
        for (std::wstring& step : steps) {
            if (step == kRunHost)
                step = L"run-host --plugin-id=1 --logpath=\"" + log_.wstring() + L"\"";
            else if (step == kRunAdminHost)
                step = L"run-host --adminhost --logpath=\"" + log_.wstring() + L"\"";
            if (const auto bin = step.find(L"{bin}"); bin != std::wstring::npos)
                step.replace(bin, 5, binDirectory().wstring());
        }
        return steps;
    }

    TempDir dir_;
    std::filesystem::path log_ = dir_ / L"host.log";
    std::filesystem::path transcript_ = dir_ / L"transcript.txt";
    std::filesystem::path scenario_ = dir_ / L"scenario.txt";
};

TEST_P(PluginSession, AnswersLogsAndEndsAsTheContractSays)
{
    const SessionCase& session = GetParam();
    const unsigned long simulator = runSession(session);
    const std::vector<std::string> transcript = fileLines(transcript_);
    const std::vector<std::string> log = readLogMessages(log_);
    const auto dump = [&] {
        std::string text = "\n--- transcript:\n";
        for (const std::string& line : transcript)
            text += line + "\n";
        text += "--- host log:\n";
        for (const std::string& line : log)
            text += line + "\n";
        return text;
    };
    EXPECT_EQ(simulator, 0u) << dump();
    EXPECT_EQ(missingInOrder(log, session.logged), std::nullopt) << dump();
    EXPECT_EQ(missingInOrder(transcript, session.transcribed), std::nullopt) << dump();
    for (const std::string& text : session.absent)
        EXPECT_EQ(missingInOrder(log, {text}), text) << dump();
    if (session.counted) {
        EXPECT_EQ(std::count_if(transcript.begin(), transcript.end(),
                                [&](const std::string& l) { return l.find(session.counted->first) != std::string::npos; }),
                  static_cast<std::ptrdiff_t>(session.counted->second));
    }
}

// Bind, then end at once: the sessions that are about something else.
const std::vector<std::wstring> kBindAndEnd{L"await-plugin", L"call deinitialize => S_OK", L"expect-exit 0"};

std::vector<std::wstring> nameThenEnd(const std::wstring& answer)
{
    return {L"await-plugin", L"call name => " + answer, L"call deinitialize => S_OK", L"expect-exit 0"};
}

INSTANTIATE_TEST_SUITE_P(
    Sessions, PluginSession,
    testing::Values(
        SessionCase{"FullSession", L"good",
                    {L"await-plugin", L"call name => S_OK Alpha", L"call description => S_OK \"Test plug-in\"",
                     L"call versionString => S_OK 1.2.3", L"call error => S_OK \"no error\"",
                     L"call setAdditionalProp channel beta => S_OK", L"call getAdditionalProp channel => S_OK beta",
                     L"call getAdditionalProp other => S_OK \"\"", L"call start => S_OK", L"await-finish",
                     L"call start => S_OK", L"call stop 1 => S_OK", L"call deinitialize => S_OK",
                     L"call deinitialize => failed", L"expect-exit 0"},
                    {"initalizing 'ombrix' system for plugin_id = 1", "initializing plugin...",
                     "full plugin path: ", "starting plugin...", "starting plugin...",
                     // 1 is not VARIANT_TRUE: a normal stop.
                     "stop plugin.., force: false", "deinitialize plugin..."},
                    {"IPluginSystem::registerPlugin(object, 1) -> S_OK", "IUpdatePluginEvents::onStart(1) -> S_OK",
                     "IUpdatePluginEvents::onProgress(1, 50)", "IUpdatePluginEvents::onStatusInfo(1, \"working\")",
                     "IUpdatePluginEvents::onFinish(1, true)", "IPluginSystem::unregisterPlugin(object) -> S_OK",
                     "host exited with 0"}},
        SessionCase{"BindsUnderTheSecondItemName", L"good", kBindAndEnd, {"deinitialize plugin..."}, {}, {}, L"",
                    L"publish second"},
        SessionCase{"ObjectThatIsNoPluginSystem", L"good", {L"expect-exit 6"},
                    {"plugin-system typelib not registered, HRESULT = 0x80004002"}, {}, {"initializing plugin"}, L"",
                    L"publish-events 53721D9E-79A3-4410-94CB-C0BAC1066C09"},
        SessionCase{"RegisterPluginFails", L"good", {L"expect-exit 6"},
                    {"failed to register plugin object, HRESULT = 0x80004005, err: no error"}, {}, {},
                    L"--fail registerPlugin=0x80004005"},
        SessionCase{"UnregisterPluginFailingStillQuitsWithZero", L"good", kBindAndEnd,
                    {"error: server call unregisterPlugin failed (deinitialize), HRESULT = 0x80004005"}, {}, {},
                    L"--fail unregisterPlugin=0x80004005"},
        SessionCase{"InitializeFalseWithText", L"init_false_text", {L"expect-exit 6"},
                    {"(initialization), error_msg: cannot open the update catalogue",
                     "failed to initialize plugin-host object, HRESULT = 0x80004005, err: cannot open the update catalogue"}},
        SessionCase{"InitializeFalseWithoutText", L"init_false_silent", {L"expect-exit 6"},
                    {"(initialization), error_msg: ", "failed to initialize plugin-host object, HRESULT = 0x80004005, err: "}},
        // No object to ask for its error: the binding logs nothing of its own.
        SessionCase{"MissingDll", L"missing", {L"expect-exit 6"},
                    {"error: failed LoadLibraryW, pluginPath = "}, {},
                    {"failed to initialize plugin-host object"}},
        SessionCase{"NoExport", L"no_export", {L"expect-exit 6"},
                    {"error: failed GetProcAddress of DllGetPluginObject, pluginPath = "}},
        SessionCase{"GetObjectFalse", L"get_object_false", {L"expect-exit 6"},
                    {"error: failed DllGetPluginObject, pluginPath = "}},
        SessionCase{"SizeOneTooSmall", L"size_short", nameThenEnd(L"S_OK Alph"), {}},
        SessionCase{"SizeTooLarge", L"size_long", nameThenEnd(L"S_OK Alpha"), {}},
        SessionCase{"EmbeddedZeroEndsTheText", L"embedded_zero", nameThenEnd(L"S_OK Al"), {}},
        SessionCase{"NegativeSize", L"size_negative", nameThenEnd(L"E_UNEXPECTED"), {"error: unknown exception"}},
        SessionCase{"StartFalseReportsTheFinishBeforeTheFailure", L"start_false",
                    {L"await-plugin", L"call start => E_FAIL", L"call deinitialize => S_OK", L"expect-exit 0"},
                    {"failed plugin DLL start (start)"},
                    {"IUpdatePluginEvents::onFinish(1, false)", "IUpdatePlugin::start() -> 0x80004005"}},
        SessionCase{"GccThrowBecomesTheFailureAndTheHostGoesOn", L"throw_gcc", nameThenEnd(L"E_UNEXPECTED"),
                    {"error: std exception - the plug-in's name failed"}},
        SessionCase{"MsvcThrowBecomesTheFailureAndTheHostGoesOn", L"throw_msvc", nameThenEnd(L"E_UNEXPECTED"),
                    {"error: std exception - the plugin let a C++ exception of another compiler escape (0xE06D7363)"}},
        SessionCase{"ThrowCaughtInsideThePluginIsUntouched", L"throw_caught", nameThenEnd(L"S_OK Caught"), {}, {},
                    {"exception"}},
        // The crash ends only its host: a second host for the same launcher runs to the end.
        SessionCase{"AccessViolationEndsTheHostAsACrash", L"fault_access",
                    {L"await-plugin", L"call name => failed", kAccessViolation, kRunHost, L"await-plugin",
                     L"call deinitialize => S_OK", L"expect-exit 0"},
                    {"fatal error: unhandled exception 0xc0000005 at ", "initalizing 'ombrix' system", "deinitialize plugin..."},
                    {"host exited with 3221225477", "IPluginSystem::registerPlugin(object, 1) -> S_OK",
                     "host exited with 0"}},
        SessionCase{"IllegalInstructionEndsTheHostAsACrash", L"fault_illegal",
                    {L"await-plugin", L"call name => failed", kIllegalInstruction},
                    {"fatal error: unhandled exception 0xc000001d at "}},
        SessionCase{"StackOverflowEndsTheHostAsACrash", L"fault_stack",
                    {L"await-plugin", L"call name => failed", kStackOverflow}, {}},
        SessionCase{"FaultInThePluginsOwnThreadEndsTheHost", L"fault_worker",
                    {L"await-plugin", L"call start => S_OK", kAccessViolation},
                    {"fatal error: unhandled exception 0xc0000005 at "}, {"IUpdatePluginEvents::onStart(1)"}},
        SessionCase{"HungStopIsNamedAndItsHostEnded", L"stop_hangs",
                    {L"await-plugin", L"call start => S_OK", L"await-finish", L"call stop 0 => failed", kEndedBySimulator},
                    {"stop plugin.., force: false"},
                    {"IUpdatePlugin::stop did not return within 3000 ms: ending the host"}, {}, L"--call-limit=3000"},
        SessionCase{"ForcedStopEndsTheHostWhileThePluginReports", L"flood",
                    {L"await-plugin", L"call start => S_OK", L"await-progress", L"call stop -1 => failed", L"expect-exit 0"},
                    {"stop plugin.., force: true"}, {"IUpdatePluginEvents::onProgress(1, "}},
        SessionCase{"SixteenThreadsOfReportsAllArrive", L"flood",
                    {L"await-plugin", L"call start => S_OK", L"await-finish", L"call deinitialize => S_OK",
                     L"expect-exit 0"},
                    {}, {"IUpdatePluginEvents::onFinish(1, true)"}, {}, L"", kFirstItem,
                    std::pair{std::string("IUpdatePluginEvents::onProgress(1, "), std::size_t{16 * 200}}},
        SessionCase{"DialogIsAnsweredWithItsFirstButton", L"dialog",
                    {L"await-plugin", L"call start => S_OK", L"await-finish", L"call onDialogFinish 1 2 => S_OK",
                     L"call onDialogFinish 99 1 => E_UNEXPECTED", L"call deinitialize => S_OK", L"expect-exit 0"},
                    {"dialog event id received: 1", "dialog event id received: 2",
                     "couldn't get the dialog's callback function: dialogId=99"},
                    {"IPluginSystem::showDialogEx(1, 1, {\"Update\", \"Install the update?\"",
                     "IUpdatePluginEvents::onStatusInfo(1, \"answer 1\")", "IUpdatePluginEvents::onFinish(1, true)",
                     "called IPluginSystemEvents::onDialogFinish(1, 1) -> S_OK",
                     // A repeated id reaches the same callback again.
                     "IUpdatePluginEvents::onStatusInfo(1, \"answer 2\")"}}),
    [](const testing::TestParamInfo<SessionCase>& info) { return info.param.name; });

// The admin host started by the simulator; the plug-in hosts it starts bind to
// the simulator for plug-in id 4 and share the log.
INSTANTIATE_TEST_SUITE_P(
    AdminHost, PluginSession,
    testing::Values(
        SessionCase{.name = "StartsAnElevatedPluginHostAndReportsItsExit",
                    .plugin = L"good",
                    .steps = {L"await-admin-host", L"admin startElevated 2.0 4 => S_OK", L"await-plugin",
                              L"call deinitialize => S_OK", L"await-closed 4 0", L"admin deinitAdminHost => S_OK",
                              L"expect-exit 0"},
                    .logged = {"initializing adminhost...", "start plugin via adminhost.., api: 2.0",
                               "initalizing 'ombrix' system for plugin_id = 4", "deinitialize plugin...",
                               "UnregisterWait IO pending", "deinitializing adminhost..."},
                    .transcribed = {"IPluginSystem::registerAdminHost(object) -> S_OK",
                                    "IPluginSystem::getGameWorkDir(4) -> S_OK",
                                    "IPluginSystem::registerPlugin(object, 4) -> S_OK",
                                    "IPluginSystem::ombrixClosed(4, 0) -> S_OK", "host exited with 0"},
                    .start = kRunAdminHost},
        SessionCase{.name = "ReportsSixForAHostWhosePluginFails",
                    .plugin = L"init_false_text",
                    .steps = {L"await-admin-host", L"admin startElevated 2.0 4 => S_OK", L"await-closed 4 6",
                              L"admin deinitAdminHost => S_OK", L"expect-exit 0"},
                    .logged = {"error_msg: cannot open the update catalogue", "UnregisterWait IO pending"},
                    .start = kRunAdminHost},
        SessionCase{.name = "SecondStartForTheSameIdIsTheOnlyOneReported",
                    .plugin = L"good",
                    .steps = {L"await-admin-host", L"admin startElevated 2.0 4 => S_OK", L"await-plugin",
                              L"admin startElevated 2.0 4 => S_OK", L"await-plugin", L"call deinitialize => S_OK",
                              L"await-closed 4 0", L"call-first deinitialize => S_OK", L"serve 1000",
                              L"admin deinitAdminHost => S_OK", L"expect-exit 0"},
                    .logged = {},
                    .counted = std::pair{std::string("IPluginSystem::ombrixClosed(4, "), std::size_t{1}},
                    .start = kRunAdminHost},
        SessionCase{.name = "RefusesTheLegacyApiAndStartsPrograms",
                    .plugin = L"good",
                    .steps = {L"await-admin-host", L"admin startElevated 1.0 4 => E_INVALIDARG",
                              L"admin startElevatedProcess {bin}\\ombrix.exe \"\" => S_OK "
                              L"\"error 0, process id set, start time set\"",
                              L"admin startElevatedProcess {bin}\\missing.exe \"\" => E_FAIL \"error 2\"",
                              L"admin deinitAdminHost => S_OK", L"expect-exit 0"},
                    .logged = {"Legacy KPM Plugins API 1.0 is not supported", "Starting elevated process, exePath = ",
                               "missing.exe, err = 2"},
                    .start = kRunAdminHost}),
    [](const testing::TestParamInfo<SessionCase>& info) { return info.param.name; });

struct AuthorCase {
    const char* name;
    const wchar_t* plugin; // beside the tests
    unsigned long exitCode;
    std::vector<std::string> printed; // substrings of output lines, in this order
};

class AuthorSession : public testing::TestWithParam<AuthorCase> {};

// What a plug-in author runs: one option, a readable account, a verdict.
TEST_P(AuthorSession, PrintsWhatHappenedAndItsVerdict)
{
    const ChildResult result = runProgram(binDirectory() / L"launcher-sim.exe",
                                          L"--plugin=\"" + (binDirectory() / GetParam().plugin).wstring() + L"\"");
    EXPECT_EQ(result.exitCode, GetParam().exitCode) << result.output;
    std::vector<std::string> lines;
    std::istringstream output(result.output);
    for (std::string line; std::getline(output, line);)
        lines.push_back(line);
    EXPECT_EQ(missingInOrder(lines, GetParam().printed), std::nullopt) << result.output;
}

INSTANTIATE_TEST_SUITE_P(
    Plugins, AuthorSession,
    testing::Values(AuthorCase{"SamplePluginPasses", L"sample_plugin.dll", 0,
                               {"launcher: asks the plug-in's name: \"Sample plug-in\"", "plug-in: reports it started",
                                "plug-in: reports progress: 100", "plug-in: opens a dialog",
                                "plug-in: reports it finished, success: true", "host exited with 0",
                                "PASSED: the plug-in went through a whole session", "host log: "}},
                    AuthorCase{"StartFalseFails", L"test_plugin_start_false.dll", 1,
                               {"plug-in: reports it finished, success: false",
                                "launcher: asks the plug-in to start -- failed (0x80004005)",
                                "FAILED: the session stopped at the step above", "host log: "}}),
    [](const testing::TestParamInfo<AuthorCase>& info) { return info.param.name; });

} // namespace
