#include "plugin_calls.h"

#include "system/win32/unique_resource.h"

#include <wrl/client.h>

#include <array>

namespace LauncherSim {

namespace {

using System::Win32::UniqueBstr;
using TextGetter = HRESULT (STDMETHODCALLTYPE IUpdatePlugin::*)(BSTR*);

UniqueBstr bstrArgument(const std::wstring& word)
{
    return UniqueBstr(word == L"(null)" ? nullptr : ::SysAllocStringLen(word.data(), static_cast<UINT>(word.size())));
}

VARIANT_BOOL boolArgument(const std::wstring& word)
{
    return static_cast<VARIANT_BOOL>(std::stoi(word));
}

CallOutcome text(HRESULT result, const UniqueBstr& value)
{
    if (FAILED(result))
        return {result, std::nullopt};
    return {result, value ? std::wstring(value.get(), ::SysStringLen(value.get())) : std::wstring()};
}

template <TextGetter getter>
CallOutcome readText(IUpdatePlugin& plugin, const LauncherObjects&, const std::vector<std::wstring>&)
{
    UniqueBstr value;
    const HRESULT result = (plugin.*getter)(value.put());
    return text(result, value);
}

CallOutcome getAdditionalProp(IUpdatePlugin& plugin, const LauncherObjects&, const std::vector<std::wstring>& arguments)
{
    const UniqueBstr name = bstrArgument(arguments[0]);
    UniqueBstr value;
    const HRESULT result = plugin.getAdditionalProp(name.get(), value.put());
    return text(result, value);
}

CallOutcome setAdditionalProp(IUpdatePlugin& plugin, const LauncherObjects&, const std::vector<std::wstring>& arguments)
{
    const UniqueBstr name = bstrArgument(arguments[0]);
    const UniqueBstr value = bstrArgument(arguments[1]);
    return {plugin.setAdditionalProp(name.get(), value.get()), std::nullopt};
}

// Without an argument the launcher's own sink; "(null)" passes none.
CallOutcome start(IUpdatePlugin& plugin, const LauncherObjects& launcher, const std::vector<std::wstring>& arguments)
{
    return {plugin.start(arguments.empty() ? launcher.sink : nullptr), std::nullopt};
}

// Binding once more: the simulator's own published plug-in system, plug-in id 1 unless given.
CallOutcome initialize(IUpdatePlugin& plugin, const LauncherObjects& launcher, const std::vector<std::wstring>& arguments)
{
    const ULONG pluginId = arguments.empty() ? 1 : std::stoul(arguments[0]);
    return {plugin.initialize(launcher.system, pluginId), std::nullopt};
}

CallOutcome stop(IUpdatePlugin& plugin, const LauncherObjects&, const std::vector<std::wstring>& arguments)
{
    return {plugin.stop(boolArgument(arguments[0])), std::nullopt};
}

CallOutcome deinitialize(IUpdatePlugin& plugin, const LauncherObjects&, const std::vector<std::wstring>&)
{
    return {plugin.deinitialize(), std::nullopt};
}

// The launcher reports a closed dialog through the same object.
CallOutcome onDialogFinish(IUpdatePlugin& plugin, const LauncherObjects&, const std::vector<std::wstring>& arguments)
{
    Microsoft::WRL::ComPtr<IPluginSystemEvents> events;
    HRESULT result = plugin.QueryInterface(IID_PPV_ARGS(&events));
    if (SUCCEEDED(result))
        result = events->onDialogFinish(std::stoul(arguments[0]), std::stol(arguments[1]));
    return {result, std::nullopt};
}

constexpr std::array kOperations{
    PluginOperation{L"initialize", 0, 1, &initialize},
    PluginOperation{L"name", 0, 0, &readText<&IUpdatePlugin::name>},
    PluginOperation{L"description", 0, 0, &readText<&IUpdatePlugin::description>},
    PluginOperation{L"versionString", 0, 0, &readText<&IUpdatePlugin::versionString>},
    PluginOperation{L"error", 0, 0, &readText<&IUpdatePlugin::error>},
    PluginOperation{L"getAdditionalProp", 1, 1, &getAdditionalProp},
    PluginOperation{L"setAdditionalProp", 2, 2, &setAdditionalProp},
    PluginOperation{L"start", 0, 1, &start},
    PluginOperation{L"stop", 1, 1, &stop},
    PluginOperation{L"deinitialize", 0, 0, &deinitialize},
    PluginOperation{L"onDialogFinish", 2, 2, &onDialogFinish},
};

CallOutcome startElevated(IAdminHostProcess& adminHost, const std::vector<std::wstring>& arguments)
{
    const UniqueBstr api = bstrArgument(arguments[0]);
    return {adminHost.startElevated(api.get(), std::stoul(arguments[1])), std::nullopt};
}

// The outcome's text tells what came back: "error N, process id set, start time set".
CallOutcome startElevatedProcess(IAdminHostProcess& adminHost, const std::vector<std::wstring>& arguments)
{
    const UniqueBstr exePath = bstrArgument(arguments[0]);
    const UniqueBstr args = bstrArgument(arguments[1]);
    // COM's marshalling needs every out pointer: the launcher always asks for all.
    ULONG errorCode = 0xFFFFFFFF, processId = 0;
    LONGLONG startTime = 0;
    const HRESULT result = adminHost.startElevatedProcess(exePath.get(), args.get(), &errorCode, &processId, &startTime);
    return {result, L"error " + std::to_wstring(errorCode) + (processId != 0 ? L", process id set" : L"") +
                        (startTime != 0 ? L", start time set" : L"")};
}

CallOutcome deinitAdminHost(IAdminHostProcess& adminHost, const std::vector<std::wstring>&)
{
    return {adminHost.deinitAdminHost(), std::nullopt};
}

constexpr std::array kAdminOperations{
    AdminOperation{L"startElevated", 2, 2, &startElevated},
    AdminOperation{L"startElevatedProcess", 2, 2, &startElevatedProcess},
    AdminOperation{L"deinitAdminHost", 0, 0, &deinitAdminHost},
};

struct NamedResult {
    std::wstring_view name;
    HRESULT value;
};

constexpr std::array kResults{
    NamedResult{L"S_OK", S_OK},
    NamedResult{L"S_FALSE", S_FALSE},
    NamedResult{L"E_FAIL", E_FAIL},
    NamedResult{L"E_UNEXPECTED", E_UNEXPECTED},
    NamedResult{L"E_INVALIDARG", E_INVALIDARG},
    NamedResult{L"E_NOTIMPL", E_NOTIMPL},
    NamedResult{L"E_POINTER", E_POINTER},
    NamedResult{L"E_ABORT", E_ABORT},
};

} // namespace

const PluginOperation* findPluginOperation(std::wstring_view name)
{
    for (const PluginOperation& operation : kOperations)
        if (name == operation.name)
            return &operation;
    return nullptr;
}

const AdminOperation* findAdminOperation(std::wstring_view name)
{
    for (const AdminOperation& operation : kAdminOperations)
        if (name == operation.name)
            return &operation;
    return nullptr;
}

bool parseResult(std::wstring_view text, HRESULT& result)
{
    for (const NamedResult& named : kResults)
        if (text == named.name) {
            result = named.value;
            return true;
        }
    try {
        std::size_t used = 0;
        const unsigned long value = std::stoul(std::wstring(text), &used, 0);
        result = static_cast<HRESULT>(value);
        return used == text.size();
    } catch (const std::exception&) {
        return false; // neither a name nor a number
    }
}

} // namespace LauncherSim
