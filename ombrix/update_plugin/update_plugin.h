#pragma once

#include "dialog_callbacks_container.h"
#include "hlx_plugins.h"
#include "ombrix_interfaces.h"
#include "plugin_events_callback.h"
#include "plugin_system_callback.h"
#include "system/win32/com_object.h"
#include "system/win32/unique_resource.h"

#include <wrl/client.h>

#include <cstdint>
#include <map>
#include <memory>
#include <source_location>
#include <string_view>

class PluginProcess;

// The host's one COM object. The launcher drives the plug-in through
// IUpdatePlugin, reports closed dialogs through IPluginSystemEvents and, in
// the elevated admin host, starts processes through IAdminHostProcess. Every
// call arrives on the main thread; every call into the plug-in is made from
// there too, one at a time (see CallGate for the calls COM serves while the
// main thread waits inside one).
class CUpdatePlugin : public System::Win32::ComObject<IAdminHostProcess, IUpdatePlugin, IPluginSystemEvents> {
public:
    // The object with its callbacks, handed out as IUpdatePlugin; never through COM activation.
    static HRESULT CreateInstance(IUpdatePlugin** out);

    CUpdatePlugin();
    CUpdatePlugin(const CUpdatePlugin&) = delete;
    CUpdatePlugin& operator=(const CUpdatePlugin&) = delete;

    // IAdminHostProcess
    HRESULT STDMETHODCALLTYPE initAdminHost(IPluginSystem* srvApp) override;
    HRESULT STDMETHODCALLTYPE deinitAdminHost() override;
    HRESULT STDMETHODCALLTYPE startElevated(BSTR api, ULONG pluginId) override;
    HRESULT STDMETHODCALLTYPE startElevatedProcess(BSTR exePath, BSTR args, ULONG* errorCode, ULONG* processId,
                                                   LONGLONG* startTime) override;

    // IUpdatePlugin
    HRESULT STDMETHODCALLTYPE initialize(IPluginSystem* srvApp, ULONG pluginId) override;
    HRESULT STDMETHODCALLTYPE deinitialize() override;
    HRESULT STDMETHODCALLTYPE name(BSTR* val) override;
    HRESULT STDMETHODCALLTYPE description(BSTR* val) override;
    HRESULT STDMETHODCALLTYPE versionString(BSTR* val) override;
    HRESULT STDMETHODCALLTYPE setAdditionalProp(BSTR propName, BSTR value) override;
    HRESULT STDMETHODCALLTYPE getAdditionalProp(BSTR propName, BSTR* val) override;
    HRESULT STDMETHODCALLTYPE start(IUpdatePluginEvents* val) override;
    HRESULT STDMETHODCALLTYPE error(BSTR* val) override;
    HRESULT STDMETHODCALLTYPE stop(VARIANT_BOOL force) override;

    // IPluginSystemEvents
    HRESULT STDMETHODCALLTYPE onDialogFinish(ULONG dialogId, LONG eventId) override;

protected:
    ~CUpdatePlugin() override;

private:
    using Here = std::source_location;

    // The log lines an operation writes when an exception ends it.
    struct FailureTexts {
        std::wstring_view stdException;     // one %s: the exception's text
        std::wstring_view unknownException; // anything that is not a standard exception
    };

    HRESULT FinalConstruct();
    void FinalRelease() noexcept;

    // Runs one operation that reaches the plug-in through the main thread's
    // gate, holding a reference so that the launcher's last release meanwhile
    // cannot destroy the object under it.
    template <typename Body>
    HRESULT operation(const wchar_t* name, Body&& body);
    // Defers work that may wait until the operation running now has returned;
    // the object stays alive until then.
    template <typename Work>
    void deferToOutermost(const wchar_t* name, Work&& work);
    // A call that needs the plug-in's answer while another operation is inside
    // the plug-in: true (and one line) when it must be refused.
    bool refusedAsNested(const wchar_t* name, const Here& where) const noexcept;
    // The work of deinitialize, stop and onDialogFinish, now or deferred; their
    // lines carry the operation's own call site.
    HRESULT deinitializeNow(const Here& where);
    HRESULT stopNow(const Here& where);
    HRESULT finishDialog(ULONG dialogId, LONG eventId, const Here& where);
    // Once the plug-in runs: how it is deinitialized should the host end without the launcher.
    void registerFarewell();

    // The one end of every operation: called inside its catch block, logs the
    // exception being handled with the operation's texts and answers `result`.
    HRESULT failed(const FailureTexts& texts, HRESULT result = E_UNEXPECTED, const Here& where = Here::current()) noexcept;
    template <typename... Args>
    void log(int level, std::wstring_view message, const Here& where, Args... args) const noexcept;

    // The text getters: state and argument checks, the buffer protocol, the BSTR.
    template <typename Read>
    HRESULT readText(const wchar_t* name, BSTR* val, Read&& read, const Here& where = Here::current());
    bool loaded(std::wstring_view invalidStateLine, const Here& where) const noexcept;
    // Steps of initialize: its lines carry initialize's call site `here`.
    HRESULT loadPlugin(const std::wstring& fullPluginPath, const Here& here);

    std::uint32_t pluginId = 0;
    Microsoft::WRL::ComPtr<IPluginSystem> pluginSystem;
    Microsoft::WRL::ComPtr<IUpdatePluginEvents> updateEvents;
    std::shared_ptr<PluginSystemCallback> systemCallback;
    std::shared_ptr<DialogCallbacksContainer> dialogCallbacks;
    std::shared_ptr<PluginEventsCallback> eventsCallback;
    IPluginDllObject* pluginDllObject = nullptr;
    System::Win32::UniqueModule pluginModule;
    bool blackListDisabled = false;
    std::map<std::uint32_t, std::shared_ptr<PluginProcess>> pluginProcesses;

    bool initializeCalled = false; // at most once, and a plug-in host is no admin host
    bool deinitializeAccepted = false; // the plug-in gets no other call after it
    bool pluginMayRun = false; // from the plug-in's initialize until its deinitialize returned
    bool adminHostRegistered = false; // the launcher took the admin host
};
