// Whole plug-in sessions across real processes (see session_runner.h): each
// row is one session that checks what the host answers and logs and how it
// ends; the simulator itself fails a row whose call results or exit code
// differ from its steps.
#include "session_runner.h"

#include "err/utf.h"
#include "log/nano/log_naming.h"
#include "plugins/flood_reports.h"
#include "plugins/language_data.h"
#include "plugins/log_flood_message.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <sstream>
#include <tuple>

namespace {

using namespace PluginSessions;
using namespace TestSupport;

// Exit codes of a host that crashed in a call into the plug-in, or that the
// simulator ended because a call did not return.
constexpr const wchar_t* kAccessViolation = L"expect-exit 3221225477";
constexpr const wchar_t* kIllegalInstruction = L"expect-exit 3221225501";
constexpr const wchar_t* kStackOverflow = L"expect-exit 3221225725";
constexpr const wchar_t* kEndedBySimulator = L"expect-exit 57005";

class PluginSession : public testing::TestWithParam<SessionCase>, protected SessionRunner {};

TEST_P(PluginSession, AnswersLogsAndEndsAsTheContractSays)
{
    const SessionCase& session = GetParam();
    const unsigned long simulator = runSession(session);
    const std::vector<std::string> transcript = readTextLines(transcript_);
    const std::vector<std::string> log = readLogMessages(log_);
    EXPECT_EQ(simulator, 0u) << dump();
    EXPECT_EQ(missingWholeInOrder(readLogEntries(log_), session.logged), std::nullopt) << dump();
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

#if defined(_WIN64)
// GCC on x86-64 unwinds through the system's tables, up to the guard's frame.
const SessionCase kGccThrow{"GccThrowBecomesTheFailureAndTheHostGoesOn", L"throw_gcc", nameThenEnd(L"E_UNEXPECTED"),
                            {"0 | CUpdatePlugin::name | plugin_id: 1 | error: std exception - the plug-in's name failed"}};
#else
// GCC on 32-bit Windows unwinds with DWARF-2 tables, one unwinder per
// statically linked module: the plug-in's finds no catching frame of its own,
// calls its std::terminate, and the C runtime's abort ends the host with 3
// before the host can log. The launcher's call fails as the host goes.
const SessionCase kGccThrow{"GccThrowEndsTheHostThroughThePluginsTerminate", L"throw_gcc",
                            {L"await-plugin", L"call name => failed", L"expect-exit 3"}, {},
                            {"IUpdatePlugin::name() -> 0x800706BE", "host exited with 3"}};

// A plug-in's own structured exception frame comes before the guard's.
INSTANTIATE_TEST_SUITE_P(Sessions32, PluginSession,
                         testing::Values(SessionCase{"SehHandledInsideThePluginIsUntouched", L"seh_caught",
                                                     nameThenEnd(L"S_OK Handled"), {}, {}, {"exception"}}),
                         [](const auto& info) { return info.param.name; });
#endif

INSTANTIATE_TEST_SUITE_P(
    Sessions, PluginSession,
    testing::Values(
        SessionCase{"FullSession", L"good",
                    {L"await-plugin", L"call name => S_OK Alpha", L"call description => S_OK \"Test plug-in\"",
                     L"call versionString => S_OK 1.2.3", L"call error => S_OK \"no error\"",
                     L"call setAdditionalProp channel beta => S_OK", L"call getAdditionalProp channel => S_OK beta",
                     L"call getAdditionalProp other => S_OK \"\"", L"call start => S_OK", L"await-finish",
                     L"call start => S_OK", L"call stop 1 => S_OK",
                     // A second deinitialize, sent while the host still serves: refused, not run again.
                     L"nest unregisterPlugin deinitialize => E_UNEXPECTED", L"call deinitialize => S_OK",
                     L"expect-exit 0"},
                    {"2 | `anonymous-namespace'::initializePlugin | initalizing 'ombrix' system for plugin_id = 1",
                     "2 | CUpdatePlugin::initialize | plugin_id: 1 | initializing plugin...",
                     "2 | CUpdatePlugin::initialize | plugin_id: 1 | full plugin path: *",
                     "2 | CUpdatePlugin::start | plugin_id: 1 | starting plugin...",
                     "2 | CUpdatePlugin::start | plugin_id: 1 | starting plugin...",
                     // 1 is not VARIANT_TRUE: a normal stop.
                     "2 | CUpdatePlugin::stop | plugin_id: 1 | stop plugin.., force: false",
                     "2 | CUpdatePlugin::deinitialize | plugin_id: 1 | deinitialize plugin...",
                     "2 | CUpdatePlugin::deinitialize | plugin_id: 1 | deinitialize plugin...",
                     "0 | CUpdatePlugin::deinitialize | plugin_id: 1 | error: invalid state of pluginDllObject "
                     "(deinitialize)"},
                    {"IPluginSystem::registerPlugin(object, 1) -> S_OK", "IUpdatePluginEvents::onStart(1) -> S_OK",
                     "IUpdatePluginEvents::onProgress(1, 50)", "IUpdatePluginEvents::onStatusInfo(1, \"working\")",
                     "IUpdatePluginEvents::onFinish(1, true)", "IPluginSystem::unregisterPlugin(object) -> S_OK",
                     "host exited with 0"}},
        // As much language data as a plug-in can send reaches the launcher whole,
        // null and empty strings and empty inner arrays included.
        SessionCase{"LanguageDataOfManyLanguages", L"language_data",
                    {L"await-plugin", L"call start => S_OK", L"await-finish", L"call error => S_OK \"refused: none\"",
                     L"call deinitialize => S_OK", L"expect-exit 0"},
                    {"2 | PluginSystemCallback::setLanguageSubstitutions | plugin_id: 1 | Set languages subs: "
                     "defaultLanguage=(null), languagesCount=64",
                     "2 | PluginSystemCallback::setMultiLanguageDictionary | plugin_id: 1 | Set languages dictionaries: "
                     "languagesCount=64"},
                    {LanguageData::substitutionsLine(1), LanguageData::dictionaryLine(1),
                     "IUpdatePluginEvents::onFinish(1, true)"}},
        SessionCase{"BindsUnderTheSecondItemName", L"good", kBindAndEnd,
                    {"2 | CUpdatePlugin::deinitialize | plugin_id: 1 | deinitialize plugin..."}, {}, {}, L"",
                    L"publish second"},
        SessionCase{"ObjectThatIsNoPluginSystem", L"good", {L"expect-exit 6"},
                    {"0 | `anonymous-namespace'::initializePlugin | plugin-system typelib not registered, HRESULT = "
                     "0x80004002"}, {}, {"initializing plugin"}, L"",
                    L"publish-events 53721D9E-79A3-4410-94CB-C0BAC1066C09"},
        SessionCase{"RegisterPluginFails", L"good", {L"expect-exit 6"},
                    {"0 | `anonymous-namespace'::initializePlugin | failed to register plugin object, HRESULT = "
                     "0x80004005, err: no error"}, {}, {},
                    L"--fail registerPlugin=0x80004005"},
        SessionCase{"UnregisterPluginFailingStillQuitsWithZero", L"good", kBindAndEnd,
                    {"0 | CUpdatePlugin::deinitialize | plugin_id: 1 | error: server call unregisterPlugin failed "
                     "(deinitialize), HRESULT = 0x80004005"}, {}, {},
                    L"--fail unregisterPlugin=0x80004005"},
        SessionCase{"InitializeFalseWithText", L"init_false_text", {L"expect-exit 6"},
                    {"0 | CUpdatePlugin::initialize | plugin_id: 1 | error: failed plugin dll initialize, pluginPath = "
                     "*test_plugin_init_false_text.dll (initialization), error_msg: cannot open the update catalogue",
                     "0 | `anonymous-namespace'::initializePlugin | failed to initialize plugin-host object, HRESULT = "
                     "0x80004005, err: cannot open the update catalogue"}},
        SessionCase{"InitializeFalseWithoutText", L"init_false_silent", {L"expect-exit 6"},
                    {"0 | CUpdatePlugin::initialize | plugin_id: 1 | error: failed plugin dll initialize, pluginPath = "
                     "*test_plugin_init_false_silent.dll (initialization), error_msg: ",
                     "0 | `anonymous-namespace'::initializePlugin | failed to initialize plugin-host object, HRESULT = "
                     "0x80004005, err: "}},
        // No object to ask for its error: the binding logs nothing of its own.
        SessionCase{"MissingDll", L"missing", {L"expect-exit 6"},
                    {"0 | CUpdatePlugin::initialize | plugin_id: 1 | error: failed LoadLibraryW, pluginPath = "
                     "*test_plugin_missing.dll (initialization), lastErr: 0x7e"}, {},
                    {"failed to initialize plugin-host object"}},
        SessionCase{"NoExport", L"no_export", {L"expect-exit 6"},
                    {"0 | CUpdatePlugin::initialize | plugin_id: 1 | error: failed GetProcAddress of "
                     "DllGetPluginObject, pluginPath = *test_plugin_no_export.dll (initialization), lastErr: 0x7f"}},
        SessionCase{"GetObjectFalse", L"get_object_false", {L"expect-exit 6"},
                    {"0 | CUpdatePlugin::initialize | plugin_id: 1 | error: failed DllGetPluginObject, pluginPath = "
                     "*test_plugin_get_object_false.dll (initialization)"}},
        SessionCase{"SizeOneTooSmall", L"size_short", nameThenEnd(L"S_OK Alph"), {}},
        SessionCase{"SizeTooLarge", L"size_long", nameThenEnd(L"S_OK Alpha"), {}},
        SessionCase{"EmbeddedZeroEndsTheText", L"embedded_zero", nameThenEnd(L"S_OK Al"), {}},
        SessionCase{"NegativeSize", L"size_negative", nameThenEnd(L"E_UNEXPECTED"),
                    {"0 | CUpdatePlugin::name | plugin_id: 1 | error: unknown exception"}},
        SessionCase{"StartFalseReportsTheFinishBeforeTheFailure", L"start_false",
                    {L"await-plugin", L"call start => E_FAIL", L"call deinitialize => S_OK", L"expect-exit 0"},
                    {"0 | CUpdatePlugin::start | plugin_id: 1 | failed plugin DLL start (start)"},
                    {"IUpdatePluginEvents::onFinish(1, false)", "IUpdatePlugin::start() -> 0x80004005"}},
        kGccThrow,
        SessionCase{"MsvcThrowBecomesTheFailureAndTheHostGoesOn", L"throw_msvc", nameThenEnd(L"E_UNEXPECTED"),
                    {"0 | CUpdatePlugin::name | plugin_id: 1 | error: std exception - the plugin let a C++ exception "
                     "of another compiler escape (0xE06D7363)"}},
        // The swallowed throw's object is destroyed each time, as its catch block would have.
        SessionCase{"MsvcThrownObjectsAreDestroyed", L"throw_msvc_object",
                    {L"await-plugin", L"call name => E_UNEXPECTED", L"call name => E_UNEXPECTED",
                     L"call name => E_UNEXPECTED", L"call error => S_OK \"live thrown objects: 0\"",
                     L"call deinitialize => S_OK", L"expect-exit 0"},
                    {"0 | CUpdatePlugin::name | plugin_id: 1 | error: std exception - the plugin let a C++ exception "
                     "of another compiler escape (0xE06D7363)"}},
        SessionCase{"ThrowCaughtInsideThePluginIsUntouched", L"throw_caught", nameThenEnd(L"S_OK Caught"), {}, {},
                    {"exception"}},
        // The crash ends only its host: a second host for the same launcher runs to the end.
        SessionCase{"AccessViolationEndsTheHostAsACrash", L"fault_access",
                    {L"await-plugin", L"call name => failed", kAccessViolation, kRunHost, L"await-plugin",
                     L"call deinitialize => S_OK", L"expect-exit 0"},
                    {"0 | lastChanceFilter | fatal error: unhandled exception 0xc0000005 at * in thread *, the host "
                     "process ends",
                     "2 | `anonymous-namespace'::initializePlugin | initalizing 'ombrix' system for plugin_id = 1",
                     "2 | CUpdatePlugin::deinitialize | plugin_id: 1 | deinitialize plugin..."},
                    {"host exited with 3221225477", "IPluginSystem::registerPlugin(object, 1) -> S_OK",
                     "host exited with 0"}},
        SessionCase{"IllegalInstructionEndsTheHostAsACrash", L"fault_illegal",
                    {L"await-plugin", L"call name => failed", kIllegalInstruction},
                    {"0 | lastChanceFilter | fatal error: unhandled exception 0xc000001d at * in thread *, the host "
                     "process ends"}},
        SessionCase{"StackOverflowEndsTheHostAsACrash", L"fault_stack",
                    {L"await-plugin", L"call name => failed", kStackOverflow}, {}},
        SessionCase{"FaultInThePluginsOwnThreadEndsTheHost", L"fault_worker",
                    {L"await-plugin", L"call start => S_OK", kAccessViolation},
                    {"0 | lastChanceFilter | fatal error: unhandled exception 0xc0000005 at * in thread *, the host "
                     "process ends"}, {"IUpdatePluginEvents::onStart(1)"}},
        SessionCase{"HungStopIsNamedAndItsHostEnded", L"stop_hangs",
                    {L"await-plugin", L"call start => S_OK", L"await-finish", L"call stop 0 => failed", kEndedBySimulator},
                    {"2 | CUpdatePlugin::stop | plugin_id: 1 | stop plugin.., force: false"},
                    {"IUpdatePlugin::stop did not return within 3000 ms: ending the host"}, {}, L"--call-limit=3000"},
        SessionCase{"ForcedStopEndsTheHostWhileThePluginReports", L"flood",
                    {L"await-plugin", L"call start => S_OK", L"await-progress", L"call stop -1 => failed", L"expect-exit 0"},
                    {"2 | CUpdatePlugin::stop | plugin_id: 1 | stop plugin.., force: true"},
                    {"IUpdatePluginEvents::onProgress(1, "}},
        SessionCase{"SixteenThreadsOfReportsAllArrive", L"flood",
                    {L"await-plugin", L"call start => S_OK", L"await-finish", L"call deinitialize => S_OK",
                     L"expect-exit 0"},
                    {}, {"IUpdatePluginEvents::onFinish(1, true)"}, {}, L"", kFirstItem,
                    std::pair{std::string("IUpdatePluginEvents::onProgress(1, "),
                              std::size_t{Flood::kThreads * Flood::kReportsPerThread}}},
        // What authors copy acts on a dialog's first answer only.
        SessionCase{.name = "SamplePluginFinishesOnceWhenItsDialogIsReportedTwice",
                    .plugin = L"sample_plugin.dll",
                    .steps = {L"await-plugin", L"call start => S_OK", L"await-finish",
                              L"call onDialogFinish 1 2 => S_OK", L"call deinitialize => S_OK", L"expect-exit 0"},
                    .logged = {"2 | CUpdatePlugin::onDialogFinish | plugin_id: 1 | dialog event id received: 2"},
                    .counted = std::pair{std::string("IUpdatePluginEvents::onFinish(1, "), std::size_t{1}}},
        SessionCase{"DialogIsAnsweredWithItsFirstButton", L"dialog",
                    {L"await-plugin", L"call start => S_OK", L"await-finish", L"call onDialogFinish 1 2 => S_OK",
                     L"call onDialogFinish 99 1 => E_UNEXPECTED", L"call deinitialize => S_OK", L"expect-exit 0"},
                    {"2 | CUpdatePlugin::onDialogFinish | plugin_id: 1 | dialog event id received: 1",
                     "2 | CUpdatePlugin::onDialogFinish | plugin_id: 1 | dialog event id received: 2",
                     "0 | CUpdatePlugin::onDialogFinish | plugin_id: 1 | couldn't get the dialog's callback function: "
                     "dialogId=99"},
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
                    .logged = {"2 | CUpdatePlugin::initAdminHost | plugin_id: 0 | initializing adminhost...",
                               "2 | CUpdatePlugin::startElevated | plugin_id: 4 | start plugin via adminhost.., api: 2.0",
                               "2 | `anonymous-namespace'::initializePlugin | initalizing 'ombrix' system for plugin_id = 4",
                               "2 | CUpdatePlugin::deinitialize | plugin_id: 4 | deinitialize plugin...",
                               "3 | PluginProcess::resetHandles | UnregisterWait IO pending",
                               "2 | CUpdatePlugin::deinitAdminHost | plugin_id: 0 | deinitializing adminhost..."},
                    .transcribed = {"IPluginSystem::registerAdminHost(object) -> S_OK",
                                    "IPluginSystem::getGameWorkDir(4) -> S_OK",
                                    "IPluginSystem::registerPlugin(object, 4) -> S_OK",
                                    "IPluginSystem::ombrixClosed(4, 0) -> S_OK", "host exited with 0"},
                    .start = kRunAdminHost},
        SessionCase{.name = "ReportsSixForAHostWhosePluginFails",
                    .plugin = L"init_false_text",
                    .steps = {L"await-admin-host", L"admin startElevated 2.0 4 => S_OK", L"await-closed 4 6",
                              L"admin deinitAdminHost => S_OK", L"expect-exit 0"},
                    .logged = {"0 | CUpdatePlugin::initialize | plugin_id: 4 | error: failed plugin dll initialize, "
                               "pluginPath = *test_plugin_init_false_text.dll (initialization), error_msg: cannot open "
                               "the update catalogue",
                               "3 | PluginProcess::resetHandles | UnregisterWait IO pending"},
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
                    .logged = {"0 | CUpdatePlugin::startElevated | plugin_id: 4 | Legacy KPM Plugins API 1.0 is not "
                               "supported",
                               "2 | CUpdatePlugin::startElevatedProcess | Starting elevated process, exePath = "
                               "*\\ombrix.exe, args = ",
                               "0 | CUpdatePlugin::startElevatedProcess | Failed to start elevated process, exePath = "
                               "*\\missing.exe, err = 2"},
                    .start = kRunAdminHost}),
    [](const testing::TestParamInfo<SessionCase>& info) { return info.param.name; });

// ---- The launcher failing one operation of a whole session ----

// What test_plugin_every_call.dll's run looks like from the launcher's side, in
// order: every operation the host forwards, each called once.
const std::vector<std::string> kEveryCall{
    "IUpdatePluginEvents::onStart(1)", "IPluginSystem::language()", "IPluginSystem::installationId()",
    "IPluginSystem::getGameWorkDir(1)", "IPluginSystem::writeLog(\"every call\", 1)",
    "IPluginSystem::setGameCanStart(1, true)", "IPluginSystem::setCurrentPartIntegrity(1, true)",
    "IPluginSystem::setCurrentPartVersion(1, \"1.2.3\")", "IPluginSystem::setLanguageSubstitutions(1, \"en\", 1, ",
    "IPluginSystem::setMultiLanguageDictionary(1, 1, ", "IPluginSystem::mainWindow()",
    "IPluginSystem::restartAgent(true)", "IUpdatePluginEvents::onProgress(1, 50)", "IPluginSystem::showDialogEx(1, 1, ",
    "IUpdatePluginEvents::onStatusInfo(1, \"answer 1\")", "IUpdatePluginEvents::onFinish(1, true)"};

// The plug-in runs to its finish, says which of its calls the host answered
// with a failure ("none", or their names), and is ended.
std::vector<std::wstring> wholeSession(const std::wstring& refused = L"none")
{
    return {L"await-plugin", L"call start => S_OK", L"await-finish", L"call error => S_OK \"refused: " + refused + L"\"",
            L"call deinitialize => S_OK", L"expect-exit 0"};
}

const std::vector<std::wstring> kBindingFails{L"expect-exit 6"};

// The error line of a plug-in's call that the launcher refused.
std::string systemRefused(const std::string& operation)
{
    return "0 | PluginSystemCallback::" + operation + " | plugin_id: 1 | failed plugin system callback, HRESULT = "
           "0x80004005";
}
std::string eventRefused(const std::string& operation)
{
    return "0 | PluginEventsCallback::" + operation + " | plugin_id: 1 | failed plugin events callback, HRESULT = "
           "0x80004005";
}
// The binding asks the object for its error text; with no plug-in loaded yet
// the object logs this instead, and the binding's own line is left out.
constexpr const char* kNoPluginToAsk =
    "0 | CUpdatePlugin::error | plugin_id: 1 | error: invalid state of pluginDllObject";

struct LauncherFault {
    const char* operation; // of IPluginSystem or IUpdatePluginEvents, failed with 0x80004005
    std::vector<std::string> errors; // every error line of the host log, whole entries in order
    std::vector<std::string> logged = {}; // whole entries of any level, in order
    std::vector<std::wstring> steps = wholeSession(); // after the host started
    std::vector<std::string> reported = kEveryCall; // what the launcher hears, in order (substrings)
    const wchar_t* plugin = L"every_call";
    const wchar_t* start = kRunHost;
};

// The log's error-level entries.
std::vector<std::string> errorEntries(const std::filesystem::path& log)
{
    std::vector<std::string> errors;
    for (const std::string& entry : readLogEntries(log))
        if (entry.starts_with("0 | "))
            errors.push_back(entry);
    return errors;
}

class LauncherFails : public testing::TestWithParam<LauncherFault>, protected SessionRunner {};

// The simulated launcher fails exactly one operation. The host goes on with the
// session and writes its line for the failure, or, where the failure leaves it
// nothing to do, ends with the exit code its code gives; nothing hangs (every
// call and await has the call limit) and no other report is lost.
TEST_P(LauncherFails, OneOperationAndTheHostCarriesOnOrEndsAsItsCodeSays)
{
    const LauncherFault& fault = GetParam();
    const std::wstring operation = Err::fromUtf8(fault.operation);
    const unsigned long simulator =
        runSession({.name = fault.operation,
                    .plugin = fault.plugin,
                    .steps = fault.steps,
                    .logged = {},
                    .options = L"--call-limit=10000 --fail=" + operation + L"=0x80004005",
                    .start = fault.start});
    EXPECT_EQ(simulator, 0u) << dump();
    EXPECT_EQ(errorEntries(log_), fault.errors) << dump();
    EXPECT_EQ(missingWholeInOrder(readLogEntries(log_), fault.logged), std::nullopt) << dump();
    std::vector<std::string> failedCalls;
    for (const std::string& line : readTextLines(transcript_))
        if (line.ends_with(" -> 0x80004005"))
            failedCalls.push_back(line);
    const std::string call = std::string("::") + fault.operation + "(";
    EXPECT_THAT(failedCalls, testing::ElementsAre(testing::AnyOf(testing::StartsWith("IPluginSystem" + call),
                                                                 testing::StartsWith("IUpdatePluginEvents" + call))))
        << dump();
    EXPECT_EQ(missingInOrder(readTextLines(transcript_), fault.reported), std::nullopt) << dump();
}

const std::vector<std::wstring> kAdminHostSession{
    L"await-admin-host",         L"admin startElevated 2.0 4 => S_OK", L"await-plugin",
    L"call deinitialize => S_OK", L"await-closed 4 0",                   L"admin deinitAdminHost => S_OK",
    L"expect-exit 0"};

INSTANTIATE_TEST_SUITE_P(
    EachOperation, LauncherFails,
    testing::Values(
        // What the plug-in calls: the host logs the refusal, answers the plug-in
        // with a failure where the operation has a result, and goes on.
        LauncherFault{"language", {systemRefused("language")}, {}, wholeSession(L"language")},
        LauncherFault{"installationId", {systemRefused("installationId")}, {}, wholeSession(L"installationId")},
        LauncherFault{"writeLog",
                      {"0 | PluginSystemCallback::writeLog | plugin_id: 1 | failed plugin system callback, message: "
                       "every call, HRESULT = 0x80004005"}},
        LauncherFault{.operation = "setGameCanStart",
                      .errors = {systemRefused("setGameCanStart")},
                      .logged = {"2 | PluginSystemCallback::setGameCanStart | plugin_id: 1 | set game can start: true",
                                 systemRefused("setGameCanStart")}},
        LauncherFault{.operation = "setCurrentPartIntegrity",
                      .errors = {systemRefused("setCurrentPartIntegrity")},
                      .logged = {"2 | PluginSystemCallback::setCurrentPartIntegrity | plugin_id: 1 | set current part "
                                 "integrity: true",
                                 systemRefused("setCurrentPartIntegrity")}},
        LauncherFault{.operation = "setCurrentPartVersion",
                      .errors = {systemRefused("setCurrentPartVersion")},
                      .logged = {"2 | PluginSystemCallback::setCurrentPartVersion | plugin_id: 1 | set current part "
                                 "version: 1.2.3",
                                 systemRefused("setCurrentPartVersion")}},
        LauncherFault{.operation = "setLanguageSubstitutions",
                      .errors = {systemRefused("setLanguageSubstitutions")},
                      .logged = {"2 | PluginSystemCallback::setLanguageSubstitutions | plugin_id: 1 | Set languages "
                                 "subs: defaultLanguage=en, languagesCount=1",
                                 systemRefused("setLanguageSubstitutions")},
                      .steps = wholeSession(L"setLanguageSubstitutions")},
        LauncherFault{.operation = "setMultiLanguageDictionary",
                      .errors = {systemRefused("setMultiLanguageDictionary")},
                      .logged = {"2 | PluginSystemCallback::setMultiLanguageDictionary | plugin_id: 1 | Set languages "
                                 "dictionaries: languagesCount=1",
                                 systemRefused("setMultiLanguageDictionary")},
                      .steps = wholeSession(L"setMultiLanguageDictionary")},
        LauncherFault{"mainWindow", {systemRefused("mainWindow")}, {}, wholeSession(L"mainWindow")},
        LauncherFault{"restartAgent", {systemRefused("restartAgent")}},
        // A refused dialog is never answered: the plug-in finishes unsuccessfully.
        LauncherFault{"showDialogEx",
                      {systemRefused("showDialogEx")},
                      {},
                      wholeSession(),
                      {"IUpdatePluginEvents::onProgress(1, 50)", "IPluginSystem::showDialogEx(1, 1, ",
                       "IUpdatePluginEvents::onFinish(1, false)"}},
        LauncherFault{"onStart", {eventRefused("onStart")}},
        LauncherFault{"onProgress", {eventRefused("onProgress")}},
        LauncherFault{"onStatusInfo", {eventRefused("onStatusInfo")}},
        // The launcher cannot learn that the plug-in is done: the host ends on
        // its own, with 0 and without a line.
        LauncherFault{"onFinish", {}, {}, {L"await-plugin", L"call start => S_OK", L"await-finish", L"expect-exit 0"}},
        // The binding: the host ends with 6 before it serves anything.
        LauncherFault{"getPluginPath",
                      {"0 | CUpdatePlugin::initialize | plugin_id: 1 | failed getPluginPath (initialization), HRESULT "
                       "= "
                       "0x80004005",
                       kNoPluginToAsk},
                      {},
                      kBindingFails,
                      {}},
        LauncherFault{"getGameWorkDir",
                      {"0 | CUpdatePlugin::initialize | plugin_id: 1 | failed getGameWorkDir (initialization), HRESULT "
                       "= "
                       "0x80004005",
                       kNoPluginToAsk},
                      {},
                      kBindingFails,
                      {}},
        LauncherFault{"registerPlugin",
                      {"0 | `anonymous-namespace'::initializePlugin | failed to register plugin object, HRESULT = "
                       "0x80004005, err: no error"},
                      {},
                      kBindingFails,
                      {}},
        LauncherFault{"unregisterPlugin",
                      {"0 | CUpdatePlugin::deinitialize | plugin_id: 1 | error: server call unregisterPlugin failed "
                       "(deinitialize), HRESULT = 0x80004005"}},
        // The admin host's own operations.
        LauncherFault{"registerAdminHost",
                      {"0 | `anonymous-namespace'::registerAdminHost | failed to initialize admin-host object, HRESULT "
                       "= "
                       "0x80004005"},
                      {},
                      {L"expect-exit 7"},
                      {},
                      L"good",
                      kRunAdminHost},
        LauncherFault{"ombrixClosed",
                      {"0 | PluginSystemCallback::ombrixClosed | plugin_id: 0 | failed plugin system callback, HRESULT "
                       "= "
                       "0x80004005"},
                      {},
                      kAdminHostSession,
                      {"IPluginSystem::ombrixClosed(4, 0)"},
                      L"good",
                      kRunAdminHost}),
    [](const testing::TestParamInfo<LauncherFault>& info) { return std::string(info.param.operation); });

// ---- Four hosts, one log ----

class SharedLog : public testing::Test, protected SessionRunner {};

constexpr unsigned kFloodHosts = 4;
constexpr std::uintmax_t kLogSizeLimit = 2 * 1024 * 1024; // where the host log rotates

// A rotated log's tick count and attempt, from its name; none for another name.
std::optional<std::pair<unsigned long, unsigned>> rotationOf(const std::filesystem::path& log,
                                                             const std::filesystem::path& file)
{
    unsigned long tick = 0;
    unsigned attempt = 0;
    const std::wstring name = file.filename().wstring();
    if (std::swscanf(name.c_str(), L"host_%lu_%u.log", &tick, &attempt) < 1)
        return std::nullopt;
    if (Nano::rotatedLogPath(log.wstring(), tick, attempt) != file.wstring())
        return std::nullopt;
    return std::pair{tick, attempt};
}

// Four hosts at once, four plug-in threads each, and every writeLog refused by
// the launcher: each becomes one line of the log they share, which rotates
// several times meanwhile. Each message is in the log or one of its rotated
// files exactly once, and whole.
TEST_F(SharedLog, EveryRefusedMessageOfFourHostsIsLoggedOnceAndWholeAcrossRotations)
{
    std::vector<std::wstring> steps{L"await-plugin"};
    for (unsigned id = 2; id <= kFloodHosts; ++id)
        steps.insert(steps.end(), {runHostStep(id), L"await-plugin"});
    steps.insert(steps.end(), {L"call-each start => S_OK", L"await-finish", L"call-each deinitialize => S_OK",
                               L"expect-exit 0"});
    ASSERT_EQ(runSession({.name = "log_flood",
                          .plugin = L"log_flood",
                          .steps = steps,
                          .logged = {},
                          .options = L"--fail=writeLog=0x80004005 --call-limit=240000"}),
              0u)
        << dump(20);

    std::vector<std::filesystem::path> files{log_};
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
        if (entry.path() == log_ || entry.path() == transcript_ || entry.path() == scenario_ || entry.path() == diary_)
            continue;
        EXPECT_TRUE(rotationOf(log_, entry.path())) << "not a rotated log: " << entry.path().string();
        // Moved aside only once past the limit, and never more than one line past it.
        EXPECT_GT(entry.file_size(), kLogSizeLimit) << entry.path().string();
        EXPECT_LT(entry.file_size(), kLogSizeLimit + 4096) << entry.path().string();
        files.push_back(entry.path());
    }
    EXPECT_GE(files.size(), 3u) << "the log should have rotated at least twice";

    std::map<std::tuple<unsigned, int, int>, int> seen;
    std::vector<std::string> broken;
    for (const std::filesystem::path& file : files) {
        const std::vector<std::string> lines = readLogLines(file);
        const std::vector<std::string> messages = readLogMessages(file);
        for (std::size_t i = 0; i < lines.size(); ++i) {
            // Every line starts with its own header: no piece of another line in between.
            const bool headed = lines[i].size() > 24 && lines[i].compare(19, 5, " - | ") == 0;
            unsigned id = 0;
            int thread = -1, number = -1;
            const bool flood = std::sscanf(messages[i].c_str(),
                                           "plugin_id: %u | failed plugin system callback, message: log_flood thread "
                                           "%d message %d",
                                           &id, &thread, &number) == 3;
            if (flood && messages[i] != "plugin_id: " + std::to_string(id) +
                                            " | failed plugin system callback, message: " +
                                            Err::toUtf8(LogFlood::message(thread, number)) + ", HRESULT = 0x80004005")
                broken.push_back(lines[i].substr(0, 160));
            else if (!headed)
                broken.push_back(lines[i].substr(0, 160));
            else if (flood)
                ++seen[{id, thread, number}];
        }
    }
    EXPECT_THAT(broken, testing::IsEmpty());
    int missing = 0, doubled = 0;
    for (unsigned id = 1; id <= kFloodHosts; ++id)
        for (int thread = 0; thread < LogFlood::kThreads; ++thread)
            for (int number = 0; number < LogFlood::kMessagesPerThread; ++number) {
                const auto found = seen.find({id, thread, number});
                const int count = found == seen.end() ? 0 : found->second;
                missing += count == 0;
                doubled += count > 1;
            }
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(doubled, 0);
    EXPECT_EQ(seen.size(), std::size_t{kFloodHosts * LogFlood::kThreads * LogFlood::kMessagesPerThread});
}

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
                    // Built by clang for the MSVC target without a C runtime
                    // (tests/plugins/msvc_plugin.cpp): each report crosses from the
                    // MSVC layout of the interfaces and structures into the host's.
                    AuthorCase{"MsvcAbiPluginPasses", L"msvc_plugin.dll", 0,
                               {"launcher: asks the plug-in's name: \"MSVC-ABI plug-in\"",
                                "launcher: asks the plug-in's description: \"Built by clang for the MSVC target\"",
                                "launcher: asks the plug-in's version: \"2.5.7\"", "plug-in: reports it started",
                                "plug-in: reports status: \"language en\"", "plug-in: reports progress: 50",
                                "plug-in: opens a dialog (id, {caption, message, ...}): 1, {\"MSVC update\", "
                                "\"Install {size} MB?\", args [42:\"size\"], buttons [1:\"Install\":\"now\", "
                                "2:\"Later\":\"next start\"], default 2, style 1, type 100, \"msvc\", flags 10}",
                                "plug-in: reports status: \"answer: install\"", "plug-in: reports progress: 100",
                                "plug-in: reports it finished, success: true",
                                "plug-in: writes to the launcher's log (text, level): "
                                "\"msvc plug-in: deinitialize\", 2",
                                "host exited with 0", "PASSED: the plug-in went through a whole session"}},
                    AuthorCase{"StartFalseFails", L"test_plugin_start_false.dll", 1,
                               {"plug-in: reports it finished, success: false",
                                "launcher: asks the plug-in to start -- failed (0x80004005)",
                                "FAILED: the session stopped at the step above", "host log: "}}),
    [](const testing::TestParamInfo<AuthorCase>& info) { return info.param.name; });

} // namespace
