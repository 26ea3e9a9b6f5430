// The callbacks a plug-in calls, against the launcher simulator in its own
// process: this program plays the plug-in (and, for dialog answers, the host's
// IPluginSystemEvents), the simulator records what reaches the launcher.
#include "automation_structures.h"
#include "err/utf.h"
#include "log/log.h"
#include "plugin_events_callback.h"
#include "plugin_system_callback.h"
#include "support/com_apartment.h"
#include "support/launcher_simulator.h"
#include "support/malloc_spy.h"
#include "support/test_support.h"
#include "system/win32/com_object.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <thread>

namespace {

using namespace TestSupport;
using HLXPlugins::DialogButton;
using HLXPlugins::DialogInfo;
using Microsoft::WRL::ComPtr;
using testing::Contains;
using testing::ElementsAre;
using testing::HasSubstr;

constexpr std::uint32_t kPluginId = 7;

// The host's log of this program, one file for the whole run.
class HostLog : public testing::Environment {
public:
    void SetUp() override { setLogPath((dir_ / L"host.log").wstring()); }

    static std::filesystem::path path() { return dir_ / L"host.log"; }
    static std::size_t mark() { return readLogLines(path()).size(); }
    // "level | function | message" of every line written since `from`.
    static std::vector<std::string> since(std::size_t from)
    {
        std::vector<std::string> lines;
        const std::vector<std::string> all = readLogLines(path());
        static const std::regex line(R"(^[^|]* - \| (\d+) \| [^|]*\| [^|]*\| [^|]*\| ([^|]*) \| \d+ \| (.*)$)");
        for (std::size_t i = from; i < all.size(); ++i) {
            std::smatch m;
            lines.push_back(std::regex_match(all[i], m, line) ? m[1].str() + " | " + m[2].str() + " | " + m[3].str()
                                                                : all[i]);
        }
        return lines;
    }

private:
    static inline TempDir dir_;
};

testing::Environment* const environments[] = {testing::AddGlobalTestEnvironment(new MainApartment),
                                    testing::AddGlobalTestEnvironment(new HostLog)};

std::string line(const std::string& level, const std::string& function, const std::string& message)
{
    return level + " | " + function + " | plugin_id: 7 | " + message;
}

// Stands in for the host's object until the update plug-in exists: the launcher
// answers a dialog through its IPluginSystemEvents, which finds the callback.
class DialogAnswers : public System::Win32::ComObject<IUpdatePlugin, IPluginSystemEvents> {
public:
    explicit DialogAnswers(std::shared_ptr<DialogCallbacksContainer> dialogs) : dialogs_(std::move(dialogs)) {}

    HRESULT STDMETHODCALLTYPE onDialogFinish(ULONG dialogId, LONG eventId) override
    {
        if (HLXPlugins::IPluginDialogCallback* callback = dialogs_->find(dialogId))
            callback->onDialogFinish(eventId);
        ++answered;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE initialize(IPluginSystem*, ULONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE deinitialize() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE name(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE description(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE versionString(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE setAdditionalProp(BSTR, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE getAdditionalProp(BSTR, BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE start(IUpdatePluginEvents*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE error(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE stop(VARIANT_BOOL) override { return E_NOTIMPL; }

    std::atomic<int> answered{0};

private:
    std::shared_ptr<DialogCallbacksContainer> dialogs_;
};

class RecordingCallback : public HLXPlugins::IPluginDialogCallback {
public:
    void onDialogFinish(std::int32_t eventId) override
    {
        events.push_back(eventId);
        onMainThread = onMainThread && ::GetCurrentThreadId() == mainThread;
    }
    std::vector<std::int32_t> events;
    DWORD mainThread = ::GetCurrentThreadId();
    bool onMainThread = true;
};

class PluginCallbacks : public testing::Test {
protected:
    // A simulator with `options`, and both callbacks bound to it.
    void bind(const std::wstring& options)
    {
        const std::wstring eventsItem = L"ombrix-test-sink-" + std::to_wstring(::GetCurrentProcessId());
        ASSERT_TRUE(sim_.start(options, eventsItem)) << std::hex << sim_.lastLookup;
        ASSERT_TRUE(system_.init(sim_.system, kPluginId));
        system_.setDialogCallbacks(dialogs_);
        ASSERT_TRUE(events_.init(sim_.events, kPluginId, ::GetCurrentThreadId()));
        mark_ = HostLog::mark();
    }

    // The transcript's calls of the launcher's objects, without the simulator's steps.
    std::vector<std::string> launcherCalls()
    {
        EXPECT_EQ(sim_.finish(), 0u);
        std::vector<std::string> calls;
        for (const std::string& entry : sim_.transcriptLines())
            if (entry.rfind("IPluginSystem::", 0) == 0 || entry.rfind("IUpdatePluginEvents::", 0) == 0 ||
                entry.rfind("called ", 0) == 0)
                calls.push_back(entry);
        return calls;
    }

    // Runs `body` on a thread of its own, as plug-in threads call, serving this apartment meanwhile.
    static void onPluginThread(const std::function<void()>& body)
    {
        std::atomic<bool> done{false};
        std::thread thread([&] {
            body();
            done = true;
        });
        pumpUntil([&] { return done.load(); });
        thread.join();
    }

    static std::vector<std::string> callsStartingWith(const std::vector<std::string>& calls, const std::string& prefix)
    {
        std::vector<std::string> matching;
        std::copy_if(calls.begin(), calls.end(), std::back_inserter(matching),
                     [&](const std::string& call) { return call.rfind(prefix, 0) == 0; });
        return matching;
    }

    TempDir dir_;
    LauncherSimulator sim_{dir_ / L"transcript.txt"};
    std::shared_ptr<DialogCallbacksContainer> dialogs_ = std::make_shared<DialogCallbacksContainer>();
    PluginSystemCallback system_;
    PluginEventsCallback events_;
    std::size_t mark_ = 0;
};

// Dialog ids are process-wide: this test runs first, so its first dialog is 1.
TEST_F(PluginCallbacks, DialogsReachTheLauncherAndTheirAnswersTheCallback)
{
    bind(L"--dialog-event=42");
    const ComPtr<DialogAnswers> answers = DialogAnswers::create<DialogAnswers>(dialogs_);
    ASSERT_EQ(sim_.system->registerPlugin(answers.Get(), kPluginId), S_OK);

    RecordingCallback callback;
    const DialogButton buttons[] = {{3, L"Yes", L"Go on"}, {4, L"No", L""}};
    const DialogButton nullHint[] = {{3, L"Yes", nullptr}};
    const HLXPlugins::MessageArg args[] = {{L"2 GB", 9}};
    const DialogInfo full{L"Update", L"Install %1?", 1, args, 2, buttons, 4, 1, 100, L"typed", true, false};
    DialogInfo typeTextIgnored = full;
    typeTextIgnored.type = 5;
    DialogInfo zeroCountWithButtons = full;
    zeroCountWithButtons.buttonCount = 0;
    DialogInfo countWithoutButtons = full;
    countWithoutButtons.buttons = nullptr;
    DialogInfo noButtons = full;
    noButtons.buttonCount = 0;
    noButtons.buttons = nullptr;
    DialogInfo hintless = full;
    hintless.buttonCount = 1;
    hintless.buttons = nullHint;
    DialogInfo captionless = full;
    captionless.caption = nullptr;

    struct Row {
        const char* what;
        std::function<std::int32_t()> call;
        std::int32_t result;
    };
    const Row rows[] = {
        {"hint fails", [&] { return system_.showDialogEx(&hintless, &callback); }, -1},
        {"full", [&] { return system_.showDialogEx(&full, &callback); }, 0},
        {"type text only with 100", [&] { return system_.showDialogEx(&typeTextIgnored, &callback); }, 0},
        {"count 0, buttons", [&] { return system_.showDialogEx(&zeroCountWithButtons, &callback); }, -1},
        {"count 2, no buttons", [&] { return system_.showDialogEx(&countWithoutButtons, &callback); }, -1},
        {"count 0, no buttons", [&] { return system_.showDialogEx(&noButtons, &callback); }, 0},
        {"no caption", [&] { return system_.showDialogEx(&captionless, &callback); }, -1},
        {"no callback", [&] { return system_.showDialogEx(&full, nullptr); }, -1},
        {"no request", [&] { return system_.showDialogEx(nullptr, &callback); }, -1},
        {"short form", [&] { return system_.showDialog(L"Text", L"Title", 2, buttons, 7, &callback); }, 0},
        {"styled short form", [&] { return system_.showStyledDialog(L"Text", L"Title", 1, buttons, 7, &callback); }, 0},
        {"short form, null buttons", [&] { return system_.showDialog(L"Text", L"Title", 0, nullptr, 7, &callback); }, -1},
    };
    for (const Row& row : rows) {
        std::int32_t result = 99;
        onPluginThread([&] { result = row.call(); });
        EXPECT_EQ(result, row.result) << row.what;
    }
    ASSERT_TRUE(pumpUntil([&] { return answers->answered == 5; }));
    EXPECT_EQ(callback.events, std::vector<std::int32_t>(5, 42));
    EXPECT_TRUE(callback.onMainThread);
    EXPECT_EQ(dialogs_->find(1), &callback);

    EXPECT_THAT(HostLog::since(mark_),
                ElementsAre(line("2", "PluginSystemCallback::showDialogEx", "Show message: caption=\"Update\", message=\"Install %1?\""),
                            line("0", "PluginSystemCallback::showDialogEx", "error: failed to alloc button's hint string"),
                            testing::_, testing::_, testing::_,
                            line("0", "PluginSystemCallback::showDialogEx", "error: invalid argument"), testing::_,
                            line("0", "PluginSystemCallback::showDialogEx", "error: invalid argument"), testing::_,
                            line("2", "PluginSystemCallback::showDialogEx", "Show message: caption=\"(null)\", message=\"Install %1?\""),
                            line("0", "PluginSystemCallback::showDialogEx", "error: invalid argument"), testing::_,
                            line("0", "PluginSystemCallback::showDialogEx", "error: invalid argument"),
                            line("0", "PluginSystemCallback::showDialogEx", "error: invalid argument"), testing::_,
                            testing::_));
    const std::string sent = "{\"Update\", \"Install %1?\", args [9:\"2 GB\"], buttons [3:\"Yes\":\"Go on\", 4:\"No\":\"\"], default 4, style 1, ";
    const std::vector<std::string> calls = launcherCalls();
    EXPECT_THAT(callsStartingWith(calls, "IPluginSystem::"),
                ElementsAre("IPluginSystem::registerPlugin(object, 7) -> S_OK",
                            "IPluginSystem::showDialogEx(7, 1, " + sent + "type 100, \"typed\", flags 10}) -> S_OK",
                            "IPluginSystem::showDialogEx(7, 2, " + sent + "type 5, (null), flags 10}) -> S_OK",
                            "IPluginSystem::showDialogEx(7, 3, {\"Update\", \"Install %1?\", args [9:\"2 GB\"], buttons (null), "
                            "default 4, style 1, type 100, \"typed\", flags 10}) -> S_OK",
                            "IPluginSystem::showDialogEx(7, 4, {\"Title\", \"Text\", args (null), buttons [3:\"Yes\":\"Go on\", "
                            "4:\"No\":\"\"], default 3, style 0, type 7, (null), flags 00}) -> S_OK",
                            "IPluginSystem::showDialogEx(7, 5, {\"Title\", \"Text\", args (null), buttons [3:\"Yes\":\"Go on\"], "
                            "default 3, style 1, type 7, (null), flags 00}) -> S_OK"));
    EXPECT_THAT(callsStartingWith(calls, "called "),
                ElementsAre("called IPluginSystemEvents::onDialogFinish(1, 42) -> S_OK",
                            "called IPluginSystemEvents::onDialogFinish(2, 42) -> S_OK",
                            "called IPluginSystemEvents::onDialogFinish(3, 42) -> S_OK",
                            "called IPluginSystemEvents::onDialogFinish(4, 42) -> S_OK",
                            "called IPluginSystemEvents::onDialogFinish(5, 42) -> S_OK"));
}

// The short forms take the first button as the default one: with a count of 0
// they read no button, not even where the pointer leads to no memory at all.
TEST(PluginSystemCallbackDialogs, ShortFormsWithoutButtonsReadNoButton)
{
    constexpr SIZE_T kPage = 4096;
    auto* pages = static_cast<char*>(::VirtualAlloc(nullptr, 2 * kPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(pages, nullptr);
    DWORD previous = 0;
    ASSERT_TRUE(::VirtualProtect(pages + kPage, kPage, PAGE_NOACCESS, &previous));
    const auto* nowhere = reinterpret_cast<const HLXPlugins::DialogButton*>(pages + kPage);
    PluginSystemCallback system;
    RecordingCallback callback;
    EXPECT_EQ(system.showDialog(L"Text", L"Title", 0, nowhere, 7, &callback), -1);
    EXPECT_EQ(system.showStyledDialog(L"Text", L"Title", 0, nowhere, 7, &callback), -1);
    ::VirtualFree(pages, 0, MEM_RELEASE);
}

TEST_F(PluginCallbacks, ForwardersReachTheLauncherWithThePluginId)
{
    bind(L"--main-window=4294967298");
    onPluginThread([&] {
        system_.writeLog(L"from the plug-in \u00e9", 3);
        system_.writeLog(nullptr, 3);
        system_.setGameCanStart(true);
        system_.setCurrentPartIntegrity(false);
        system_.setCurrentPartVersion(L"1.2.3");
        system_.setCurrentPartVersion(nullptr);
        EXPECT_EQ(system_.mainWindow(), 4294967298u);
        system_.restartAgent();
        system_.ombrixClosed(3, 259);
        events_.onStart();
        events_.onProgress(-5);
        events_.onStatusInfo(L"Downloading");
        events_.onStatusInfo(nullptr);
        events_.onFinish(true);
        events_.onFinish(false);
    });
    EXPECT_THAT(HostLog::since(mark_),
                ElementsAre(line("2", "PluginSystemCallback::setGameCanStart", "set game can start: true"),
                            line("2", "PluginSystemCallback::setCurrentPartIntegrity", "set current part integrity: false"),
                            line("2", "PluginSystemCallback::setCurrentPartVersion", "set current part version: 1.2.3"),
                            line("0", "PluginSystemCallback::setCurrentPartVersion", "error: invalid argument")));
    EXPECT_THAT(launcherCalls(),
                ElementsAre("IPluginSystem::writeLog(\"from the plug-in \xC3\xA9\", 3) -> S_OK",
                            "IPluginSystem::setGameCanStart(7, true) -> S_OK",
                            "IPluginSystem::setCurrentPartIntegrity(7, false) -> S_OK",
                            "IPluginSystem::setCurrentPartVersion(7, \"1.2.3\") -> S_OK",
                            "IPluginSystem::mainWindow() -> S_OK 4294967298", "IPluginSystem::restartAgent(true) -> S_OK",
                            "IPluginSystem::ombrixClosed(3, 259) -> S_OK", "IUpdatePluginEvents::onStart(7) -> S_OK",
                            "IUpdatePluginEvents::onProgress(7, -5) -> S_OK",
                            "IUpdatePluginEvents::onStatusInfo(7, \"Downloading\") -> S_OK",
                            "IUpdatePluginEvents::onFinish(7, true) -> S_OK",
                            "IUpdatePluginEvents::onFinish(7, false) -> S_OK"));
}

// Every launcher call fails: each forwarder logs exactly one line and answers its neutral result.
TEST_F(PluginCallbacks, FailingLauncherGivesOneLineAndTheNeutralResult)
{
    std::wstring options;
    for (const wchar_t* operation :
         {L"language", L"installationId", L"getGameWorkDir", L"writeLog", L"setGameCanStart", L"setCurrentPartIntegrity",
          L"setCurrentPartVersion", L"mainWindow", L"restartAgent", L"ombrixClosed", L"showDialogEx",
          L"setLanguageSubstitutions", L"setMultiLanguageDictionary", L"onStart", L"onProgress", L"onStatusInfo"})
        options += L" --fail=" + std::wstring(operation) + L"=0x80004005";
    bind(options);
    wchar_t buffer[8] = L"keep";
    RecordingCallback callback;
    const DialogButton button{1, L"OK", L""};
    const wchar_t* substitutes[] = {L"x"};
    const HLXPlugins::LanguageSubstitution substitution{L"de", 1, substitutes};
    const HLXPlugins::DictionaryEntry entry{L"a", L"b", L"c"};
    const HLXPlugins::LanguageDictionary dictionary{L"de", 1, &entry};
    struct Row {
        const char* function;
        std::function<std::int64_t()> call;
        std::int64_t neutral;
        const char* message;
    };
    const char* const failed = "failed plugin system callback, HRESULT = 0x80004005";
    const Row rows[] = {
        {"language", [&] { return system_.language(buffer, 8); }, 0, failed},
        {"installationId", [&] { return system_.installationId(buffer, 8); }, 0, failed},
        {"gameWorkDir", [&] { return system_.gameWorkDir(buffer, 8); }, 0, failed},
        {"writeLog", [&] { system_.writeLog(L"text", 1); return 0; }, 0,
         "failed plugin system callback, message: text, HRESULT = 0x80004005"},
        {"mainWindow", [&] { return static_cast<std::int64_t>(system_.mainWindow()); }, 0, failed},
        {"restartAgent", [&] { system_.restartAgent(); return 0; }, 0, failed},
        {"ombrixClosed", [&] { system_.ombrixClosed(3, 1); return 0; }, 0, failed},
        {"showDialog", [&] { return system_.showDialog(L"m", L"c", 1, &button, 0, &callback); }, -1, failed},
        {"setLanguageSubstitutions", [&] { return system_.setLanguageSubstitutions(nullptr, 1, &substitution); }, -1, failed},
        {"setMultiLanguageDictionary", [&] { return system_.setMultiLanguageDictionary(1, &dictionary); }, -1, failed},
    };
    for (const Row& row : rows) {
        const std::size_t before = HostLog::mark();
        std::int64_t result = 99;
        onPluginThread([&] { result = row.call(); });
        EXPECT_EQ(result, row.neutral) << row.function;
        std::vector<std::string> errors;
        for (const std::string& entry : HostLog::since(before))
            if (entry.rfind("0 | ", 0) == 0)
                errors.push_back(entry);
        const std::string where = row.function == std::string("showDialog") ? "showDialogEx" : row.function;
        EXPECT_THAT(errors, ElementsAre(line("0", "PluginSystemCallback::" + where, row.message))) << row.function;
    }
    EXPECT_STREQ(buffer, L"keep");

    const std::size_t before = HostLog::mark();
    onPluginThread([&] {
        events_.onStart();
        events_.onProgress(1);
        events_.onStatusInfo(L"s");
    });
    const std::string failedEvent = "failed plugin events callback, HRESULT = 0x80004005";
    EXPECT_THAT(HostLog::since(before), ElementsAre(line("0", "PluginEventsCallback::onStart", failedEvent),
                                                    line("0", "PluginEventsCallback::onProgress", failedEvent),
                                                    line("0", "PluginEventsCallback::onStatusInfo", failedEvent)));
}

TEST_F(PluginCallbacks, StringGettersFollowTheBufferProtocol)
{
    bind(L"--language=de-DE");
    struct Row {
        bool withBuffer;
        std::int32_t size;
        std::int32_t result;
        std::wstring buffer; // its whole content afterwards, 8 characters
    };
    const std::wstring untouched = L"########";
    const Row rows[] = {
        {false, 10, 6, untouched},
        {true, 0, 6, untouched},
        {true, -1, 6, untouched},
        {true, 5, 6, untouched},
        {true, 6, 5, std::wstring(L"de-DE\0##", 8)},
        {true, 8, 5, std::wstring(L"de-DE\0\0\0", 8)},
    };
    for (const Row& row : rows) {
        std::wstring buffer = untouched;
        std::int32_t result = 0;
        onPluginThread([&] { result = system_.language(row.withBuffer ? buffer.data() : nullptr, row.size); });
        EXPECT_EQ(result, row.result) << row.size;
        EXPECT_EQ(buffer, row.buffer) << row.size;
    }
    // No work directory configured: the launcher answers a null string, which reads as empty.
    std::wstring buffer = untouched;
    std::int32_t empty = 9, emptyNoBuffer = 9, id = 0;
    onPluginThread([&] {
        empty = system_.gameWorkDir(buffer.data(), 3);
        emptyNoBuffer = system_.gameWorkDir(nullptr, 0);
        wchar_t idBuffer[64];
        id = system_.installationId(idBuffer, 64);
    });
    EXPECT_EQ(empty, 0);
    EXPECT_EQ(buffer, std::wstring(L"\0\0\0#####", 8));
    EXPECT_EQ(emptyNoBuffer, 1);
    EXPECT_EQ(id, 40);
    const std::vector<std::string> lines = HostLog::since(mark_);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), line("2", "PluginSystemCallback::language", "got language: de-DE")), 2);
    EXPECT_THAT(lines, Contains(line("2", "PluginSystemCallback::installationId",
                                     "got installation Id: SIMULATEDINSTALLATIONID00000000000000000")));
    EXPECT_EQ(lines.size(), 3u);
}

// No launcher needed: these answer from the object itself.
TEST(PluginSystemCallbackViews, QueryInterfaceAndTheOtherViews)
{
    PluginSystemCallback system;
    HLXPlugins::IPluginSystem* asSystem = &system;
    struct Row {
        const wchar_t* id;
        std::int32_t result;
        void* expected;
    };
    const Row rows[] = {
        {L"7FBDFD9F-695B-4CAA-B59F-09F0F7A4EAD3", 0, asSystem},
        {L"7fbdfd9f-695b-4caa-b59f-09f0f7a4ead3", 0, asSystem},
        {L"{7FBDFD9F-695B-4CAA-B59F-09F0F7A4EAD3}", -2, nullptr},
        {L"7FBDFD9F-695B-4CAA-B59F-09F0F7A4EAD", -2, nullptr},
        {L"7FBDFD9F-695B-4CAA-B59F-09F0F7A4EAD30", -2, nullptr},
        {L"", -2, nullptr},
        {HLXPlugins::kIPluginSystemInternalId, 0, static_cast<HLXPlugins::IPluginSystemInternal*>(&system)},
    };
    for (const Row& row : rows) {
        void* out = nullptr;
        EXPECT_EQ(asSystem->queryInterface(row.id, &out), row.result) << Err::toUtf8(row.id);
        EXPECT_EQ(out, row.expected) << Err::toUtf8(row.id);
    }
    void* out = nullptr;
    EXPECT_EQ(asSystem->queryInterface(nullptr, &out), -1);
    EXPECT_EQ(asSystem->queryInterface(HLXPlugins::kIPluginSystemId, nullptr), -1);
    HLXPlugins::IPluginUISystem* ui = nullptr;
    HLXPlugins::IPluginLangSystem* lang = nullptr;
    EXPECT_EQ(asSystem->uiSystem(nullptr), -1);
    EXPECT_EQ(asSystem->langSystem(nullptr), -1);
    EXPECT_EQ(asSystem->uiSystem(&ui), 0);
    EXPECT_EQ(asSystem->langSystem(&lang), 0);
    EXPECT_EQ(ui, static_cast<HLXPlugins::IPluginUISystem*>(&system));
    EXPECT_EQ(lang, static_cast<HLXPlugins::IPluginLangSystem*>(&system));
    // Unbound: no launcher, so the getters answer 0 and nothing else happens.
    wchar_t buffer[4] = L"abc";
    EXPECT_EQ(system.language(buffer, 4), 0);
    EXPECT_STREQ(buffer, L"abc");
}

TEST_F(PluginCallbacks, LanguageDataTravelsWithNullStringsAndBadArgumentsStayHere)
{
    bind(L"");
    const wchar_t* substitutes[] = {L"x", nullptr};
    const HLXPlugins::LanguageSubstitution substitutions[] = {{nullptr, 2, substitutes}, {L"fr", 0, nullptr}};
    const HLXPlugins::LanguageSubstitution negative[] = {{L"de", -1, substitutes}};
    const HLXPlugins::DictionaryEntry entries[] = {{L"a", nullptr, L"\u00e9"}};
    const HLXPlugins::LanguageDictionary dictionaries[] = {{L"de", 1, entries}};
    const HLXPlugins::LanguageDictionary nullEntries[] = {{L"de", 2, nullptr}};
    struct Row {
        std::function<std::int32_t()> call;
        std::int32_t result;
        const char* error; // the one error line, if any
    };
    const Row rows[] = {
        {[&] { return system_.setLanguageSubstitutions(nullptr, 2, substitutions); }, 0, nullptr},
        {[&] { return system_.setLanguageSubstitutions(L"en", 0, substitutions); }, -1, "Invalid argument: languagesCount=0"},
        {[&] { return system_.setLanguageSubstitutions(L"en", -3, substitutions); }, -1, "Invalid argument: languagesCount=-3"},
        {[&] { return system_.setLanguageSubstitutions(L"en", 2, nullptr); }, -1, "Invalid argument: substitutions=(null), languagesCount=2"},
        {[&] { return system_.setLanguageSubstitutions(L"en", 1, negative); }, -1,
         "Invalid argument: substitution 0 has count=-1"},
        {[&] { return system_.setMultiLanguageDictionary(1, dictionaries); }, 0, nullptr},
        {[&] { return system_.setMultiLanguageDictionary(3, nullptr); }, -1,
         "Invalid argument: languagesCount=3, languageDictionary=0"},
        {[&] { return system_.setMultiLanguageDictionary(-1, dictionaries); }, -1, nullptr},
        {[&] { return system_.setMultiLanguageDictionary(1, nullEntries); }, -1,
         "Invalid argument: dictionary 0 has count=2"},
    };
    for (const Row& row : rows) {
        const std::size_t before = HostLog::mark();
        std::int32_t result = 99;
        onPluginThread([&] { result = row.call(); });
        EXPECT_EQ(result, row.result);
        std::vector<std::string> errors;
        for (const std::string& entry : HostLog::since(before))
            if (entry.rfind("0 | ", 0) == 0)
                errors.push_back(entry.substr(entry.find("plugin_id: 7 | ") + 15));
        if (row.error != nullptr)
            EXPECT_THAT(errors, ElementsAre(row.error));
        else
            EXPECT_EQ(errors.size(), row.result == 0 ? 0u : 1u);
    }
    EXPECT_THAT(launcherCalls(),
                ElementsAre("IPluginSystem::setLanguageSubstitutions(7, (null), 2, [(null):[\"x\", (null)], \"fr\":(null)]) -> S_OK",
                            "IPluginSystem::setMultiLanguageDictionary(7, 1, [\"de\":[\"a\"/(null)/\"\xC3\xA9\"]]) -> S_OK"));
}

TEST_F(PluginCallbacks, FailedFinishEndsTheMainLoop)
{
    bind(L"--fail=onFinish=0x80004005");
    for (const bool success : {true, false}) {
        // A message loop of its own stands in for the host's main loop (the test's
        // pump would swallow the quit message).
        std::atomic<DWORD> loopThread{0};
        std::atomic<bool> ended{false};
        WPARAM quitCode = 0;
        std::thread loop([&] {
            MSG message;
            ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
            loopThread = ::GetCurrentThreadId();
            while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
            }
            quitCode = message.wParam;
            ended = true;
        });
        ASSERT_TRUE(pumpUntil([&] { return loopThread != 0; }));
        ASSERT_TRUE(events_.init(nullptr, kPluginId, loopThread));
        onPluginThread([&] { events_.onFinish(success); });
        EXPECT_TRUE(pumpUntil([&] { return ended.load(); })) << success;
        if (!ended)
            ::PostThreadMessageW(loopThread, WM_QUIT, 0, 0);
        loop.join();
        EXPECT_EQ(quitCode, 0xFFFFFFFFu) << success;
    }
    EXPECT_TRUE(HostLog::since(mark_).empty());
}

// 16 plug-in threads report at once, one of them from the multi-threaded apartment:
// the launcher sees every report, in order within each thread.
TEST_F(PluginCallbacks, ConcurrentReportsArriveCompleteAndInOrder)
{
    bind(L"");
    // The count is about load. The 32-bit build's tests run in an emulated
    // machine, where one report across processes takes some 15 ms: a quarter as
    // many there keeps the simulator's two minutes of serving about the host.
#if defined(_WIN64)
    constexpr int kThreads = 16, kReports = 1000;
#else
    constexpr int kThreads = 16, kReports = 250;
#endif
    std::atomic<int> finished{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            if (t == 0)
                ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            for (int i = 0; i < kReports; ++i)
                events_.onProgress(t * 100000 + i);
            if (t == 0)
                ::CoUninitialize();
            ++finished;
        });
    EXPECT_TRUE(pumpUntil([&] { return finished == kThreads; }, 240000));
    for (std::thread& thread : threads)
        thread.join();

    std::vector<int> next(kThreads, 0);
    int received = 0;
    bool ordered = true;
    static const std::regex progress(R"(IUpdatePluginEvents::onProgress\(7, (\d+)\) -> S_OK)");
    for (const std::string& call : launcherCalls()) {
        std::smatch m;
        if (!std::regex_match(call, m, progress))
            continue;
        const int value = std::stoi(m[1].str());
        ordered = ordered && value % 100000 == next[value / 100000]++;
        ++received;
    }
    EXPECT_EQ(received, kThreads * kReports);
    EXPECT_TRUE(ordered);
    EXPECT_TRUE(HostLog::since(mark_).empty());
}

// Dialogs from 8 threads while the main thread looks callbacks up.
TEST_F(PluginCallbacks, ConcurrentDialogsGetUniqueIdsAndEveryPairIsFound)
{
    bind(L"");
    constexpr int kThreads = 8, kDialogs = 25;
    std::vector<RecordingCallback> callbacks(kThreads * kDialogs);
    std::atomic<int> finished{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kDialogs; ++i) {
                const std::wstring caption = std::to_wstring(t * kDialogs + i);
                const DialogButton button{1, L"OK", L""};
                const DialogInfo info{caption.c_str(), L"m", 0, nullptr, 1, &button, 1, 0, 0, nullptr, false, false};
                EXPECT_EQ(system_.showDialogEx(&info, &callbacks[t * kDialogs + i]), 0);
            }
            ++finished;
        });
    int lookups = 0;
    EXPECT_TRUE(pumpUntil([&] {
        for (std::uint32_t id = 1; id < 400; ++id)
            lookups += dialogs_->find(id) != nullptr;
        return finished == kThreads;
    }));
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_GT(lookups, 0);

    std::set<unsigned long> ids;
    static const std::regex dialog(R"re(IPluginSystem::showDialogEx\(7, (\d+), \{"(\d+)".*)re");
    for (const std::string& call : launcherCalls()) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(call, m, dialog)) << call;
        const unsigned long id = std::stoul(m[1].str());
        EXPECT_TRUE(ids.insert(id).second) << id;
        EXPECT_EQ(dialogs_->find(id), &callbacks[std::stoul(m[2].str())]) << call;
    }
    EXPECT_EQ(ids.size(), static_cast<std::size_t>(kThreads * kDialogs));
}

// Every string and array made for a call is freed again, on success and on failure.
// Counted with an IMallocSpy; the test runs with OANOCACHE so freed BSTRs are not cached.
TEST_F(PluginCallbacks, NothingLeaksOnSuccessOrFailure)
{
    bind(L"--fail=setMultiLanguageDictionary=0x80004005");
    const DialogButton buttons[] = {{1, L"Yes", L"h"}, {2, L"No", L"h"}};
    const DialogButton hintless[] = {{1, L"Yes", L"h"}, {2, L"No", nullptr}};
    const HLXPlugins::MessageArg args[] = {{L"a", 1}, {L"b", 2}};
    const DialogInfo good{L"c", L"m", 2, args, 2, buttons, 1, 0, 100, L"t", false, false};
    DialogInfo late = good;
    late.buttons = hintless;
    const wchar_t* substitutes[] = {L"x", L"y"};
    const HLXPlugins::LanguageSubstitution substitutions[] = {{L"de", 2, substitutes}};
    const HLXPlugins::DictionaryEntry entries[] = {{L"a", L"b", L"c"}};
    const HLXPlugins::LanguageDictionary dictionaries[] = {{L"de", 1, entries}};
    RecordingCallback callback;
    const auto everything = [&] {
        wchar_t buffer[64];
        system_.language(buffer, 64);
        system_.writeLog(L"line", 1);
        system_.setCurrentPartVersion(L"1");
        EXPECT_EQ(system_.showDialogEx(&good, &callback), 0);
        EXPECT_EQ(system_.showDialogEx(&late, &callback), -1);
        EXPECT_EQ(system_.setLanguageSubstitutions(L"en", 1, substitutions), 0);
        EXPECT_EQ(system_.setMultiLanguageDictionary(1, dictionaries), -1);
        events_.onStatusInfo(L"status");
    };
    onPluginThread(everything); // proxies and caches of the first call stay
    {
        const BSTR probe = ::SysAllocString(L"probe");
        MallocSpy spy;
        ASSERT_TRUE(spy.registered());
        const BSTR counted = ::SysAllocString(L"counted");
        ASSERT_EQ(spy.live(), 1) << "BSTRs are not counted: is OANOCACHE set?";
        ::SysFreeString(counted);
        ::SysFreeString(probe);
        for (int round = 0; round < 3; ++round)
            onPluginThread(everything);
        EXPECT_EQ(spy.live(), 0);
    }
}

} // namespace
