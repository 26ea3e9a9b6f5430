// Plug-in DLLs for the host's tests, which load them through a real host
// process and check what reaches the launcher. Each build of this one source
// picks a misbehaviour with TEST_PLUGIN_KIND="<kind>" and becomes
// test_plugin_<kind>.dll (see CMakeLists.txt). A kind differs from "good" only
// where it names itself below:
//
//   reenter            as "dialog" (its worker opens a dialog whose answer
//                      finishes the run), but name, start, stop, deinitialize and
//                      the dialog's callback first call writeLog("inside <op>", 1)
//                      on the thread they were called on (the host's main thread),
//                      so the host waits in an outgoing call meanwhile
//   slow_deinitialize  deinitialize sleeps 60 s before it returns
//   throw_msvc_object  name raises an MSVC-style exception whose thrown object
//                      counts itself; error tells how many still live
//   seh_caught         (32-bit only) name raises an illegal instruction inside
//                      a structured exception frame of its own, as __try does,
//                      which resumes after it and answers "Handled"
//   language_data      its run sends the language data of language_data.h
//                      (no default language), then finishes; error tells which
//                      of the two calls the host refused, as every_call's does
//
// Every kind keeps a diary when the environment variable TEST_PLUGIN_DIARY
// names a file: each call into the plug-in object or its dialog callback
// appends one line (see Diary below). Without the variable nothing is written.
#include "hlx_plugins.h"
#include "flood_reports.h"
#include "language_data.h"
#include "log_flood_message.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#if defined(_WIN64)
// The linker's symbol for this DLL's own image.
extern "C" IMAGE_DOS_HEADER __ImageBase;
#endif

namespace {

using namespace HLXPlugins;
using namespace std::string_view_literals;

constexpr std::string_view kKind = TEST_PLUGIN_KIND;
constexpr std::array kKinds{
    "good"sv,          "init_false_text"sv,  "init_false_silent"sv, "start_false"sv,
    "size_negative"sv, "size_short"sv,       "size_long"sv,         "embedded_zero"sv,
    "no_export"sv,     "get_object_false"sv, "throw_gcc"sv,         "throw_msvc"sv,
    "throw_caught"sv,  "fault_access"sv,     "fault_illegal"sv,     "fault_stack"sv,
    "fault_worker"sv,  "stop_hangs"sv,       "flood"sv,             "dialog"sv,
    "every_call"sv,    "log_flood"sv,         "reenter"sv,           "slow_deinitialize"sv,
    "throw_msvc_object"sv, "language_data"sv,     "seh_caught"sv,
};
// A misspelt kind in the build would otherwise quietly become "good".
static_assert(std::find(kKinds.begin(), kKinds.end(), kKind) != kKinds.end(), "unknown TEST_PLUGIN_KIND");

constexpr bool kindIs(std::string_view kind)
{
    return kKind == kind;
}


constexpr std::int32_t kInstallButton = 1;
constexpr std::int32_t kLaterButton = 2;

// Answers a text operation with `reported` on every call, whatever the
// buffer; given a buffer, writes at most `size` characters of `text` and a
// terminator (the host's buffer holds the size plus one).
std::int32_t answerText(std::wstring_view text, std::int32_t reported, wchar_t* buffer, std::int32_t size)
{
    if (buffer != nullptr && size > 0) {
        const std::size_t count = std::min(text.size(), static_cast<std::size_t>(size));
        std::copy_n(text.data(), count, buffer);
        buffer[count] = L'\0';
    }
    return reported;
}

// The size a well-behaved plug-in reports: letters and terminator, or 0 for
// nothing to say.
std::int32_t withTerminator(std::wstring_view text)
{
    return text.empty() ? 0 : static_cast<std::int32_t>(text.size() + 1);
}

[[noreturn]] void writeThroughNull()
{
    // Volatile on both levels: the compiler can neither see the null nor drop the store.
    volatile int* volatile target = nullptr;
    *target = 1;
    std::abort(); // not reached: the store faults
}

// What `throw` in an MSVC-built DLL raises, without the throw information a
// C++ runtime would need to match it: the host must classify it by code alone.
[[noreturn]] void raiseMsvcException()
{
    constexpr DWORD kMsvcExceptionCode = 0xE06D7363; // 'msc' | 0xE0000000
    constexpr ULONG_PTR kMsvcMagic = 0x19930520;
    int thrownObject = 0;
#if defined(_WIN64)
    // x86-64 exceptions carry the image base their throw information is relative to.
    const ULONG_PTR params[] = {kMsvcMagic, reinterpret_cast<ULONG_PTR>(&thrownObject), 0,
                                reinterpret_cast<ULONG_PTR>(&__ImageBase)};
#else
    const ULONG_PTR params[] = {kMsvcMagic, reinterpret_cast<ULONG_PTR>(&thrownObject), 0};
#endif
    RaiseException(kMsvcExceptionCode, EXCEPTION_NONCONTINUABLE, static_cast<DWORD>(std::size(params)), params);
    std::abort(); // not reached: the exception cannot be continued
}

#if !defined(_WIN64)
// What __try/__except compiles to on 32-bit Windows: a registration record on
// the stack at the head of the thread's fs:[0] chain. Its handler sees the
// fault before any frame further down, the host's guard among them.
struct OwnSehRecord {
    OwnSehRecord* next;
    void* handler;
};

EXCEPTION_DISPOSITION __cdecl resumeAfterUd2(EXCEPTION_RECORD* record, void*, CONTEXT* context, void*)
{
    if ((record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) != 0 ||
        record->ExceptionCode != EXCEPTION_ILLEGAL_INSTRUCTION)
        return ExceptionContinueSearch;
    context->Eip += 2; // ud2
    context->Eax = 1;
    return ExceptionContinueExecution;
}

// True when the plug-in's own frame handled the fault.
bool faultHandledInOwnFrame()
{
    OwnSehRecord record{reinterpret_cast<OwnSehRecord*>(__readfsdword(0)), reinterpret_cast<void*>(&resumeAfterUd2)};
    __writefsdword(0, reinterpret_cast<DWORD>(&record));
    int handled = 0;
    asm volatile("xorl %0, %0\n\tud2" : "=a"(handled) : : "memory");
    __writefsdword(0, reinterpret_cast<DWORD>(record.next));
    return handled == 1;
}
#endif

// Thrown objects of throw_msvc_object not yet destroyed: the catch block that
// ends an MSVC throw destroys its object through the throw information's
// destructor, and whoever swallows the throw must do the same.
std::atomic<int> liveThrownObjects{0};

#if defined(_WIN64)
void destroyThrownObject(void*)
#else
void __attribute__((thiscall)) destroyThrownObject(void*)
#endif
{
    --liveThrownObjects;
}

// MSVC's throw information as far as the host reads it: attributes, then the
// thrown object's destructor (an offset from the image base on x86-64).
struct ThrowInfo {
    std::uint32_t attributes;
#if defined(_WIN64)
    std::int32_t destructor;
#else
    void* destructor;
#endif
    std::uintptr_t rest[2];
};

[[noreturn]] void raiseMsvcExceptionWithObject()
{
    constexpr DWORD kMsvcExceptionCode = 0xE06D7363;
    constexpr ULONG_PTR kMsvcMagic = 0x19930520;
    static ThrowInfo info{};
    int thrownObject = 0;
    ++liveThrownObjects;
#if defined(_WIN64)
    info.destructor = static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(&destroyThrownObject) -
                                                reinterpret_cast<std::uintptr_t>(&__ImageBase));
    const ULONG_PTR params[] = {kMsvcMagic, reinterpret_cast<ULONG_PTR>(&thrownObject),
                                reinterpret_cast<ULONG_PTR>(&info), reinterpret_cast<ULONG_PTR>(&__ImageBase)};
#else
    info.destructor = reinterpret_cast<void*>(&destroyThrownObject);
    const ULONG_PTR params[] = {kMsvcMagic, reinterpret_cast<ULONG_PTR>(&thrownObject),
                                reinterpret_cast<ULONG_PTR>(&info)};
#endif
    RaiseException(kMsvcExceptionCode, EXCEPTION_NONCONTINUABLE, static_cast<DWORD>(std::size(params)), params);
    std::abort();
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winfinite-recursion"
// Each frame holds a page the compiler cannot drop, and the addition after
// the call keeps it from becoming a tail call (a loop).
int recurseForever(int depth)
{
    volatile char frame[4096];
    frame[0] = static_cast<char>(depth);
    return recurseForever(depth + 1) + frame[0];
}
#pragma GCC diagnostic pop

// The diary: one line per call into the plug-in, appended to the file
// TEST_PLUGIN_DIARY names, opened and closed for each line, so a test reads
// it whole at any moment, also after the host was killed. The lines are the
// operation's name ("name", "start", ...; the text operations once per call, so
// twice per launcher request with the buffer protocol), except "initialize pid
// <host process id>", "deinitialize returned" after deinitialize's own work, and
// "onDialogFinish <event id>".
void diary(const std::wstring& line)
{
    static std::mutex mutex;
    const std::lock_guard lock(mutex);
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = GetEnvironmentVariableW(L"TEST_PLUGIN_DIARY", path, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH)
        return;
    const HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    std::string text;
    for (const wchar_t c : line)
        text += static_cast<char>(c < 0x80 ? c : '?'); // every line is ASCII
    text += "\r\n";
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

// reenter: calls the launcher on the caller's own thread before the operation's work.
void reenterFrom(IPluginSystem* system, const wchar_t* operation)
{
    if constexpr (kindIs("reenter")) {
        if (system != nullptr)
            system->writeLog((std::wstring(L"inside ") + operation).c_str(), 1);
    }
}

class TestPlugin final : public IPluginDllObject {
public:
    TestPlugin() : dialogAnswer_(*this) {}

    // A worker still here means the process ends without deinitialize;
    // joining under the loader lock could deadlock.
    ~TestPlugin()
    {
        if (worker_.joinable())
            worker_.detach();
    }

    TestPlugin(const TestPlugin&) = delete;
    TestPlugin& operator=(const TestPlugin&) = delete;

    bool initialize(IPluginSystem* system) override
    {
        diary(L"initialize pid " + std::to_wstring(GetCurrentProcessId()));
        system_ = system;
        return !kindIs("init_false_text") && !kindIs("init_false_silent");
    }

    void deinitialize() override
    {
        diary(L"deinitialize");
        reenterFrom(system_, L"deinitialize");
        if constexpr (kindIs("slow_deinitialize"))
            Sleep(60000);
        joinWorker();
        diary(L"deinitialize returned");
    }

    std::int32_t name(wchar_t* buffer, std::int32_t size) override
    {
        diary(L"name");
        reenterFrom(system_, L"name");
        if constexpr (kindIs("size_negative")) {
            return -1;
        } else if constexpr (kindIs("size_short")) {
            return answerText(L"Alpha", 4, buffer, size);
        } else if constexpr (kindIs("size_long")) {
            return answerText(L"Alpha", 100, buffer, size);
        } else if constexpr (kindIs("embedded_zero")) {
            return answerText(L"Al\0pha"sv, 7, buffer, size);
        } else if constexpr (kindIs("throw_gcc")) {
            throw std::runtime_error("the plug-in's name failed");
        } else if constexpr (kindIs("throw_msvc")) {
            raiseMsvcException();
        } else if constexpr (kindIs("throw_msvc_object")) {
            raiseMsvcExceptionWithObject();
        } else if constexpr (kindIs("throw_caught")) {
            try {
                throw std::runtime_error("handled inside the plug-in");
            } catch (const std::runtime_error&) {
                return answerText(L"Caught", withTerminator(L"Caught"), buffer, size);
            }
#if !defined(_WIN64)
        } else if constexpr (kindIs("seh_caught")) {
            const std::wstring_view text = faultHandledInOwnFrame() ? L"Handled" : L"Missed";
            return answerText(text, withTerminator(text), buffer, size);
#endif
        } else if constexpr (kindIs("fault_access")) {
            writeThroughNull();
        } else if constexpr (kindIs("fault_illegal")) {
            __builtin_trap();
        } else if constexpr (kindIs("fault_stack")) {
            return recurseForever(0);
        } else {
            return answerText(L"Alpha", withTerminator(L"Alpha"), buffer, size);
        }
    }

    // Reported without the terminator, the other form the protocol allows.
    std::int32_t description(wchar_t* buffer, std::int32_t size) override
    {
        diary(L"description");
        constexpr std::wstring_view text = L"Test plug-in";
        return answerText(text, static_cast<std::int32_t>(text.size()), buffer, size);
    }

    std::int32_t versionString(wchar_t* buffer, std::int32_t size) override
    {
        diary(L"versionString");
        return answerText(L"1.2.3", withTerminator(L"1.2.3"), buffer, size);
    }

    std::int32_t error(wchar_t* buffer, std::int32_t size) override
    {
        diary(L"error");
        const std::wstring text = kindIs("init_false_text")     ? L"cannot open the update catalogue"
                                  : kindIs("init_false_silent") ? L""
                                  : kindIs("every_call") || kindIs("language_data") ? refusals()
                                  : kindIs("throw_msvc_object")
                                      ? L"live thrown objects: " + std::to_wstring(liveThrownObjects.load())
                                      : L"no error";
        return answerText(text, withTerminator(text), buffer, size);
    }

    // The host calls these on its main thread only, one at a time: no lock.
    void setAdditionalProp(const wchar_t* propName, const wchar_t* value) override
    {
        diary(L"setAdditionalProp");
        props_[propName != nullptr ? propName : L""] = value != nullptr ? value : L"";
    }

    std::int32_t getAdditionalProp(const wchar_t* propName, wchar_t* buffer, std::int32_t size) override
    {
        diary(L"getAdditionalProp");
        const auto found = props_.find(propName != nullptr ? propName : L"");
        const std::wstring_view value = found != props_.end() ? std::wstring_view(found->second) : L"";
        return answerText(value, withTerminator(value), buffer, size);
    }

    bool start(IUpdatePluginEvents* events) override
    {
        diary(L"start");
        reenterFrom(system_, L"start");
        if constexpr (kindIs("start_false")) {
            return false;
        } else {
            joinWorker();
            events_ = events;
            worker_ = std::thread([this] { run(); });
            return true;
        }
    }

    void stop() override
    {
        diary(L"stop");
        reenterFrom(system_, L"stop");
        if constexpr (kindIs("stop_hangs"))
            Sleep(INFINITE);
        stopRequested_ = true;
    }

private:
    // Every answer is reported; only the first one finishes the run.
    class DialogAnswer final : public IPluginDialogCallback {
    public:
        explicit DialogAnswer(TestPlugin& plugin) : plugin_(plugin) {}

        void onDialogFinish(std::int32_t eventId) override
        {
            diary(L"onDialogFinish " + std::to_wstring(eventId));
            reenterFrom(plugin_.system_, L"onDialogFinish");
            plugin_.events_->onStatusInfo((L"answer " + std::to_wstring(eventId)).c_str());
            if (!answered_) {
                answered_ = true;
                plugin_.events_->onFinish(eventId == kInstallButton);
            }
        }

    private:
        TestPlugin& plugin_;
        bool answered_ = false; // main thread only
    };

    void run()
    {
        if constexpr (kindIs("fault_worker")) {
            events_->onStart();
            writeThroughNull();
        } else if constexpr (kindIs("flood")) {
            flood();
        } else if constexpr (kindIs("dialog") || kindIs("reenter")) {
            events_->onStart();
            askDialog();
        } else if constexpr (kindIs("every_call")) {
            callEveryOperation();
            askDialog();
        } else if constexpr (kindIs("log_flood")) {
            floodLog();
        } else if constexpr (kindIs("language_data")) {
            sendLanguageData();
        } else {
            events_->onStart();
            events_->onProgress(50);
            events_->onStatusInfo(L"working");
            events_->onProgress(100);
            events_->onFinish(true);
        }
    }

    // Reports from many threads at once; this thread only waits for them and
    // makes the final report.
    void flood()
    {
        std::vector<std::thread> threads;
        threads.reserve(Flood::kThreads);
        for (int t = 0; t < Flood::kThreads; ++t) {
            threads.emplace_back([this] {
                for (int i = 0; i < Flood::kReportsPerThread; ++i)
                    events_->onProgress(i % 101);
                events_->onStatusInfo(L"flood");
            });
        }
        for (std::thread& thread : threads)
            thread.join();
        events_->onFinish(true);
    }

    // Every other operation the host offers, once each (one call per text, into
    // a buffer large enough for any answer). Which of them the host answered
    // with a failure, error() tells; a refused dialog shows in the finish.
    void callEveryOperation()
    {
        std::wstring refused;
        const auto answered = [&refused](const wchar_t* operation, bool accepted) {
            if (!accepted)
                refused += (refused.empty() ? L"" : L", ") + std::wstring(operation);
        };
        events_->onStart();
        std::array<wchar_t, 1024> text{};
        const auto size = static_cast<std::int32_t>(text.size());
        answered(L"language", system_->language(text.data(), size) > 0);
        answered(L"installationId", system_->installationId(text.data(), size) > 0);
        answered(L"gameWorkDir", system_->gameWorkDir(text.data(), size) > 0);
        system_->writeLog(L"every call", 1);
        system_->setGameCanStart(true);
        system_->setCurrentPartIntegrity(true);
        system_->setCurrentPartVersion(L"1.2.3");

        static const wchar_t* const fallback[] = {L"en"};
        static const LanguageSubstitution substitutions[] = {{L"de", 1, fallback}};
        static const DictionaryEntry entries[] = {{L"key", L"text", L"hint"}};
        static const LanguageDictionary dictionaries[] = {{L"en", 1, entries}};
        IPluginLangSystem* lang = nullptr;
        const bool hasLang = system_->langSystem(&lang) == 0 && lang != nullptr;
        answered(L"setLanguageSubstitutions", hasLang && lang->setLanguageSubstitutions(L"en", 1, substitutions) == 0);
        answered(L"setMultiLanguageDictionary", hasLang && lang->setMultiLanguageDictionary(1, dictionaries) == 0);

        void* internal = nullptr;
        IPluginSystemInternal* internalSystem = system_->queryInterface(kIPluginSystemInternalId, &internal) == 0
                                                    ? static_cast<IPluginSystemInternal*>(internal)
                                                    : nullptr;
        answered(L"mainWindow", internalSystem != nullptr && internalSystem->mainWindow() != 0);
        if (internalSystem != nullptr)
            internalSystem->restartAgent();
        events_->onProgress(50);
        // Before the dialog: its answer finishes the run, and the launcher asks for error() then.
        const std::lock_guard lock(refusedMutex_);
        refused_ = L"refused: " + (refused.empty() ? std::wstring(L"none") : refused);
    }

    void sendLanguageData()
    {
        events_->onStart();
        const LanguageData::Texts texts;
        IPluginLangSystem* lang = nullptr;
        const bool hasLang = system_->langSystem(&lang) == 0 && lang != nullptr;
        std::wstring refused;
        if (!hasLang || lang->setLanguageSubstitutions(nullptr, LanguageData::kLanguages, texts.substitutions.data()) != 0)
            refused = L"setLanguageSubstitutions";
        if (!hasLang || lang->setMultiLanguageDictionary(LanguageData::kLanguages, texts.dictionaries.data()) != 0)
            refused += (refused.empty() ? L"" : L", ") + std::wstring(L"setMultiLanguageDictionary");
        {
            const std::lock_guard lock(refusedMutex_);
            refused_ = L"refused: " + (refused.empty() ? std::wstring(L"none") : refused);
        }
        events_->onFinish(refused.empty());
    }

    std::wstring refusals()
    {
        const std::lock_guard lock(refusedMutex_);
        return refused_.empty() ? L"no error" : refused_;
    }

    // Numbered messages from several threads at once, each of which the host
    // logs as a refused writeLog when the launcher is set to refuse them.
    void floodLog()
    {
        events_->onStart();
        std::vector<std::thread> threads;
        threads.reserve(LogFlood::kThreads);
        for (int t = 0; t < LogFlood::kThreads; ++t) {
            threads.emplace_back([this, t] {
                for (int n = 0; n < LogFlood::kMessagesPerThread; ++n)
                    system_->writeLog(LogFlood::message(t, n).c_str(), 1);
            });
        }
        for (std::thread& thread : threads)
            thread.join();
        events_->onFinish(true);
    }

    void askDialog()
    {
        IPluginUISystem* ui = nullptr;
        static const DialogButton buttons[] = {{kInstallButton, L"Install", L""}, {kLaterButton, L"Later", L""}};
        if (system_->uiSystem(&ui) != 0 || ui == nullptr ||
            ui->showDialog(L"Install the update?", L"Update", 2, buttons, 0, &dialogAnswer_) != 0)
            events_->onFinish(false);
    }

    void joinWorker()
    {
        if (worker_.joinable())
            worker_.join();
    }

    IPluginSystem* system_ = nullptr;
    IUpdatePluginEvents* events_ = nullptr; // set before the worker starts
    DialogAnswer dialogAnswer_;
    // Nothing waits for it: every worker ends on its own within moments.
    std::atomic<bool> stopRequested_{false};
    std::thread worker_;
    std::map<std::wstring, std::wstring> props_;
    std::mutex refusedMutex_;
    std::wstring refused_; // every_call, language_data: what the host refused, once the run got that far
};

} // namespace

extern "C" bool HLX_PLUGINS_WINAPI DllGetPluginObject(IPluginDllObject** object)
{
    if (kindIs("get_object_false") || object == nullptr)
        return false;
    static TestPlugin plugin;
    *object = &plugin;
    return true;
}
