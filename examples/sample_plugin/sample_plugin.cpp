// A small update plug-in that makes every kind of report a plug-in can make:
// log lines, language data, progress, status texts, a dialog and the final
// result. Copy it as the starting point of your own plug-in.
//
// Only standard C++ and hlx_plugins.h are used, so the file builds with any
// compiler that targets Windows (MinGW-w64 GCC or MSVC).
#include "hlx_plugins.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

namespace {

using namespace HLXPlugins;

// The plug-in side of the buffer protocol, shared by every text operation:
// asked with a null buffer (or size 0) we answer how many characters we need,
// terminator included; asked again we write the text, zero-terminated, never
// past `size`. An empty text is answered with 0: nothing to report.
std::int32_t answerText(const std::wstring& text, wchar_t* buffer, std::int32_t size)
{
    if (text.empty()) {
        if (buffer != nullptr && size > 0)
            buffer[0] = L'\0';
        return 0;
    }
    if (buffer == nullptr || size <= 0)
        return static_cast<std::int32_t>(text.size() + 1);
    const std::size_t count = std::min(text.size(), static_cast<std::size_t>(size - 1));
    std::copy_n(text.data(), count, buffer);
    buffer[count] = L'\0';
    return static_cast<std::int32_t>(count);
}

// The host side of the buffer protocol: ask for the size with a null buffer,
// then read. Returns an empty string when the host could not fetch the value.
std::wstring readHostText(IPluginSystem& system, std::int32_t (IPluginSystem::*getter)(wchar_t*, std::int32_t))
{
    const std::int32_t needed = (system.*getter)(nullptr, 0);
    if (needed <= 0)
        return {};
    std::wstring value(static_cast<std::size_t>(needed), L'\0');
    const std::int32_t length = (system.*getter)(value.data(), needed);
    // A value that grew between the two calls is answered with a size again.
    if (length <= 0 || length >= needed)
        return {};
    value.resize(static_cast<std::size_t>(length));
    return value;
}

class SamplePlugin final : public IPluginDllObject {
public:
    SamplePlugin() : dialogAnswer_(*this) {}

    // The host calls deinitialize before it lets the DLL go. A worker still
    // here means the process is ending without it; joining now, under the
    // loader lock, could deadlock, so the thread is let go instead.
    ~SamplePlugin()
    {
        if (worker_.joinable())
            worker_.detach();
    }

    SamplePlugin(const SamplePlugin&) = delete;
    SamplePlugin& operator=(const SamplePlugin&) = delete;

    bool initialize(IPluginSystem* system) override
    {
        system_ = system;
        return true;
    }

    void deinitialize() override
    {
        stopRequested_ = true;
        if (worker_.joinable())
            worker_.join();
    }

    std::int32_t name(wchar_t* buffer, std::int32_t size) override
    {
        return answerText(L"Sample plug-in", buffer, size);
    }

    std::int32_t description(wchar_t* buffer, std::int32_t size) override
    {
        return answerText(L"Shows every report a plug-in can make", buffer, size);
    }

    std::int32_t versionString(wchar_t* buffer, std::int32_t size) override
    {
        return answerText(L"1.0.0", buffer, size);
    }

    // The worker sets the error text while the host may read it: both go
    // through the same lock as the properties.
    std::int32_t error(wchar_t* buffer, std::int32_t size) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return answerText(lastError_, buffer, size);
    }

    void setAdditionalProp(const wchar_t* propName, const wchar_t* value) override
    {
        if (propName == nullptr)
            return;
        std::lock_guard<std::mutex> lock(mutex_);
        props_[propName] = value != nullptr ? value : L"";
    }

    std::int32_t getAdditionalProp(const wchar_t* propName, wchar_t* buffer, std::int32_t size) override
    {
        if (propName == nullptr)
            return 0;
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = props_.find(propName);
        return answerText(found != props_.end() ? found->second : std::wstring(), buffer, size);
    }

    // The host's main thread must not wait for the update: the work runs in a
    // thread of our own, which reports through `events` by itself.
    bool start(IUpdatePluginEvents* events) override
    {
        if (events == nullptr)
            return false;
        // A second start waits for the first run's thread, which ends soon
        // after its last report.
        if (worker_.joinable())
            worker_.join();
        events_ = events;
        stopRequested_ = false;
        // No exception may leave a call into the plug-in: the host's frames
        // were not built by our compiler.
        try {
            worker_ = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            setError(L"cannot start the update thread");
            return false;
        }
        return true;
    }

    // Returns at once: the worker sees the flag at its next step and ends.
    void stop() override { stopRequested_ = true; }

private:
    // Its onDialogFinish runs on the host's main thread once the user has
    // answered. It lives as long as the plug-in, so it stays valid however
    // late the answer comes; a launcher may report the same dialog twice, and
    // only the first answer finishes the run.
    class DialogAnswer final : public IPluginDialogCallback {
    public:
        explicit DialogAnswer(SamplePlugin& plugin) : plugin_(plugin) {}

        void onDialogFinish(std::int32_t eventId) override
        {
            if (answered_)
                return;
            answered_ = true;
            const bool install = eventId == kInstallButton;
            plugin_.events_->onStatusInfo(install ? L"Answer: install now" : L"Answer: later");
            plugin_.events_->onFinish(install);
        }

    private:
        SamplePlugin& plugin_;
        bool answered_ = false; // the host's main thread only
    };

    static constexpr std::int32_t kInstallButton = 1;
    static constexpr std::int32_t kLaterButton = 2;

    void run()
    {
        events_->onStart();
        logHostValues();
        publishLanguageData();
        if (!download())
            return;
        askToInstall();
    }

    void logHostValues()
    {
        system_->writeLog((L"Sample plug-in: language " + readHostText(*system_, &IPluginSystem::language)).c_str(),
                          1);
        system_->writeLog(
            (L"Sample plug-in: installation " + readHostText(*system_, &IPluginSystem::installationId)).c_str(), 1);
        system_->writeLog(
            (L"Sample plug-in: game folder " + readHostText(*system_, &IPluginSystem::gameWorkDir)).c_str(), 1);
    }

    // Texts the launcher shows for us, in English and German; a German user
    // falls back to English where a German text is missing. Non-ASCII letters
    // are escaped so that every compiler reads the source alike.
    void publishLanguageData()
    {
        IPluginLangSystem* lang = nullptr;
        if (system_->langSystem(&lang) != 0 || lang == nullptr) {
            setError(L"the launcher's language system is not available");
            return;
        }

        static const wchar_t* const germanFallback[] = {L"en"};
        static const LanguageSubstitution substitutions[] = {{L"de", 1, germanFallback}};
        if (lang->setLanguageSubstitutions(L"en", 1, substitutions) != 0)
            setError(L"the launcher refused the language substitutions");

        static const DictionaryEntry english[] = {
            {L"sample.install", L"Install", L"Install the downloaded update"},
            {L"sample.later", L"Later", L"Ask again at the next start"},
        };
        static const DictionaryEntry german[] = {
            {L"sample.install", L"Installieren", L"Das heruntergeladene Update installieren"},
            {L"sample.later", L"Sp\u00e4ter", L"Beim n\u00e4chsten Start erneut fragen"},
        };
        static const LanguageDictionary dictionaries[] = {{L"en", 2, english}, {L"de", 2, german}};
        if (lang->setMultiLanguageDictionary(2, dictionaries) != 0)
            setError(L"the launcher refused the dictionary");
    }

    // Stands in for a real download. Returns false when stopped; the final
    // report has then been made.
    bool download()
    {
        constexpr std::int32_t kStep = 10;
        for (std::int32_t progress = 0; progress <= 100; progress += kStep) {
            if (stopRequested_) {
                events_->onStatusInfo(L"stopped");
                events_->onFinish(false);
                return false;
            }
            events_->onProgress(progress);
            events_->onStatusInfo((L"Downloading: " + std::to_wstring(progress) + L"%").c_str());
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
        return true;
    }

    // The request returns once the launcher has accepted it; the answer
    // arrives later through dialogAnswer_, which makes the final report.
    void askToInstall()
    {
        IPluginUISystem* ui = nullptr;
        if (system_->uiSystem(&ui) != 0 || ui == nullptr) {
            setError(L"the launcher's dialogs are not available");
            events_->onFinish(false);
            return;
        }
        static const DialogButton buttons[] = {{kInstallButton, L"Install", L""}, {kLaterButton, L"Later", L""}};
        if (ui->showDialog(L"Install the downloaded update now?", L"Sample update", 2, buttons, 0, &dialogAnswer_) !=
            0) {
            setError(L"the launcher refused the dialog");
            events_->onFinish(false);
        }
    }

    void setError(const std::wstring& text)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lastError_ = text;
    }

    IPluginSystem* system_ = nullptr;
    // Set on the main thread before the worker starts, read by the worker and
    // by dialogAnswer_ on the main thread.
    IUpdatePluginEvents* events_ = nullptr;
    DialogAnswer dialogAnswer_;
    std::atomic<bool> stopRequested_{false};
    std::thread worker_;

    std::mutex mutex_;
    std::map<std::wstring, std::wstring> props_;
    std::wstring lastError_;
};

} // namespace

// The host looks this function up by its plain name (see sample_plugin.def).
// The object lives as long as the DLL; the host never deletes it.
extern "C" bool HLX_PLUGINS_WINAPI DllGetPluginObject(IPluginDllObject** object)
{
    if (object == nullptr)
        return false;
    static SamplePlugin plugin;
    *object = &plugin;
    return true;
}
