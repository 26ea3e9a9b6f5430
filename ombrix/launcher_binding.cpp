#include "launcher_binding.h"

#include "host_end.h"
#include "launcher_watch.h"
#include "log/log.h"
#include "ombrix_interfaces.h"
#include "running_object.h"
#include "update_plugin/update_plugin.h"
#include "system/win32/unique_resource.h"

#include <wrl/client.h>

#include <new>
#include <source_location>

using Microsoft::WRL::ComPtr;

// The binding functions log under their own names in the unnamed namespace, as
// support engineers know them from the log.
namespace {

BSTR itemName(const wchar_t* name)
{
    BSTR text = ::SysAllocString(name);
    if (text == nullptr)
        throw std::bad_alloc();
    return text;
}

using Here = std::source_location;

// The launcher's plug-in system, from the Running Object Table; null when
// absent. Its lines carry the binding function's name, `where` it was called.
ComPtr<IPluginSystem> findPluginSystem(bool allowFallback, const Here& where)
{
    ComPtr<IUnknown> object;
    HRESULT hr = lookupRunningObject(itemName(kLauncherItemName), &object);
    if (hr != S_OK && allowFallback) {
        object.Reset();
        hr = lookupRunningObject(itemName(kLauncherFallbackItemName), &object);
    }
    if (hr != S_OK) {
        Log::logAtCallSite(where, L"cannot get a plugin-system object from ROT, HRESULT = 0x%x", LogLevel::Error,
                           static_cast<unsigned>(hr));
        return nullptr;
    }
    ComPtr<IPluginSystem> system;
    hr = object.As(&system);
    if (FAILED(hr) || !system) {
        Log::logAtCallSite(where, L"plugin-system typelib not registered, HRESULT = 0x%x", LogLevel::Error,
                           static_cast<unsigned>(hr));
        return nullptr;
    }
    return system;
}

// From here on the host serves the launcher for as long as it lives.
void watchLauncher(const ComPtr<IPluginSystem>& system)
{
    HostEnd::bindingDone();
    LauncherWatch::start(system.Get());
}

// The object's own account of a failure: nothing when it cannot give one.
void logWithObjectError(IUpdatePlugin& plugin, const wchar_t* message, HRESULT hr, const Here& where = Here::current())
{
    System::Win32::UniqueBstr text;
    if (SUCCEEDED(plugin.error(text.put())))
        Log::logAtCallSite(where, message, LogLevel::Error, static_cast<unsigned>(hr), text ? text.get() : L"");
}

bool initializePlugin(std::uint32_t pluginId)
{
    HOST_LOG(LogLevel::Info, L"initalizing 'ombrix' system for plugin_id = %d", pluginId);
    const ComPtr<IPluginSystem> system = findPluginSystem(true, Here::current());
    if (!system)
        return false;
    ComPtr<IUpdatePlugin> plugin;
    if (const HRESULT hr = CUpdatePlugin::CreateInstance(&plugin); FAILED(hr)) {
        HOST_LOG(LogLevel::Error, L"failed to create plugin-host object, HRESULT = 0x%x", static_cast<unsigned>(hr));
        return false;
    }
    if (const HRESULT hr = plugin->initialize(system.Get(), pluginId); FAILED(hr)) {
        logWithObjectError(*plugin.Get(), L"failed to initialize plugin-host object, HRESULT = 0x%x, err: %s", hr);
        return false;
    }
    if (const HRESULT hr = system->registerPlugin(plugin.Get(), pluginId); FAILED(hr)) {
        logWithObjectError(*plugin.Get(), L"failed to register plugin object, HRESULT = 0x%x, err: %s", hr);
        return false;
    }
    watchLauncher(system);
    return true;
}

bool registerAdminHost()
{
    // The admin host serves the launcher only: no fallback name.
    const ComPtr<IPluginSystem> system = findPluginSystem(false, Here::current());
    if (!system)
        return false;
    ComPtr<IUpdatePlugin> plugin;
    if (const HRESULT hr = CUpdatePlugin::CreateInstance(&plugin); FAILED(hr)) {
        HOST_LOG(LogLevel::Error, L"failed to create plugin-host object, HRESULT = 0x%x", static_cast<unsigned>(hr));
        return false;
    }
    ComPtr<IAdminHostProcess> adminHost;
    if (const HRESULT hr = plugin.As(&adminHost); FAILED(hr)) {
        HOST_LOG(LogLevel::Error, L"failed to query Admin-Host interface, HRESULT = 0x%x", static_cast<unsigned>(hr));
        return false;
    }
    if (const HRESULT hr = adminHost->initAdminHost(system.Get()); FAILED(hr)) {
        HOST_LOG(LogLevel::Error, L"failed to initialize admin-host object, HRESULT = 0x%x", static_cast<unsigned>(hr));
        return false;
    }
    watchLauncher(system);
    return true;
}

} // namespace

namespace LauncherBinding {

bool initializePlugin(std::uint32_t pluginId)
{
    return ::initializePlugin(pluginId);
}

bool registerAdminHost()
{
    return ::registerAdminHost();
}

} // namespace LauncherBinding
