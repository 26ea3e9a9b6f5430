// Sessions with a launcher that is not polite: it dies or is ended from
// outside, lets go of the host early, calls back into the host from inside
// its own handlers while the host waits in a call to it, calls initialize
// twice, or hangs in a handler. Each row states what the launcher sees (call
// results, exit code, time), what the log says and what the plug-in was
// called for (its diary, see tests/plugins/test_plugin.cpp).
#include "session_runner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cwctype>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace PluginSessions;
using namespace TestSupport;
using System::Win32::UniqueHandle;

constexpr const char* kLauncherGone = "the launcher is gone (HRESULT = 0x";
constexpr const char* kLauncherReleased = "0 | HostEnd::request | the launcher released the host without deinitialize: "
                                           "the plugin is deinitialized and the host ends with exit code 10";
constexpr const wchar_t* kBusy = L"0x800700AA";

std::ptrdiff_t countHolding(const std::vector<std::string>& lines, const std::string& text)
{
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

// The numbers that follow `prefix` in the lines that start with it.
std::vector<DWORD> numbersAfter(const std::vector<std::string>& lines, const std::string& prefix)
{
    std::vector<DWORD> numbers;
    for (const std::string& line : lines)
        if (const auto at = line.find(prefix); at != std::string::npos)
            numbers.push_back(static_cast<DWORD>(std::stoul(line.substr(at + prefix.size()))));
    return numbers;
}

// Ends a process still running when a test ends, so that a failed test leaves
// no launcher in the Running Object Table and no host behind for the next.
class EndsWithTheTest {
public:
    explicit EndsWithTheTest(HANDLE process) : process_(process) {}
    ~EndsWithTheTest()
    {
        if (process_ != nullptr && ::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
            ::TerminateProcess(process_, 1);
            ::WaitForSingleObject(process_, 5000);
        }
    }
    EndsWithTheTest(const EndsWithTheTest&) = delete;
    EndsWithTheTest& operator=(const EndsWithTheTest&) = delete;

private:
    HANDLE process_;
};

ULONGLONG exitTimeMs(HANDLE process)
{
    FILETIME creation{}, exit{}, kernel{}, user{};
    ::GetProcessTimes(process, &creation, &exit, &kernel, &user);
    return ((static_cast<ULONGLONG>(exit.dwHighDateTime) << 32) | exit.dwLowDateTime) / 10000;
}

// The plug-in's deinitialize ran exactly once, returned, and was its last call.
void expectDeinitializedOnceAndLast(const std::vector<std::string>& diary, const std::string& context)
{
    EXPECT_EQ(countHolding(diary, "deinitialize"), 2) << context; // the call and its return
    ASSERT_GE(diary.size(), 2u) << context;
    EXPECT_EQ(diary[diary.size() - 2], "deinitialize") << context;
    EXPECT_EQ(diary.back(), "deinitialize returned") << context;
}

// ---- The launcher's process ends ----

struct DeathCase {
    const char* name;
    const wchar_t* plugin;
    const wchar_t* start;
    std::vector<std::wstring> steps; // then the launcher dies ({ready}: the moment the test learns of)
    bool killedFromOutside; // else it ends itself at once, as a crash would
    bool pluginDeinitialized; // false: the plug-in is stuck in a call and is cut off
    std::size_t hosts = 1; // the elevated host an admin host started is the second
};

class LauncherDies : public testing::TestWithParam<DeathCase>, protected SessionRunner {};

// Every host notices within 5 s, ends with 9 and says why in one line, and the
// plug-in gets its deinitialize unless it is stuck in another call.
TEST_P(LauncherDies, EveryHostEndsWithinFiveSecondsAndSaysWhy)
{
    const DeathCase& death = GetParam();
    const std::wstring ready = L"ombrix-test-launcher-ready-" + std::to_wstring(::GetCurrentProcessId());
    const UniqueHandle readyEvent(::CreateEventW(nullptr, TRUE, FALSE, ready.c_str()));
    std::vector<std::wstring> steps = death.steps;
    if (std::find(steps.begin(), steps.end(), L"{ready}") == steps.end()) {
        steps.push_back(L"{ready}");
        // Time for the test to take hold of the hosts before they may end.
        for (const wchar_t* step : death.killedFromOutside ? std::vector<const wchar_t*>{L"serve 60000"}
                                                           : std::vector<const wchar_t*>{L"serve 500", L"die"})
            steps.push_back(step);
    }
    std::replace(steps.begin(), steps.end(), std::wstring(L"{ready}"), L"signal " + ready);
    const UniqueHandle launcher = startSession(
        {.name = death.name, .plugin = death.plugin, .steps = steps, .logged = {}, .start = death.start});
    ASSERT_TRUE(launcher);
    const EndsWithTheTest launcherEnds(launcher.get());
    const HANDLE waitFor[] = {readyEvent.get(), launcher.get()};
    ASSERT_EQ(::WaitForMultipleObjects(2, waitFor, FALSE, 60000), WAIT_OBJECT_0) << dump();

    std::vector<DWORD> pids = numbersAfter(readTextLines(transcript_), "host pid ");
    for (DWORD pid : numbersAfter(readTextLines(diary_), "initialize pid "))
        if (std::find(pids.begin(), pids.end(), pid) == pids.end())
            pids.push_back(pid);
    ASSERT_EQ(pids.size(), death.hosts) << dump();
    std::vector<UniqueHandle> hosts;
    std::vector<std::unique_ptr<EndsWithTheTest>> hostsEnd;
    for (DWORD pid : pids) {
        hosts.emplace_back(
            ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, pid));
        ASSERT_TRUE(hosts.back()) << "host " << pid << " ended before the launcher" << dump();
        hostsEnd.push_back(std::make_unique<EndsWithTheTest>(hosts.back().get()));
    }
    if (death.killedFromOutside) {
        // Into whatever the launcher was doing after the moment it signalled.
        ::Sleep(300);
        ::TerminateProcess(launcher.get(), 1);
    }
    ASSERT_EQ(::WaitForSingleObject(launcher.get(), 10000), WAIT_OBJECT_0);
    const ULONGLONG launcherEnded = exitTimeMs(launcher.get());

    for (const UniqueHandle& host : hosts) {
        ASSERT_EQ(::WaitForSingleObject(host.get(), 15000), WAIT_OBJECT_0) << "an orphan host" << dump();
        DWORD code = 0;
        ::GetExitCodeProcess(host.get(), &code);
        EXPECT_EQ(code, 9u) << dump();
        EXPECT_LE(exitTimeMs(host.get()) - launcherEnded, 5000u) << dump();
    }
    const std::vector<std::string> log = readLogMessages(log_);
    EXPECT_EQ(countHolding(log, kLauncherGone), static_cast<std::ptrdiff_t>(death.hosts)) << dump();
    // A plug-in reporting on into the void is not a line per report.
    EXPECT_EQ(countHolding(log, "failed plugin events callback"), 0) << dump();
    if (death.pluginDeinitialized)
        expectDeinitializedOnceAndLast(readTextLines(diary_), dump());
    else
        EXPECT_EQ(countHolding(readTextLines(diary_), "deinitialize"), 0) << dump();
}

INSTANTIATE_TEST_SUITE_P(
    Deaths, LauncherDies,
    testing::Values(
        DeathCase{"AfterRegisterPlugin", L"good", kRunHost, {L"await-plugin"}, false, true},
        DeathCase{"KilledFromOutside", L"good", kRunHost,
                  {L"await-plugin", L"call start => S_OK", L"await-finish"}, true, true},
        DeathCase{"WhilePluginThreadsReport", L"flood", kRunHost, {L"await-plugin", L"call start => S_OK"}, true, true},
        // The main thread is inside the plug-in's stop for good: it is cut off.
        DeathCase{"WhileTheHostIsInsideAPluginCall", L"stop_hangs", kRunHost,
                  {L"await-plugin", L"call start => S_OK", L"await-finish", L"{ready}", L"call stop 0 => failed",
                   L"serve 60000"},
                  true, false},
        DeathCase{"AdminHost", L"good", kRunAdminHost, {L"await-admin-host"}, false, false},
        DeathCase{"AdminHostAndTheElevatedHostItStarted", L"good", kRunAdminHost,
                  {L"await-admin-host", L"admin startElevated 2.0 4 => S_OK", L"await-plugin"}, false, true, 2}),
    [](const testing::TestParamInfo<DeathCase>& info) { return info.param.name; });

// ---- Sessions the simulator plays to the end ----

struct RudeCase {
    SessionCase session;
    bool pluginDeinitialized = true; // exactly once, and its last call
};

class RudeLauncher : public testing::TestWithParam<RudeCase>, protected SessionRunner {};

TEST_P(RudeLauncher, GetsDefinedAnswersAndTheHostEndsAsItsCodeSays)
{
    const SessionCase& session = GetParam().session;
    EXPECT_EQ(runSession(session), 0u) << dump();
    const std::vector<std::string> transcript = readTextLines(transcript_);
    const std::vector<std::string> log = readLogMessages(log_);
    EXPECT_EQ(missingWholeInOrder(readLogEntries(log_), session.logged), std::nullopt) << dump();
    EXPECT_EQ(missingInOrder(transcript, session.transcribed), std::nullopt) << dump();
    for (const std::string& text : session.absent)
        EXPECT_EQ(missingInOrder(log, {text}), text) << dump();
    EXPECT_LE(countHolding(transcript, "IPluginSystem::unregisterPlugin("), 1) << dump();
    const std::vector<std::string> diary = readTextLines(diary_);
    EXPECT_EQ(countHolding(diary, "initialize pid "), 1) << dump();
    if (GetParam().pluginDeinitialized)
        expectDeinitializedOnceAndLast(diary, dump());
}

// The milliseconds from the step that holds `step` to the end of the host, by
// the transcript's timestamps and the host's lifetime.
long hostEndAfterStep(const std::vector<std::string>& transcript, const std::string& step)
{
    long stepAt = -1, startedAt = -1, lifetime = -1;
    for (const std::string& line : transcript) {
        double seconds = 0; // "[12.345] ..."
        if (std::sscanf(line.c_str(), "[%lf]", &seconds) != 1)
            continue;
        const long at = static_cast<long>(seconds);
        if (line.find("step: " + step) != std::string::npos)
            stepAt = at;
        else if (line.find("started ombrix.exe") != std::string::npos)
            startedAt = at;
        else if (const auto exited = line.find(" after "); exited != std::string::npos &&
                                                             line.find("host exited with") != std::string::npos)
            lifetime = std::stol(line.substr(exited + 7));
    }
    return stepAt < 0 || startedAt < 0 || lifetime < 0 ? -1 : startedAt + lifetime - stepAt;
}

// The launcher hangs in its handler of a call the host or the plug-in waits
// for: deinitialize still ends the host within 10 s of its call.
struct HangCase {
    const char* name;
    const wchar_t* plugin;
    std::vector<std::wstring> steps;
};

class LauncherHangs : public testing::TestWithParam<HangCase>, protected SessionRunner {};

TEST_P(LauncherHangs, DeinitializeStillEndsTheHostWithinTenSeconds)
{
    const HangCase& hang = GetParam();
    EXPECT_EQ(runSession({.name = hang.name,
                          .plugin = hang.plugin,
                          .steps = hang.steps,
                          .logged = {},
                          .options = L"--timestamps --call-limit=40000"}),
              0u)
        << dump();
    const long endedAfter = hostEndAfterStep(readTextLines(transcript_), "call deinitialize");
    EXPECT_GE(endedAfter, 0) << dump();
    EXPECT_LE(endedAfter, 10000) << dump();
    EXPECT_EQ(countHolding(readLogMessages(log_), "deinitialize did not end within 8000 ms"), 1) << dump();
}

INSTANTIATE_TEST_SUITE_P(
    Hangs, LauncherHangs,
    testing::Values(HangCase{"InUnregisterPlugin", L"good",
                             {L"await-plugin", L"call start => S_OK", L"await-finish", L"hang unregisterPlugin 12000",
                              L"call deinitialize => failed", L"expect-exit 11"}},
                    // The plug-in's deinitialize joins threads stuck in a report.
                    HangCase{"InAReportThePluginWaitsFor", L"flood",
                             {L"await-plugin", L"call start => S_OK", L"hang onProgress 12000",
                              L"call deinitialize => failed", L"expect-exit 11"}}),
    [](const testing::TestParamInfo<HangCase>& info) { return info.param.name; });

// ---- Calls into the host from inside the launcher's own handlers ----

// The reenter plug-in writes "inside <operation>" to the launcher's log first
// thing in each operation, on the host's main thread, which then waits in that
// call while COM delivers the launcher's nested call.
struct Outer {
    const wchar_t* name; // as the plug-in writes it
    std::vector<std::wstring> before; // steps up to the nesting
    std::wstring call; // the step that makes the outer call; empty: the dialog's answer
    bool dialogExists; // a dialog the nested onDialogFinish can name
};

struct Nested {
    const wchar_t* call; // IUpdatePlugin operation and arguments
    const wchar_t* answer; // while the plug-in is in another operation
    bool endsTheHost; // a deferred deinitialize
};

const std::vector<Outer> kOuters{
    {L"name", {L"await-plugin", L"call start => S_OK", L"await-finish"}, L"call name => S_OK Alpha", true},
    {L"start", {L"await-plugin"}, L"call start => S_OK", false},
    {L"stop", {L"await-plugin", L"call start => S_OK", L"await-finish"}, L"call stop 0 => S_OK", true},
    {L"deinitialize", {L"await-plugin", L"call start => S_OK", L"await-finish"}, L"call deinitialize => S_OK", true},
    // The dialog's answer comes from the simulator while it waits for the finish.
    {L"onDialogFinish", {L"await-plugin"}, L"", true},
};

const std::vector<Nested> kNesteds{
    {L"deinitialize", L"S_OK", true},
    {L"stop 0", L"S_OK", false},
    {L"name", kBusy, false},
    {L"start", kBusy, false},
    {L"onDialogFinish 1 2", L"S_OK", false},
};

std::vector<RudeCase> nestedCalls()
{
    std::vector<RudeCase> cases;
    static std::vector<std::string> names;
    names.reserve(kOuters.size() * kNesteds.size());
    for (const Outer& outer : kOuters) {
        for (const Nested& nested : kNesteds) {
            const bool outerIsDeinitialize = std::wstring(outer.name) == L"deinitialize";
            const bool nestedIsDialog = std::wstring(nested.call).starts_with(L"onDialogFinish");
            // After an accepted deinitialize nothing else reaches the plug-in,
            // and an answer to a dialog that does not exist yet reaches nobody.
            const std::wstring answer =
                outerIsDeinitialize || (nestedIsDialog && !outer.dialogExists) ? L"E_UNEXPECTED" : nested.answer;
            std::vector<std::wstring> steps = outer.before;
            steps.push_back(L"nest \"writeLog:inside " + std::wstring(outer.name) + L"\" " + nested.call + L" => " +
                            answer);
            if (!outer.call.empty())
                steps.push_back(outer.call);
            else
                steps.insert(steps.end(), {L"call start => S_OK", L"await-finish"});
            const bool ended = outerIsDeinitialize || (nested.endsTheHost && answer == L"S_OK");
            if (!ended)
                steps.push_back(L"call deinitialize => S_OK");
            steps.push_back(L"expect-exit 0");
            std::string name;
            for (const wchar_t* part : {outer.name, L"_", nested.call})
                for (const wchar_t* c = part; *c != L'\0'; ++c)
                    if (std::iswalnum(*c) || *c == L'_')
                        name += static_cast<char>(*c);
            names.push_back(name);
            cases.push_back({{.name = names.back().c_str(),
                              .plugin = L"reenter",
                              .steps = steps,
                              .logged = {},
                              .transcribed = {"nested IUpdatePlugin::"}}});
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Nested, RudeLauncher, testing::ValuesIn(nestedCalls()),
                         [](const testing::TestParamInfo<RudeCase>& info) { return info.param.session.name; });

INSTANTIATE_TEST_SUITE_P(
    Lifetime, RudeLauncher,
    testing::Values(
        // The launcher lets go without deinitialize: the plug-in still gets it.
        RudeCase{{.name = "ReleasedAfterTheFinish",
                  .plugin = L"good",
                  .steps = {L"await-plugin", L"call start => S_OK", L"await-finish", L"release", L"expect-exit 10"},
                  .logged = {kLauncherReleased,
                             "2 | CUpdatePlugin::registerFarewell | plugin_id: 1 | deinitialize plugin..."}}},
        RudeCase{{.name = "ReleasedBeforeTheStart",
                  .plugin = L"good",
                  .steps = {L"await-plugin", L"release", L"expect-exit 10"},
                  .logged = {kLauncherReleased,
                             "2 | CUpdatePlugin::registerFarewell | plugin_id: 1 | deinitialize plugin..."}}},
        RudeCase{{.name = "InitializeTwiceTouchesNothing",
                  .plugin = L"good",
                  .steps = {L"await-plugin", L"call initialize => E_UNEXPECTED", L"call name => S_OK Alpha",
                            L"call deinitialize => S_OK", L"expect-exit 0"},
                  .logged = {"0 | CUpdatePlugin::initialize | plugin_id: 1 | error: initialize was called before, "
                             "refused (initialization)",
                             "2 | CUpdatePlugin::deinitialize | plugin_id: 1 | deinitialize plugin..."}}},
        // Refused before it changes anything: deinitialize still reaches the launcher.
        RudeCase{{.name = "DeinitAdminHostOnAPluginHostChangesNothing",
                  .plugin = L"good",
                  .steps = {L"await-plugin", L"admin-on-plugin deinitAdminHost => E_UNEXPECTED",
                            L"call deinitialize => S_OK", L"expect-exit 0"},
                  .logged = {"0 | CUpdatePlugin::deinitAdminHost | plugin_id: 1 | error: invalid state during "
                             "deinitAdminHost",
                             "2 | CUpdatePlugin::deinitialize | plugin_id: 1 | deinitialize plugin..."},
                  .transcribed = {"IPluginSystem::unregisterPlugin(object) -> S_OK"}}},
        // A nested call after deinitialize was accepted gets the invalid state, not a second run.
        RudeCase{{.name = "SecondDeinitializeIsRefused",
                  .plugin = L"good",
                  .steps = {L"await-plugin", L"nest unregisterPlugin deinitialize => E_UNEXPECTED",
                            L"nest unregisterPlugin name => E_UNEXPECTED", L"call deinitialize => S_OK",
                            L"expect-exit 0"},
                  .logged = {"2 | CUpdatePlugin::deinitialize | plugin_id: 1 | deinitialize plugin...",
                             "2 | CUpdatePlugin::deinitialize | plugin_id: 1 | deinitialize plugin...",
                             "0 | CUpdatePlugin::deinitialize | plugin_id: 1 | error: invalid state of pluginDllObject "
                             "(deinitialize)",
                             "0 | CUpdatePlugin::name | plugin_id: 1 | error: invalid state of pluginDllObject"},
                  .transcribed = {"nested IUpdatePlugin::deinitialize() -> 0x8000FFFF",
                                  "nested IUpdatePlugin::name() -> 0x8000FFFF"}}}),
    [](const testing::TestParamInfo<RudeCase>& info) { return info.param.session.name; });

} // namespace
