#include "plugin_system.h"

#include <functional>
#include <utility>
#include <vector>

namespace LauncherSim {

namespace {

std::wstring list(const std::wstring& items)
{
    return L"[" + items + L"]";
}

// A null array reads (null), an empty one [].
template <typename T, typename F>
std::wstring joined(const T* items, unsigned long count, F format)
{
    if (items == nullptr)
        return L"(null)";
    std::wstring text;
    for (unsigned long i = 0; items != nullptr && i < count; ++i)
        text += (i > 0 ? L", " : L"") + format(items[i]);
    return list(text);
}

// Calls queued for the serving loop of this thread: a zero-time thread timer
// runs its procedure from the loop's DispatchMessage.
std::vector<std::function<void()>>& deferredCalls()
{
    static std::vector<std::function<void()>> calls;
    return calls;
}

void CALLBACK runDeferredCalls(HWND, UINT, UINT_PTR timer, DWORD)
{
    ::KillTimer(nullptr, timer);
    std::vector<std::function<void()>> calls;
    calls.swap(deferredCalls());
    for (auto& call : calls)
        call();
}

void defer(std::function<void()> call)
{
    deferredCalls().push_back(std::move(call));
    ::SetTimer(nullptr, 0, 0, runDeferredCalls);
}

} // namespace

void PluginSystem::dropPendingDialogAnswers()
{
    // Released outside the list, which a call served meanwhile may use.
    const std::vector<std::function<void()>> dropped = std::exchange(deferredCalls(), {});
}

void PluginSystem::finishDialogLater(ULONG dialogId, long eventId)
{
    if (!session_.pluginEvents) {
        transcript_.line(L"no IPluginSystemEvents to finish dialog " + std::to_wstring(dialogId));
        return;
    }
    defer([events = session_.pluginEvents, dialogId, eventId, this] {
        const HRESULT hr = events->onDialogFinish(dialogId, eventId);
        transcript_.line(L"called IPluginSystemEvents::onDialogFinish(" + std::to_wstring(dialogId) + L", " +
                         std::to_wstring(eventId) + L") -> " + hresultText(hr));
    });
}

HRESULT PluginSystem::record(const wchar_t* operation, const std::wstring& arguments, HRESULT result,
                             const std::wstring& answer, BSTR text)
{
    session_.enter(operation, text);
    transcript_.line(L"IPluginSystem::" + std::wstring(operation) + L"(" + arguments + L") -> " +
                     hresultText(result) + (answer.empty() ? L"" : L" " + answer));
    return result;
}

HRESULT PluginSystem::answerString(const wchar_t* operation, const std::wstring& arguments,
                                   const std::optional<std::wstring>& value, BSTR* out)
{
    if (out == nullptr)
        return record(operation, arguments, E_POINTER);
    *out = nullptr;
    const HRESULT result = config_.resultOf(operation);
    if (FAILED(result))
        return record(operation, arguments, result);
    if (value)
        *out = ::SysAllocStringLen(value->data(), static_cast<UINT>(value->size()));
    return record(operation, arguments, result, quoted(*out));
}

HRESULT PluginSystem::language(BSTR* val)
{
    return answerString(L"language", L"", config_.language, val);
}

HRESULT PluginSystem::mainWindow(LONGLONG* val)
{
    const HRESULT result = config_.resultOf(L"mainWindow");
    if (SUCCEEDED(result) && val != nullptr)
        *val = config_.mainWindow;
    return record(L"mainWindow", L"", result, SUCCEEDED(result) ? std::to_wstring(config_.mainWindow) : L"");
}

HRESULT PluginSystem::restartAgent(VARIANT_BOOL restart)
{
    return record(L"restartAgent", boolText(restart), config_.resultOf(L"restartAgent"));
}

HRESULT PluginSystem::writeLog(BSTR text, LONG level)
{
    return record(L"writeLog", quoted(text) + L", " + std::to_wstring(level), config_.resultOf(L"writeLog"), {}, text);
}

HRESULT PluginSystem::registerAdminHost(IAdminHostProcess* adminHost)
{
    const HRESULT result =
        record(L"registerAdminHost", adminHost ? L"object" : L"(null)", config_.resultOf(L"registerAdminHost"));
    if (adminHost != nullptr && SUCCEEDED(result)) {
        session_.adminHost = adminHost;
        ::SetEvent(session_.adminHostRegistered.get());
    }
    return result;
}

HRESULT PluginSystem::ombrixClosed(ULONG pluginId, ULONG exitCode)
{
    session_.closedHosts.emplace_back(pluginId, exitCode);
    ::SetEvent(session_.hostClosed.get());
    return record(L"ombrixClosed", std::to_wstring(pluginId) + L", " + std::to_wstring(exitCode),
                  config_.resultOf(L"ombrixClosed"));
}

HRESULT PluginSystem::registerPlugin(IUpdatePlugin* plugin, ULONG pluginId)
{
    if (plugin != nullptr && SUCCEEDED(config_.resultOf(L"registerPlugin"))) {
        plugin->QueryInterface(IID_PPV_ARGS(&session_.pluginEvents));
        session_.plugins.emplace_back(plugin);
        session_.registeredIds.insert(pluginId);
        ::SetEvent(session_.pluginRegistered.get());
    }
    return record(L"registerPlugin", std::wstring(plugin ? L"object" : L"(null)") + L", " + std::to_wstring(pluginId),
                  config_.resultOf(L"registerPlugin"));
}

HRESULT PluginSystem::unregisterPlugin(IUpdatePlugin* plugin)
{
    return record(L"unregisterPlugin", plugin ? L"object" : L"(null)", config_.resultOf(L"unregisterPlugin"));
}

HRESULT PluginSystem::reserved9()
{
    return record(L"reserved9", L"", E_NOTIMPL);
}

HRESULT PluginSystem::getPluginPath(ULONG pluginId, BSTR* path)
{
    return answerString(L"getPluginPath", std::to_wstring(pluginId), config_.pluginPath, path);
}

HRESULT PluginSystem::reserved11()
{
    return record(L"reserved11", L"", E_NOTIMPL);
}

HRESULT PluginSystem::getGameWorkDir(ULONG pluginId, BSTR* path)
{
    return answerString(L"getGameWorkDir", std::to_wstring(pluginId), config_.workDir, path);
}

HRESULT PluginSystem::setGameCanStart(ULONG pluginId, VARIANT_BOOL canStart)
{
    return record(L"setGameCanStart", std::to_wstring(pluginId) + L", " + boolText(canStart),
                  config_.resultOf(L"setGameCanStart"));
}

HRESULT PluginSystem::setCurrentPartIntegrity(ULONG pluginId, VARIANT_BOOL intact)
{
    return record(L"setCurrentPartIntegrity", std::to_wstring(pluginId) + L", " + boolText(intact),
                  config_.resultOf(L"setCurrentPartIntegrity"));
}

HRESULT PluginSystem::setCurrentPartVersion(ULONG pluginId, BSTR version)
{
    return record(L"setCurrentPartVersion", std::to_wstring(pluginId) + L", " + quoted(version),
                  config_.resultOf(L"setCurrentPartVersion"));
}

HRESULT PluginSystem::installationId(BSTR* val)
{
    return answerString(L"installationId", L"", config_.installationId, val);
}

HRESULT PluginSystem::showDialogEx(ULONG pluginId, ULONG dialogId, DialogAutomation dialog)
{
    const std::wstring arguments =
        std::to_wstring(pluginId) + L", " + std::to_wstring(dialogId) + L", {" + quoted(dialog.caption) + L", " +
        quoted(dialog.message) + L", args " +
        joined(dialog.messageArgs, dialog.messageArgCount,
               [](const MessageArgAutomation& a) { return std::to_wstring(a.value) + L":" + quoted(a.text); }) +
        L", buttons " +
        joined(dialog.buttons, dialog.buttonCount,
               [](const ButtonAutomation& b) {
                   return std::to_wstring(b.id) + L":" + quoted(b.text) + L":" + quoted(b.hint);
               }) +
        L", default " + std::to_wstring(dialog.defaultButtonId) + L", style " + std::to_wstring(dialog.style) +
        L", type " + std::to_wstring(dialog.type) + L", " + quoted(dialog.typeText) + L", flags " +
        std::to_wstring(dialog.flagA) + L"" + std::to_wstring(dialog.flagB) + L"}";
    const HRESULT result = record(L"showDialogEx", arguments, config_.resultOf(L"showDialogEx"));
    // The user's answer: the configured event, or the first button, as a user
    // who accepts what is offered first. Only a registered plug-in hears it.
    if (SUCCEEDED(result) && config_.dialogEvent)
        finishDialogLater(dialogId, *config_.dialogEvent);
    else if (SUCCEEDED(result) && session_.pluginEvents && dialog.buttons != nullptr && dialog.buttonCount > 0)
        finishDialogLater(dialogId, dialog.buttons[0].id);
    return result;
}

HRESULT PluginSystem::setLanguageSubstitutions(ULONG pluginId, BSTR defaultLanguage, LONG count,
                                               LanguageSubstitutionAutomation* substitutions)
{
    const std::wstring arguments =
        std::to_wstring(pluginId) + L", " + quoted(defaultLanguage) + L", " + std::to_wstring(count) + L", " +
        joined(substitutions, count < 0 ? 0 : static_cast<unsigned long>(count),
               [](const LanguageSubstitutionAutomation& s) {
                   return quoted(s.language) + L":" + joined(s.substitutes, s.count, [](BSTR b) { return quoted(b); });
               });
    return record(L"setLanguageSubstitutions", arguments, config_.resultOf(L"setLanguageSubstitutions"));
}

HRESULT PluginSystem::setMultiLanguageDictionary(ULONG pluginId, LONG count, LanguageDictionaryAutomation* dictionaries)
{
    const std::wstring arguments =
        std::to_wstring(pluginId) + L", " + std::to_wstring(count) + L", " +
        joined(dictionaries, count < 0 ? 0 : static_cast<unsigned long>(count),
               [](const LanguageDictionaryAutomation& d) {
                   return quoted(d.language) + L":" +
                          joined(d.entries, d.count, [](const LanguageDictionaryEntryAutomation& e) {
                              return quoted(e.string1) + L"/" + quoted(e.string2) + L"/" + quoted(e.string3);
                          });
               });
    return record(L"setMultiLanguageDictionary", arguments, config_.resultOf(L"setMultiLanguageDictionary"));
}

} // namespace LauncherSim
