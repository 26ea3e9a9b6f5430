// The launcher simulator across real process boundaries: this program calls
// the simulator's IPluginSystem, and the simulator calls an object of ours.
#include "err/utf.h"
#include "running_object.h"
#include "support/com_apartment.h"
#include "support/launcher_simulator.h"
#include "support/test_events.h"
#include "support/test_support.h"
#include "system/win32/com_scope.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <wrl/client.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

namespace {

using namespace TestSupport;
using Microsoft::WRL::ComPtr;
using System::Win32::UniqueBstr;
using System::Win32::UniqueHandle;
using testing::Contains;
using testing::ElementsAreArray;
using testing::StartsWith;

const auto* const mainApartment = testing::AddGlobalTestEnvironment(new MainApartment);

BSTR bstr(const wchar_t* text)
{
    return ::SysAllocString(text);
}

class LauncherSimTest : public testing::Test {
protected:
    std::filesystem::path sim() const { return binDirectory() / L"launcher-sim.exe"; }
    std::wstring transcriptArgument() const { return L"--transcript=\"" + transcript_.wstring() + L"\""; }

    TempDir dir_;
    std::filesystem::path transcript_ = dir_ / L"transcript.txt";
};

// Starts the simulator serving its plug-in system until the test lets it go.
class PublishedSimulator : public LauncherSimTest {
protected:
    void start(const std::wstring& options)
    {
        ASSERT_TRUE(sim_.start(options)) << std::hex << sim_.lastLookup;
        system_ = sim_.system;
    }

    unsigned long finish()
    {
        system_.Reset();
        return sim_.finish();
    }

    LauncherSimulator sim_{transcript_};
    ComPtr<IPluginSystem> system_;
};

TEST_F(PublishedSimulator, EveryPluginSystemOperationCrossesTheProcessBoundary)
{
    start(L"--plugin-path=\"C:\\Games\\Pl\u00fcgin\\update.dll\" --work-dir \"\" --language=de-DE --main-window=123456789012");
    IPluginSystem& system = *system_.Get();

    BSTR text = nullptr;
    ASSERT_EQ(system.language(&text), S_OK);
    EXPECT_EQ(UniqueBstr(text).get() ? std::wstring(L"de-DE") : L"", L"de-DE");
    LONGLONG window = 0;
    EXPECT_EQ(system.mainWindow(&window), S_OK);
    EXPECT_EQ(window, 123456789012LL);
    EXPECT_EQ(system.restartAgent(VARIANT_TRUE), S_OK);
    {
        const UniqueBstr line(bstr(L"log \u65e5\u672c"));
        EXPECT_EQ(system.writeLog(line.get(), 2), S_OK);
        EXPECT_EQ(system.writeLog(nullptr, -1), S_OK);
    }
    EXPECT_EQ(system.registerAdminHost(nullptr), S_OK);
    EXPECT_EQ(system.ombrixClosed(7, 0xC0000005), S_OK);
    EXPECT_EQ(system.registerPlugin(nullptr, 7), S_OK);
    EXPECT_EQ(system.unregisterPlugin(nullptr), S_OK);
    ASSERT_EQ(system.getPluginPath(7, &text), S_OK);
    const UniqueBstr path(text);
    EXPECT_EQ(std::wstring(path.get()), L"C:\\Games\\Pl\u00fcgin\\update.dll");
    ASSERT_EQ(system.getGameWorkDir(7, &text), S_OK);
    const UniqueBstr workDir(text);
    EXPECT_EQ(::SysStringLen(workDir.get()), 0u);
    EXPECT_EQ(system.setGameCanStart(7, VARIANT_FALSE), S_OK);
    EXPECT_EQ(system.setCurrentPartIntegrity(7, VARIANT_TRUE), S_OK);
    {
        const UniqueBstr version(bstr(L""));
        EXPECT_EQ(system.setCurrentPartVersion(7, version.get()), S_OK);
    }
    ASSERT_EQ(system.installationId(&text), S_OK);
    const UniqueBstr id(text);
    EXPECT_EQ(::SysStringLen(id.get()), 40u);

    // Structures by value with arrays of structures holding strings.
    const UniqueBstr caption(bstr(L"Update")), message(bstr(L"Install %1?")), yes(bstr(L"Yes")),
        hint(bstr(L"")), argText(bstr(L"2 GB"));
    ButtonAutomation buttons[] = {{1, yes.get(), hint.get()}, {2, nullptr, nullptr}, {3, yes.get(), nullptr}};
    MessageArgAutomation args[] = {{42, argText.get()}};
    DialogAutomation dialog{caption.get(), message.get(), 1, args, 3, buttons, 2, 1, 100, nullptr, 1, 0};
    EXPECT_EQ(system.showDialogEx(7, 1, dialog), S_OK);
    DialogAutomation empty{};
    EXPECT_EQ(system.showDialogEx(7, 2, empty), S_OK);

    const UniqueBstr de(bstr(L"de")), fr(bstr(L"fr")), one(bstr(L"x")), two(bstr(L"\u00e9"));
    BSTR substitutes[] = {one.get(), two.get()};
    LanguageSubstitutionAutomation substitutions[] = {{de.get(), 2, substitutes}, {fr.get(), 0, nullptr}};
    EXPECT_EQ(system.setLanguageSubstitutions(7, nullptr, 2, substitutions), S_OK);
    // The array is a plain top-level pointer: a null one never leaves this process.
    EXPECT_EQ(system.setLanguageSubstitutions(7, de.get(), 0, nullptr), HRESULT_FROM_WIN32(RPC_X_NULL_REF_POINTER));
    LanguageDictionaryEntryAutomation entries[] = {{one.get(), nullptr, two.get()}};
    LanguageDictionaryAutomation dictionaries[] = {{de.get(), 1, entries}};
    EXPECT_EQ(system.setMultiLanguageDictionary(7, 1, dictionaries), S_OK);

    EXPECT_EQ(finish(), 0u);
    const std::vector<std::string> expected{
        "step: publish first",
        "published IPluginSystem as !53721D9E-79A3-4410-94CB-C0BAC1066C09 -> S_OK",
        "step: serve-until ombrix-test-release-" + std::to_string(::GetCurrentProcessId()),
        "IPluginSystem::language() -> S_OK \"de-DE\"",
        "IPluginSystem::mainWindow() -> S_OK 123456789012",
        "IPluginSystem::restartAgent(true) -> S_OK",
        "IPluginSystem::writeLog(\"log \xE6\x97\xA5\xE6\x9C\xAC\", 2) -> S_OK",
        "IPluginSystem::writeLog((null), -1) -> S_OK",
        "IPluginSystem::registerAdminHost((null)) -> S_OK",
        "IPluginSystem::ombrixClosed(7, 3221225477) -> S_OK",
        "IPluginSystem::registerPlugin((null), 7) -> S_OK",
        "IPluginSystem::unregisterPlugin((null)) -> S_OK",
        "IPluginSystem::getPluginPath(7) -> S_OK \"C:\\Games\\Pl\xC3\xBCgin\\update.dll\"",
        "IPluginSystem::getGameWorkDir(7) -> S_OK \"\"",
        "IPluginSystem::setGameCanStart(7, false) -> S_OK",
        "IPluginSystem::setCurrentPartIntegrity(7, true) -> S_OK",
        "IPluginSystem::setCurrentPartVersion(7, \"\") -> S_OK",
        "IPluginSystem::installationId() -> S_OK \"SIMULATEDINSTALLATIONID00000000000000000\"",
        "IPluginSystem::showDialogEx(7, 1, {\"Update\", \"Install %1?\", args [42:\"2 GB\"], buttons [1:\"Yes\":\"\", "
        "2:(null):(null), 3:\"Yes\":(null)], default 2, style 1, type 100, (null), flags 10}) -> S_OK",
        "IPluginSystem::showDialogEx(7, 2, {(null), (null), args (null), buttons (null), default 0, style 0, type 0, (null), "
        "flags 00}) -> S_OK",
        "IPluginSystem::setLanguageSubstitutions(7, (null), 2, [\"de\":[\"x\", \"\xC3\xA9\"], \"fr\":(null)]) -> S_OK",
        "IPluginSystem::setMultiLanguageDictionary(7, 1, [\"de\":[\"x\"/(null)/\"\xC3\xA9\"]]) -> S_OK",
        "all steps done"};
    EXPECT_THAT(readTextLines(transcript_), ElementsAreArray(expected));
}

TEST_F(PublishedSimulator, ConfiguredFailureComesBackUnchanged)
{
    start(L"--fail=getPluginPath=0x80070005 --fail=setGameCanStart=0x8004FFFF --fail=language=0x80004005");
    BSTR text = reinterpret_cast<BSTR>(1);
    EXPECT_EQ(system_->getPluginPath(3, &text), static_cast<HRESULT>(0x80070005));
    EXPECT_EQ(system_->setGameCanStart(3, VARIANT_TRUE), static_cast<HRESULT>(0x8004FFFF));
    EXPECT_EQ(system_->language(&text), E_FAIL);
    EXPECT_EQ(system_->installationId(&text), S_OK);
    ::SysFreeString(text);
    EXPECT_EQ(finish(), 0u);
    EXPECT_THAT(readTextLines(transcript_), Contains("IPluginSystem::getPluginPath(3) -> 0x80070005"));
}

// The other direction: the simulator calls an object that lives in this process.
TEST_F(LauncherSimTest, SimulatorCallsEveryEventsOperationOnAnObjectOfOurs)
{
    TestEvents events;
    const std::wstring item = L"ombrix-test-events-" + std::to_wstring(::GetCurrentProcessId());
    auto published = std::make_unique<RunningObjectRegistration>();
    ASSERT_EQ(published->publish(&events, item.c_str()), S_OK);
    events.result = static_cast<HRESULT>(0x80040201);

    const UniqueHandle sim = startProgram(this->sim(), transcriptArgument() + L" --step=\"call-events " + item + L"\"");
    ASSERT_TRUE(pumpUntilSignalled(sim.get()));
    published.reset();
    DWORD code = 99;
    ::GetExitCodeProcess(sim.get(), &code);
    EXPECT_EQ(code, 0u);

    EXPECT_THAT(events.transcript, ElementsAreArray(std::vector<std::wstring>{
                                       L"onStart 1", L"onProgress 1 0", L"onProgress 1 50", L"onProgress 1 100",
                                       L"onProgress 1 -1", L"onStatusInfo 1 (null)", L"onStatusInfo 1 ",
                                       L"onStatusInfo 1 Downloading J\u00e4ger \u65e5\u672c",
                                       std::wstring(L"onStatusInfo 1 a\0b", 18), L"onFinish 1 -1", L"onFinish 1 0"}));
    EXPECT_THAT(readTextLines(transcript_), Contains("called IUpdatePluginEvents::onStart(1) -> 0x80040201"));
    pumpUntilSignalled(sim.get());
    EXPECT_EQ(events.references, 0u);
}

TEST_F(LauncherSimTest, PlaysTheRegistrationHandshakeWithTheRealHost)
{
    const ChildResult result =
        runProgram(sim(), transcriptArgument() + L" --step=\"registration --regserver\" --step=\"expect-exit 0\"");
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_THAT(readTextLines(transcript_),
                ElementsAreArray(std::vector<testing::Matcher<std::string>>{
                    "step: registration --regserver", "started ombrix.exe --regserver", StartsWith("host pid "),
                    "registration started event signalled by the host", "registration acknowledged",
                    "step: expect-exit 0", StartsWith("host exited with 0 after "), "all steps done"}));
}

// ---- The rude launcher's steps, against a real host ----

struct RudeCase {
    const char* name;
    const wchar_t* plugin; // test_plugin_<plugin>.dll
    std::vector<std::wstring> steps; // once the host registered; {event} names an event of the test
    unsigned long exitCode; // the simulator's
    std::vector<std::string> transcribed; // substrings of transcript lines in order, the last one in the last line
    std::vector<std::string> diary = {}; // substrings of the plug-in's diary lines, in order
    int hangMs = 0; // at least this long from "hanging in" to the next line
};

class RudeLauncher : public LauncherSimTest, public testing::WithParamInterface<RudeCase> {
protected:
    // A host the simulator left behind (it died) ends with the test.
    void endLeftHosts(const std::vector<std::string>& transcript)
    {
        for (const std::string& line : transcript) {
            unsigned long pid = 0;
            if (std::sscanf(line.c_str(), "%*s host pid %lu", &pid) != 1)
                continue;
            const UniqueHandle host(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION,
                                                  FALSE, pid));
            wchar_t image[MAX_PATH] = {};
            DWORD size = MAX_PATH;
            if (host && ::QueryFullProcessImageNameW(host.get(), 0, image, &size) &&
                std::wstring_view(image, size).ends_with(L"ombrix.exe") &&
                ::WaitForSingleObject(host.get(), 0) == WAIT_TIMEOUT) {
                ::TerminateProcess(host.get(), 1);
                ::WaitForSingleObject(host.get(), 10000);
            }
        }
    }

    std::filesystem::path diary_ = dir_ / L"diary.txt";
};

// The milliseconds a --timestamps line starts with.
double stamp(const std::string& line)
{
    double ms = -1;
    std::sscanf(line.c_str(), "[%lf]", &ms);
    return ms;
}

TEST_P(RudeLauncher, StepDoesWhatItSays)
{
    const RudeCase& c = GetParam();
    const std::wstring eventName = L"ombrix-test-signal-" + std::to_wstring(::GetCurrentProcessId());
    const UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
    const std::filesystem::path scenario = dir_ / L"scenario.txt";
    {
        std::wofstream out(scenario);
        out << L"publish first\nrun-host --plugin-id=1 --logpath=\"" << (dir_ / L"host.log").wstring()
            << L"\"\nawait-plugin\n";
        for (std::wstring step : c.steps) {
            if (const auto at = step.find(L"{event}"); at != std::wstring::npos)
                step.replace(at, 7, eventName);
            out << step << L"\n";
        }
    }
    // Not runProgram: a host that outlives the simulator would keep the output pipe open.
    const UniqueHandle simulator =
        startProgram(sim(),
                     transcriptArgument() + L" --timestamps --scenario=\"" + scenario.wstring() +
                         L"\" --plugin-path=test_plugin_" + c.plugin + L".dll --work-dir=\"" +
                         binDirectory().wstring() + L"\"",
                     {{L"TEST_PLUGIN_DIARY", diary_.wstring()}});
    if (::WaitForSingleObject(simulator.get(), 120000) != WAIT_OBJECT_0)
        ::TerminateProcess(simulator.get(), 99);
    DWORD exitCode = 99;
    ::GetExitCodeProcess(simulator.get(), &exitCode);
    const std::vector<std::string> transcript = readTextLines(transcript_);
    endLeftHosts(transcript);
    std::string shown;
    for (const std::string& line : transcript)
        shown += line + "\n";

    EXPECT_EQ(exitCode, c.exitCode) << shown;
    EXPECT_EQ(missingInOrder(transcript, c.transcribed), std::nullopt) << shown;
    ASSERT_FALSE(transcript.empty());
    EXPECT_NE(transcript.back().find(c.transcribed.back()), std::string::npos) << shown;
    if (std::any_of(c.steps.begin(), c.steps.end(), [](const std::wstring& s) { return s.find(L"{event}") != s.npos; })) {
        EXPECT_EQ(::WaitForSingleObject(event.get(), 0), WAIT_OBJECT_0);
    }
    if (!c.diary.empty()) {
        const std::vector<std::string> diary = readTextLines(diary_);
        EXPECT_EQ(missingInOrder(diary, c.diary), std::nullopt);
        // The plug-in's process is the host the simulator started.
        const auto pid = std::find_if(transcript.begin(), transcript.end(),
                                      [](const std::string& l) { return l.find("] host pid ") != std::string::npos; });
        ASSERT_NE(pid, transcript.end());
        ASSERT_FALSE(diary.empty());
        EXPECT_EQ(diary.front(), "initialize pid " + pid->substr(pid->find("] host pid ") + 11));
    }
    if (c.hangMs > 0) {
        const auto hanging = std::find_if(transcript.begin(), transcript.end(),
                                          [](const std::string& l) { return l.find("] hanging in ") != std::string::npos; });
        ASSERT_TRUE(hanging != transcript.end() && hanging + 1 != transcript.end()) << shown;
        EXPECT_GE(stamp(*(hanging + 1)) - stamp(*hanging), c.hangMs) << shown;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Steps, RudeLauncher,
    testing::Values(
        // The test learns that the session got here, then the simulator ends as a crash would.
        RudeCase{"SignalThenDie",
                 L"good",
                 {L"signal {event}", L"die", L"serve 100"},
                 0xDEAD,
                 {"started ombrix.exe --plugin-id=1", "host pid ", "signalled ombrix-test-signal-", "step: die", "dying"}},
        RudeCase{"Release",
                 L"good",
                 {L"call deinitialize => S_OK", L"release", L"expect-exit-within 0 30000"},
                 0,
                 {"IUpdatePlugin::deinitialize() -> S_OK", "released the plug-in objects", "host exited with 0 after ",
                  "all steps done"}},
        // The plug-in's start calls writeLog on the host's main thread; inside
        // it the simulator asks for the name, which the host refuses as busy
        // while start is in the plug-in.
        RudeCase{"NestedCallInsideTheHandler",
                 L"reenter",
                 {L"nest writeLog:inside\\ start name => 0x800700AA", L"call start => S_OK", L"await-finish",
                  L"call deinitialize => S_OK", L"expect-exit 0"},
                 0,
                 {"step: call start", "nested IUpdatePlugin::name() -> 0x800700AA",
                  "IPluginSystem::writeLog(\"inside start\", 1)", "IUpdatePlugin::start() -> S_OK", "all steps done"},
                 {"initialize pid ", "start", "onDialogFinish 1", "deinitialize", "deinitialize returned"}},
        RudeCase{"NestedCallUnlikeItsCheckFailsTheNextStep",
                 L"reenter",
                 {L"nest \"writeLog:inside start\" name => E_FAIL", L"call start => S_OK", L"await-finish"},
                 1,
                 {"nested IUpdatePlugin::name() -> 0x800700AA", "expected 0x80004005", "step: await-finish",
                  "nested call failed: IUpdatePlugin::name() in writeLog: expected 0x80004005",
                  "step failed: await-finish", "ended the host that was still running"}},
        RudeCase{"HangDelaysTheAnswer",
                 L"good",
                 {L"hang onProgress 500", L"call start => S_OK", L"await-finish", L"call deinitialize => S_OK",
                  L"expect-exit 0"},
                 0,
                 {"hanging in onProgress for 500 ms", "IUpdatePluginEvents::onProgress(1, 50) -> S_OK", "all steps done"},
                 {},
                 500}),
    [](const testing::TestParamInfo<RudeCase>& info) { return info.param.name; });

TEST_F(LauncherSimTest, UnknownStepFails)
{
    EXPECT_EQ(runProgram(sim(), transcriptArgument() + L" --step=\"dance\"").exitCode, 1u);
    EXPECT_EQ(runProgram(sim(), L"--no-such-option").exitCode, 2u);
}

} // namespace
