// An update plug-in as Microsoft's compiler builds it: clang for the MSVC
// target (classes, tables of functions and structures laid out the MSVC way),
// linked by lld-link from this file and the SDK header alone, with no C
// runtime and no imports. The host is built by MinGW-w64 GCC: every call
// below crosses between the two compilers' layouts.
//
// Its session, as the launcher sees it: name, description and version by the
// buffer protocol; on start, onStart, the launcher's language read by the
// buffer protocol and reported as a status, progress 50, and a dialog that
// fills every field of DialogInfo; the dialog's answer is reported as a status
// with progress 100 and the finish; deinitialize writes a line to the
// launcher's log.
//
// Without a C runtime nothing runs before the host's first call: every object
// here must be initialised by the loader (constinit), and no destructor runs.
#include "hlx_plugins.h"

namespace {

using namespace HLXPlugins;

constexpr std::int32_t kInstallButton = 1;
constexpr std::int32_t kLaterButton = 2;

std::int32_t length(const wchar_t* text)
{
    std::int32_t count = 0;
    while (text[count] != L'\0')
        ++count;
    return count;
}

// Appends `text` to the zero-terminated `buffer` of `size` characters, as far as it fits.
void append(wchar_t* buffer, std::int32_t size, const wchar_t* text)
{
    std::int32_t at = length(buffer);
    for (; *text != L'\0' && at + 1 < size; ++text)
        buffer[at++] = *text;
    buffer[at] = L'\0';
}

// The plug-in side of the buffer protocol: the size with its terminator, then the text.
std::int32_t answerText(const wchar_t* text, wchar_t* buffer, std::int32_t size)
{
    if (buffer == nullptr || size <= 0)
        return length(text) + 1;
    buffer[0] = L'\0';
    append(buffer, size, text);
    return length(buffer);
}

class MsvcPlugin;

class DialogAnswer final : public IPluginDialogCallback {
public:
    constexpr explicit DialogAnswer(MsvcPlugin& plugin) : plugin_(plugin) {}
    void onDialogFinish(std::int32_t eventId) override;

private:
    MsvcPlugin& plugin_;
};

class MsvcPlugin final : public IPluginDllObject {
public:
    constexpr MsvcPlugin() : answer_(*this) {}

    bool initialize(IPluginSystem* system) override
    {
        system_ = system;
        return system != nullptr;
    }

    void deinitialize() override
    {
        if (system_ != nullptr)
            system_->writeLog(L"msvc plug-in: deinitialize", 2);
        system_ = nullptr;
        events_ = nullptr;
    }

    std::int32_t name(wchar_t* buffer, std::int32_t size) override
    {
        return answerText(L"MSVC-ABI plug-in", buffer, size);
    }

    std::int32_t description(wchar_t* buffer, std::int32_t size) override
    {
        return answerText(L"Built by clang for the MSVC target", buffer, size);
    }

    std::int32_t versionString(wchar_t* buffer, std::int32_t size) override
    {
        return answerText(L"2.5.7", buffer, size);
    }

    void setAdditionalProp(const wchar_t*, const wchar_t*) override {}

    std::int32_t getAdditionalProp(const wchar_t*, wchar_t* buffer, std::int32_t size) override
    {
        return answerText(L"", buffer, size);
    }

    std::int32_t error(wchar_t* buffer, std::int32_t size) override { return answerText(L"no error", buffer, size); }

    void stop() override {}

    // Reports on the host's main thread, inside the launcher's call: a
    // plug-in without a C runtime has no threads of its own.
    bool start(IUpdatePluginEvents* events) override
    {
        if (events == nullptr)
            return false;
        events_ = events;
        events_->onStart();
        reportLanguage();
        events_->onProgress(50);
        IPluginUISystem* ui = nullptr;
        static constexpr MessageArg args[] = {{L"size", 42}};
        static constexpr DialogButton buttons[] = {{kInstallButton, L"Install", L"now"},
                                                   {kLaterButton, L"Later", L"next start"}};
        // Neighbouring fields hold different values: a field read at a wrong offset shows.
        static constexpr DialogInfo info{.caption = L"MSVC update",
                                         .message = L"Install {size} MB?",
                                         .messageArgCount = 1,
                                         .messageArgs = args,
                                         .buttonCount = 2,
                                         .buttons = buttons,
                                         .defaultButtonId = kLaterButton,
                                         .style = 1,
                                         .type = 100,
                                         .typeText = L"msvc",
                                         .flagA = true,
                                         .flagB = false};
        if (system_->uiSystem(&ui) != 0 || ui == nullptr || ui->showDialogEx(&info, &answer_) != 0)
            events_->onFinish(false);
        return true;
    }

    void answered(std::int32_t eventId)
    {
        events_->onStatusInfo(eventId == kInstallButton ? L"answer: install" : L"answer: later");
        events_->onProgress(100);
        events_->onFinish(eventId == kInstallButton);
    }

private:
    void reportLanguage()
    {
        // Filled by appending: an initialised array would be a memcpy, which no runtime here provides.
        wchar_t status[32];
        status[0] = L'\0';
        append(status, 32, L"language ");
        wchar_t language[16];
        const std::int32_t needed = system_->language(nullptr, 0);
        const bool read = needed > 0 && needed <= 16 && system_->language(language, needed) == needed - 1;
        append(status, 32, read ? language : L"unreadable");
        events_->onStatusInfo(status);
    }

    IPluginSystem* system_ = nullptr;
    IUpdatePluginEvents* events_ = nullptr;
    DialogAnswer answer_;
};

void DialogAnswer::onDialogFinish(std::int32_t eventId)
{
    plugin_.answered(eventId);
}

constinit MsvcPlugin plugin;

} // namespace

extern "C" bool HLX_PLUGINS_WINAPI DllGetPluginObject(IPluginDllObject** object)
{
    if (object == nullptr)
        return false;
    *object = &plugin;
    return true;
}
