#include "update_plugin.h"

#include "automation_structures.h"
#include "err/utf.h"
#include "exit_codes.h"
#include "host_end.h"
#include "log/log.h"
#include "plugin_boundary.h"
#include "plugin_call.h"
#include "plugin_path.h"
#include "plugin_process.h"
#include "plugin_text.h"
#include "process_settings.h"
#include "process_values.h"
#include "system/win32/last_error.h"
#include "terminate_now.h"

#include <shellapi.h>

#include <new>
#include <optional>
#include <stdexcept>
#include <string>

using Microsoft::WRL::ComPtr;
using System::Win32::UniqueBstr;

namespace {

// The texts of the operations whose failure lines carry no operation name.
constexpr std::wstring_view kStdException = L"error: std exception - %s";
constexpr std::wstring_view kUnknownException = L"error: unknown exception";
constexpr std::wstring_view kInvalidState = L"error: invalid state of pluginDllObject";

// The answer to a call that needs the plug-in while another operation is in it.
constexpr HRESULT kBusy = HRESULT_FROM_WIN32(ERROR_BUSY);

// Milliseconds deinitialize may take from the plug-in's deinitialize to the
// host's end, whatever hangs on the way (the plug-in, or the launcher in
// unregisterPlugin or in a report the plug-in waits for).
constexpr DWORD kDeinitializeLimitMs = 8000;

const wchar_t* boolText(bool value)
{
    return value ? L"true" : L"false";
}

// A launcher string that may come back null.
std::wstring take(UniqueBstr& text)
{
    return text ? std::wstring(text.get(), ::SysStringLen(text.get())) : std::wstring();
}

template <typename T>
std::shared_ptr<T> makeShared()
{
    T* object = new (std::nothrow) T;
    return object ? std::shared_ptr<T>(object) : nullptr;
}

} // namespace

HRESULT CUpdatePlugin::CreateInstance(IUpdatePlugin** out)
{
    const ComPtr<CUpdatePlugin> object = create<CUpdatePlugin>();
    if (!object) {
        HOST_LOG(LogLevel::Error, L"failed to create UpdatePlugin object");
        return E_FAIL;
    }
    if (const HRESULT hr = object->FinalConstruct(); FAILED(hr)) {
        HOST_LOG(LogLevel::Error, L"failed to construct UpdatePlugin object, HRESULT = 0x%x", static_cast<unsigned>(hr));
        return hr;
    }
    return object->QueryInterface(IID_PPV_ARGS(out));
}

CUpdatePlugin::CUpdatePlugin() : blackListDisabled(processSettings().disableBlackList) {}

CUpdatePlugin::~CUpdatePlugin()
{
    FinalRelease();
}

HRESULT CUpdatePlugin::FinalConstruct()
{
    try {
        if (!(eventsCallback = makeShared<PluginEventsCallback>())) {
            HOST_LOG(LogLevel::Error, L"failed to create PluginEventsCallback");
            return E_FAIL;
        }
        if (!(systemCallback = makeShared<PluginSystemCallback>())) {
            HOST_LOG(LogLevel::Error, L"failed to create PluginSystemCallback");
            return E_FAIL;
        }
        if (!(dialogCallbacks = makeShared<DialogCallbacksContainer>())) {
            HOST_LOG(LogLevel::Error, L"failed to create DialogCallbacksContainer");
            return E_FAIL;
        }
        return S_OK;
    } catch (const std::exception& e) {
        HOST_LOG(LogLevel::Error, L"error: std exception during UpdatePlugin final construct - %s",
                 Err::fromAnsi(e.what()).c_str());
    } catch (...) {
        HOST_LOG(LogLevel::Error, L"unexpected error during UpdatePlugin final construct");
    }
    return E_UNEXPECTED;
}

void CUpdatePlugin::FinalRelease() noexcept
{
    const std::lock_guard lock(UpdatePluginProcess::processWaitLock);
    if (pluginMayRun) {
        // The plug-in's threads may still run in its code and call the
        // callbacks: both stay until the process ends (the farewell holds the
        // callbacks), and that end comes after the plug-in's deinitialize.
        static_cast<void>(pluginModule.release());
    } else {
        eventsCallback.reset();
        systemCallback.reset();
        dialogCallbacks.reset();
        if (const HMODULE module = pluginModule.release(); module != nullptr && !::FreeLibrary(module))
            log(LogLevel::Error, L"error: FreeLibrary failed (FinalRelease)", Here::current());
    }
    pluginProcesses.clear();
    UpdatePluginProcess::pluginObjectsReleased = true;
    // Released by a launcher that never said goodbye: nobody can reach the host
    // any more. (Before the binding took the host, that is the binding's failure.)
    if (pluginMayRun || adminHostRegistered)
        HostEnd::request(HostEnd::Reason::LauncherReleased);
}

template <typename Body>
HRESULT CUpdatePlugin::operation(const wchar_t* name, Body&& body)
{
    const ComPtr<CUpdatePlugin> self(this);
    return UpdatePluginProcess::mainThreadCalls.serve(name, std::forward<Body>(body));
}

template <typename Work>
void CUpdatePlugin::deferToOutermost(const wchar_t* name, Work&& work)
{
    UpdatePluginProcess::mainThreadCalls.defer(
        name, [self = ComPtr<CUpdatePlugin>(this), work = std::forward<Work>(work)]() { work(); });
}

bool CUpdatePlugin::refusedAsNested(const wchar_t* name, const Here& where) const noexcept
{
    const CallGate& gate = UpdatePluginProcess::mainThreadCalls;
    if (!gate.busy())
        return false;
    log(LogLevel::Error, L"error: %s refused, %s is still running in the plugin", where, name, gate.running());
    return true;
}

void CUpdatePlugin::registerFarewell()
{
    // Logged under this function's name: a lambda's is no name to search a log by.
    HostEnd::setFarewell([plugin = pluginDllObject, id = pluginId, events = eventsCallback, system = systemCallback,
                          dialogs = dialogCallbacks, here = Here::current()] {
        PluginBoundary::logAt(here, LogLevel::Info, id, L"deinitialize plugin...");
        try {
            PluginCall::guarded([&] { plugin->deinitialize(); });
        } catch (...) {
            PluginBoundary::failed(id, here);
        }
    });
}

template <typename... Args>
void CUpdatePlugin::log(int level, std::wstring_view message, const Here& where, Args... args) const noexcept
{
    PluginBoundary::logAt(where, level, pluginId, message, args...);
}

HRESULT CUpdatePlugin::failed(const FailureTexts& texts, HRESULT result, const Here& where) noexcept
{
    try {
        throw;
    } catch (const std::bad_alloc&) {
        // Out of memory is what the contract calls an unknown exception.
        log(LogLevel::Error, texts.unknownException, where);
    } catch (const std::exception& e) {
        std::wstring what;
        try {
            what = Err::fromAnsi(e.what());
        } catch (...) {
            // No memory for the text: the line goes out without it.
        }
        log(LogLevel::Error, texts.stdException, where, what.c_str());
    } catch (...) {
        log(LogLevel::Error, texts.unknownException, where);
    }
    return result;
}

bool CUpdatePlugin::loaded(std::wstring_view invalidStateLine, const Here& where) const noexcept
{
    if (pluginDllObject != nullptr && !deinitializeAccepted)
        return true;
    log(LogLevel::Error, invalidStateLine, where);
    return false;
}

// ---- IUpdatePlugin: the lifecycle ----

HRESULT CUpdatePlugin::initialize(IPluginSystem* srvApp, ULONG id)
{
    // Until the id is stored, the lines carry the argument.
    const auto logLine = [id](const Here& where, int level, std::wstring_view message, auto... args) {
        PluginBoundary::logAt(where, level, id, message, args...);
    };
    // A second call would initialise the live plug-in again, or unload it when
    // the second load fails.
    if (initializeCalled || adminHostRegistered) {
        logLine(Here::current(), LogLevel::Error, L"error: initialize was called before, refused (initialization)");
        return E_UNEXPECTED;
    }
    logLine(Here::current(), LogLevel::Info, L"initializing plugin...");
    UpdatePluginProcess::mainThreadId = ::GetCurrentThreadId();
    if (srvApp == nullptr) {
        logLine(Here::current(), LogLevel::Error, L"error: invalid srvApp arg (initialization)");
        return E_INVALIDARG;
    }
    const Here here = Here::current();
    // Out of memory in any step is the operation's failure, never an exception out of it.
    try {
        initializeCalled = true;
        pluginSystem = srvApp;
        pluginId = id;

        if (!systemCallback->init(pluginSystem, pluginId)) {
            logLine(Here::current(), LogLevel::Error, L"failed to init system callback (initialization)");
            return E_FAIL;
        }
        systemCallback->setDialogCallbacks(dialogCallbacks);

        UniqueBstr pluginPathText;
        if (const HRESULT hr = pluginSystem->getPluginPath(pluginId, pluginPathText.put()); FAILED(hr)) {
            logLine(Here::current(), LogLevel::Error, L"failed getPluginPath (initialization), HRESULT = 0x%x",
                    static_cast<unsigned>(hr));
            return hr;
        }
        const std::wstring pluginPath = take(pluginPathText);
        logLine(Here::current(), LogLevel::Info, L"plugin have got plugin path from server: %s", pluginPath.c_str());

        UniqueBstr workDirText;
        if (const HRESULT hr = pluginSystem->getGameWorkDir(pluginId, workDirText.put()); FAILED(hr)) {
            logLine(Here::current(), LogLevel::Error, L"failed getGameWorkDir (initialization), HRESULT = 0x%x",
                    static_cast<unsigned>(hr));
            return hr;
        }
        const std::wstring workDir = take(workDirText);
        logLine(Here::current(), LogLevel::Info, L"plugin have got workDir from server: %s", workDir.c_str());

        const std::wstring fullPluginPath = composeFullPluginPath(workDir, pluginPath);
        logLine(Here::current(), LogLevel::Info, L"full plugin path: %s", fullPluginPath.c_str());
        if (!verifyEmbeddedSignature(fullPluginPath)) {
            logLine(Here::current(), LogLevel::Error,
                    L"failed verifyEmbeddedSignature, fullPluginPath = %s (initialization)", fullPluginPath.c_str());
            return E_FAIL;
        }
        // The plug-in finds its own files relative to the game.
        if (!::SetCurrentDirectoryW(workDir.c_str())) {
            logLine(Here::current(), LogLevel::Error, L"failed SetCurrentDirectoryW, workDir = %s (initialization)",
                    workDir.c_str());
            return E_FAIL;
        }
        return operation(L"initialize", [&] { return loadPlugin(fullPluginPath, here); });
    } catch (...) {
        return failed(
            {L"error: std exception - %s (initialization)", L"fatal error: unknown exception (initialization)"}, E_FAIL,
            here);
    }
}

HRESULT CUpdatePlugin::loadPlugin(const std::wstring& fullPluginPath, const Here& here)
{
    pluginModule.reset(::LoadLibraryW(fullPluginPath.c_str()));
    if (!pluginModule) {
        const DWORD lastError = ::GetLastError();
        log(LogLevel::Error, L"error: failed LoadLibraryW, pluginPath = %s (initialization), lastErr: 0x%x", here,
            fullPluginPath.c_str(), static_cast<unsigned>(lastError));
        return System::Win32::failureFromError(lastError);
    }
    const auto getObject = reinterpret_cast<DllGetPluginObjectFunction>(
        reinterpret_cast<void*>(::GetProcAddress(pluginModule.get(), kDllGetPluginObjectName)));
    if (getObject == nullptr) {
        const DWORD lastError = ::GetLastError();
        log(LogLevel::Error,
            L"error: failed GetProcAddress of DllGetPluginObject, pluginPath = %s (initialization), lastErr: 0x%x", here,
            fullPluginPath.c_str(), static_cast<unsigned>(lastError));
        return System::Win32::failureFromError(lastError);
    }
    IPluginDllObject* object = nullptr;
    if (!PluginCall::guarded([&] { return getObject(&object); }) || object == nullptr) {
        log(LogLevel::Error, L"error: failed DllGetPluginObject, pluginPath = %s (initialization)", here,
            fullPluginPath.c_str());
        return E_FAIL;
    }
    pluginDllObject = object;
    HLXPlugins::IPluginSystem* system = systemCallback.get();
    pluginMayRun = true;
    if (PluginCall::guarded([&] { return pluginDllObject->initialize(system); })) {
        registerFarewell();
        return S_OK;
    }
    const std::wstring message =
        readPluginText([&](wchar_t* buffer, std::int32_t size) {
            return PluginCall::guarded([&] { return pluginDllObject->error(buffer, size); });
        });
    log(LogLevel::Error, L"error: failed plugin dll initialize, pluginPath = %s (initialization), error_msg: %s", here,
        fullPluginPath.c_str(), message.c_str());
    return E_FAIL;
}

HRESULT CUpdatePlugin::deinitialize()
{
    log(LogLevel::Info, L"deinitialize plugin...", Here::current());
    const bool nested = UpdatePluginProcess::mainThreadCalls.busy();
    if (!loaded(L"error: invalid state of pluginDllObject (deinitialize)", Here::current())) {
        // A nested one: the operation it arrived in ends the loop itself.
        if (!nested)
            ::PostQuitMessage(-1);
        return E_UNEXPECTED;
    }
    // Accepted now, so that nothing else reaches the plug-in after it.
    deinitializeAccepted = true;
    if (nested) {
        deferToOutermost(L"deinitialize", [this, here = Here::current()] { deinitializeNow(here); });
        return S_OK;
    }
    return operation(L"deinitialize", [this, here = Here::current()] { return deinitializeNow(here); });
}

HRESULT CUpdatePlugin::deinitializeNow(const Here& where)
{
    HostEnd::endAfter(kDeinitializeLimitMs, ExitCode::DeinitializeTimedOut,
                      L"deinitialize did not end within %u ms (the plugin's deinitialize or the launcher hung): the host "
                      L"ends");
    try {
        PluginCall::guarded([&] { pluginDllObject->deinitialize(); });
    } catch (...) {
        ::PostQuitMessage(-1);
        return failed({kStdException, kUnknownException}, E_UNEXPECTED, where);
    }
    pluginMayRun = false;
    HostEnd::clearFarewell();
    pluginDllObject = nullptr;
    if (const HRESULT hr = pluginSystem->unregisterPlugin(this); FAILED(hr))
        log(LogLevel::Error, L"error: server call unregisterPlugin failed (deinitialize), HRESULT = 0x%x", where,
            static_cast<unsigned>(hr));
    ::PostQuitMessage(0);
    return S_OK;
}

// ---- IUpdatePlugin: forwarding ----

template <typename Read>
HRESULT CUpdatePlugin::readText(const wchar_t* name, BSTR* val, Read&& read, const Here& where)
{
    if (!loaded(kInvalidState, where))
        return E_UNEXPECTED;
    if (val == nullptr) {
        log(LogLevel::Error, L"error: invalid arg, val is zero", where);
        return E_INVALIDARG;
    }
    *val = nullptr;
    if (refusedAsNested(name, where))
        return kBusy;
    return operation(name, [&]() -> HRESULT {
        try {
            const std::wstring text = readPluginText([&](wchar_t* buffer, std::int32_t size) {
                return PluginCall::guarded([&] { return read(buffer, size); });
            });
            BSTR copy = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
            if (copy == nullptr)
                throw std::bad_alloc();
            *val = copy;
            return S_OK;
        } catch (...) {
            return failed({kStdException, kUnknownException}, E_UNEXPECTED, where);
        }
    });
}

HRESULT CUpdatePlugin::name(BSTR* val)
{
    return readText(L"name", val,
                    [this](wchar_t* buffer, std::int32_t size) { return pluginDllObject->name(buffer, size); });
}

HRESULT CUpdatePlugin::description(BSTR* val)
{
    return readText(L"description", val,
                    [this](wchar_t* buffer, std::int32_t size) { return pluginDllObject->description(buffer, size); });
}

HRESULT CUpdatePlugin::versionString(BSTR* val)
{
    return readText(L"versionString", val,
                    [this](wchar_t* buffer, std::int32_t size) { return pluginDllObject->versionString(buffer, size); });
}

HRESULT CUpdatePlugin::error(BSTR* val)
{
    return readText(L"error", val,
                    [this](wchar_t* buffer, std::int32_t size) { return pluginDllObject->error(buffer, size); });
}

HRESULT CUpdatePlugin::getAdditionalProp(BSTR propName, BSTR* val)
{
    return readText(L"getAdditionalProp", val, [this, propName](wchar_t* buffer, std::int32_t size) {
        return pluginDllObject->getAdditionalProp(propName, buffer, size);
    });
}

HRESULT CUpdatePlugin::setAdditionalProp(BSTR propName, BSTR value)
{
    const Here here = Here::current();
    if (!loaded(kInvalidState, here))
        return E_UNEXPECTED;
    if (refusedAsNested(L"setAdditionalProp", here))
        return kBusy;
    return operation(L"setAdditionalProp", [&]() -> HRESULT {
        try {
            PluginCall::guarded([&] { pluginDllObject->setAdditionalProp(propName, value); });
            return S_OK;
        } catch (...) {
            return failed({kStdException, kUnknownException}, E_UNEXPECTED, here);
        }
    });
}

HRESULT CUpdatePlugin::start(IUpdatePluginEvents* val)
{
    const Here here = Here::current();
    log(LogLevel::Info, L"starting plugin...", here);
    if (!loaded(L"error: invalid state of pluginDllObject (start)", here))
        return E_UNEXPECTED;
    if (val == nullptr) {
        log(LogLevel::Error, L"error: invalid arg, val is zero (start)", here);
        return E_INVALIDARG;
    }
    if (refusedAsNested(L"start", here))
        return kBusy;
    return operation(L"start", [&]() -> HRESULT {
        try {
            updateEvents = val;
            if (!eventsCallback->init(updateEvents, pluginId, UpdatePluginProcess::mainThreadId)) {
                log(LogLevel::Error, L"error: events callback init failed (start)", here);
                return E_FAIL;
            }
            HLXPlugins::IUpdatePluginEvents* events = eventsCallback.get();
            if (PluginCall::guarded([&] { return pluginDllObject->start(events); }))
                return S_OK;
            // The plug-in will never report its end: the launcher hears it from us.
            if (const HRESULT hr = updateEvents->onFinish(pluginId, VARIANT_FALSE); FAILED(hr))
                log(LogLevel::Error, L"error: plugin events callback failed (start), HRESULT = 0x%x", here,
                    static_cast<unsigned>(hr));
            log(LogLevel::Error, L"failed plugin DLL start (start)", here);
            return E_FAIL;
        } catch (...) {
            return failed({L"error: std exception (start) - %s", L"error: unknown exception (start)"}, E_UNEXPECTED,
                          here);
        }
    });
}

HRESULT CUpdatePlugin::stop(VARIANT_BOOL force)
{
    const bool forced = force == VARIANT_TRUE;
    log(LogLevel::Info, L"stop plugin.., force: %s", Here::current(), boolText(forced));
    const bool hasPlugin = loaded(L"error: invalid state of pluginDllObject (stop)", Here::current());
    // A forced stop is the launcher giving up on the plug-in: nothing of it may run any more.
    if (forced)
        terminateNow(0);
    if (!hasPlugin)
        return E_UNEXPECTED;
    // The plug-in may stop after the operation it is in now; the launcher asked.
    if (UpdatePluginProcess::mainThreadCalls.busy()) {
        deferToOutermost(L"stop", [this, here = Here::current()] { stopNow(here); });
        return S_OK;
    }
    return operation(L"stop", [this, here = Here::current()] { return stopNow(here); });
}

HRESULT CUpdatePlugin::stopNow(const Here& where)
{
    try {
        PluginCall::guarded([&] { pluginDllObject->stop(); });
        return S_OK;
    } catch (...) {
        return failed({L"error: std exception (stop) - %s", L"error: unknown exception (stop)"}, E_UNEXPECTED, where);
    }
}

// ---- IPluginSystemEvents ----

HRESULT CUpdatePlugin::onDialogFinish(ULONG dialogId, LONG eventId)
{
    log(LogLevel::Info, L"dialog event id received: %d", Here::current(), static_cast<int>(eventId));
    const Here here = Here::current();
    if (!loaded(kInvalidState, here))
        return E_UNEXPECTED;
    // An answer arriving inside another operation reaches the plug-in after it.
    if (UpdatePluginProcess::mainThreadCalls.busy() && dialogCallbacks->find(dialogId) != nullptr) {
        deferToOutermost(L"onDialogFinish", [this, dialogId, eventId, here] {
            if (loaded(kInvalidState, here))
                finishDialog(dialogId, eventId, here);
        });
        return S_OK;
    }
    return operation(L"onDialogFinish", [&] { return finishDialog(dialogId, eventId, here); });
}

HRESULT CUpdatePlugin::finishDialog(ULONG dialogId, LONG eventId, const Here& where)
{
    try {
        HLXPlugins::IPluginDialogCallback* callback = dialogCallbacks->find(dialogId);
        if (callback == nullptr) {
            log(LogLevel::Error, L"couldn't get the dialog's callback function: dialogId=%d", where,
                static_cast<int>(dialogId));
            return E_UNEXPECTED;
        }
        PluginCall::guarded([&] { callback->onDialogFinish(eventId); });
        return S_OK;
    } catch (...) {
        return failed({L"error: std exception (onDialogComplete) - %s", L"error: unknown exception (onDialogComplete)"},
                      E_UNEXPECTED, where);
    }
}

// ---- IAdminHostProcess: served by the elevated admin host only ----

namespace {

// The running executable's folder (with its backslash) and "ombrix.exe".
std::optional<std::wstring> hostPathBesideThisExecutable()
{
    wchar_t module[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, module, MAX_PATH);
    if (length == 0)
        return std::nullopt;
    std::wstring path(module, length);
    const std::size_t slash = path.rfind(L'\\');
    path.erase(slash == std::wstring::npos ? 0 : slash + 1);
    return path + L"ombrix.exe";
}

} // namespace

HRESULT CUpdatePlugin::initAdminHost(IPluginSystem* srvApp)
{
    log(LogLevel::Info, L"initializing adminhost...", Here::current());
    if (srvApp == nullptr) {
        HOST_LOG(LogLevel::Error, L"error: invalid srvApp arg (initAdminHost)");
        return E_INVALIDARG;
    }
    try {
        pluginSystem = srvApp;
        if (!systemCallback->init(pluginSystem, pluginId)) {
            log(LogLevel::Error, L"failed to init system callback (initAdminHost)", Here::current());
            return E_FAIL;
        }
        const HRESULT hr = pluginSystem->registerAdminHost(this);
        adminHostRegistered = SUCCEEDED(hr);
        return hr;
    } catch (...) {
        return failed({L"error: std exception (initAdminHost) - %s", L"error: unknown exception (initAdminHost)"});
    }
}

HRESULT CUpdatePlugin::deinitAdminHost()
{
    log(LogLevel::Info, L"deinitializing adminhost...", Here::current());
    // A plug-in host keeps its launcher: deinitialize still needs it.
    if (initializeCalled || pluginDllObject != nullptr) {
        log(LogLevel::Error, L"error: invalid state during deinitAdminHost", Here::current());
        return E_UNEXPECTED;
    }
    pluginSystem.Reset();
    adminHostRegistered = false;
    // Elevated processes started before keep running; nobody waits for them.
    ::PostQuitMessage(0);
    return S_OK;
}

HRESULT CUpdatePlugin::startElevated(BSTR api, ULONG id)
{
    const auto logLine = [id](const Here& where, int level, std::wstring_view message, auto... args) {
        PluginBoundary::logAt(where, level, id, message, args...);
    };
    if (api == nullptr)
        return E_FAIL;
    if (std::wstring_view(api, ::SysStringLen(api)) == L"1.0") {
        logLine(Here::current(), LogLevel::Error, L"Legacy KPM Plugins API 1.0 is not supported");
        return E_INVALIDARG;
    }
    logLine(Here::current(), LogLevel::Info, L"start plugin via adminhost.., api: %s", api);
    if (!pluginSystem) {
        logLine(Here::current(), LogLevel::Error,
                L"error: the admin host has no launcher any more, deinitAdminHost released it (startElevated)");
        return E_UNEXPECTED;
    }
    try {
        UniqueBstr workDirText;
        if (const HRESULT hr = pluginSystem->getGameWorkDir(id, workDirText.put()); FAILED(hr)) {
            logLine(Here::current(), LogLevel::Error, L"failed getGameWorkDir in startElevated, HRESULT = 0x%x",
                    static_cast<unsigned>(hr));
            return hr;
        }
        const std::wstring workDir = take(workDirText);
        const std::optional<std::wstring> hostPath = hostPathBesideThisExecutable();
        if (!hostPath) {
            logLine(Here::current(), LogLevel::Error, L"failed GetModuleFileName call in startElevated");
            return E_FAIL;
        }
        if (!verifyEmbeddedSignature(*hostPath)) {
            logLine(Here::current(), LogLevel::Error, L"failed verifyEmbeddedSignature in startElevated, hostPath = %s",
                    hostPath->c_str());
            return E_FAIL;
        }
        std::shared_ptr<PluginProcess>& process = pluginProcesses[id];
        if (!process) {
            PluginProcess* created = new (std::nothrow) PluginProcess(systemCallback);
            if (created == nullptr) {
                pluginProcesses.erase(id);
                logLine(Here::current(), LogLevel::Error, L"failed to create PluginProcess");
                return E_FAIL;
            }
            process.reset(created);
        }
        return process->start(*hostPath, workDir, id, blackListDisabled) ? S_OK : E_FAIL;
    } catch (...) {
        return failed({L"error: std exception (startElevated) - %s", L"error: unknown exception (startElevated)"});
    }
}

HRESULT CUpdatePlugin::startElevatedProcess(BSTR exePath, BSTR args, ULONG* errorCode, ULONG* processId,
                                            LONGLONG* startTime)
{
    HOST_LOG(LogLevel::Info, L"Starting elevated process, exePath = %s, args = %s", exePath ? exePath : L"(null)",
             args ? args : L"(null)");
    if (exePath == nullptr)
        return E_INVALIDARG;
    for (auto* out : {processId, errorCode})
        if (out != nullptr)
            *out = 0;
    if (startTime != nullptr)
        *startTime = 0;
    try {
        if (!verifyEmbeddedSignature(exePath)) {
            HOST_LOG(LogLevel::Error, L"Signature verification failed, exePath = %s, args = %s", exePath,
                     args ? args : L"");
            if (errorCode != nullptr)
                *errorCode = ERROR_NOT_SUPPORTED;
            return E_ABORT;
        }
        std::wstring parameters = args ? std::wstring(args, ::SysStringLen(args)) : std::wstring();
        if (blackListDisabled)
            parameters += L" --disable-black-list";

        SHELLEXECUTEINFOW execute{};
        execute.cbSize = sizeof(execute);
        execute.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI | SEE_MASK_UNICODE |
                        (processId != nullptr ? SEE_MASK_NOCLOSEPROCESS : 0);
        execute.lpVerb = L"open";
        execute.lpFile = exePath;
        execute.lpParameters = parameters.c_str();
        execute.nShow = SW_SHOWNORMAL;
        if (!::ShellExecuteExW(&execute)) {
            const DWORD error = ::GetLastError();
            HOST_LOG(LogLevel::Error, L"Failed to start elevated process, exePath = %s, err = %d", exePath,
                     static_cast<int>(error));
            if (errorCode != nullptr)
                *errorCode = error;
            return E_FAIL;
        }
        const System::Win32::UniqueHandle process(execute.hProcess);
        HRESULT result = S_OK;
        if (processId != nullptr && process) {
            *processId = ::GetProcessId(process.get());
            FILETIME creation{}, exit{}, kernel{}, user{};
            if (startTime != nullptr && ::GetProcessTimes(process.get(), &creation, &exit, &kernel, &user)) {
                *startTime = static_cast<LONGLONG>((static_cast<ULONGLONG>(creation.dwHighDateTime) << 32) |
                                                   creation.dwLowDateTime);
            } else if (startTime != nullptr) {
                HOST_LOG(LogLevel::Warning, L"Failed get client process start time, error = %d",
                         static_cast<int>(::GetLastError()));
                result = S_FALSE;
            }
        }
        return result;
    } catch (...) {
        return failed({L"error: std exception (startElevatedProcess) - %s",
                       L"error: unknown exception (startElevatedProcess)"});
    }
}
