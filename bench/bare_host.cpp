// The baseline of the host-start figure: what any program that reaches the
// launcher must do at least. It starts, joins an apartment, looks the launcher
// up in the Running Object Table under the item name the host tries first and
// makes one call (getPluginPath for the plug-in id it is given), then ends.
#include "ombrix_interfaces.h"

#include <windows.h>
#include <objbase.h>

#include <cwchar>
#include <initializer_list>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int)
{
    const wchar_t* id = std::wcsstr(commandLine, L"--plugin-id=");
    const ULONG pluginId = id != nullptr ? std::wcstoul(id + 12, nullptr, 10) : 0;
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 1;
    int exitCode = 1;
    IRunningObjectTable* table = nullptr;
    IMoniker* moniker = nullptr;
    IUnknown* object = nullptr;
    IPluginSystem* system = nullptr;
    BSTR path = nullptr;
    if (SUCCEEDED(::GetRunningObjectTable(0, &table)) &&
        SUCCEEDED(::CreateItemMoniker(L"!", L"53721D9E-79A3-4410-94CB-C0BAC1066C09", &moniker)) &&
        SUCCEEDED(table->GetObject(moniker, &object)) &&
        SUCCEEDED(object->QueryInterface(__uuidof(IPluginSystem), reinterpret_cast<void**>(&system))) &&
        SUCCEEDED(system->getPluginPath(pluginId, &path)))
        exitCode = 0;
    ::SysFreeString(path);
    for (IUnknown* held : {static_cast<IUnknown*>(system), object, static_cast<IUnknown*>(moniker),
                           static_cast<IUnknown*>(table)})
        if (held != nullptr)
            held->Release();
    ::CoUninitialize();
    return exitCode;
}
