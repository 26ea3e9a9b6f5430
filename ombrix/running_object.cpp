#include "running_object.h"

#include "system/win32/unique_resource.h"

#include <objbase.h>
#include <wrl/client.h>

HRESULT lookupRunningObject(BSTR itemName, IUnknown** object)
{
    const System::Win32::UniqueBstr name(itemName);
    if (object == nullptr || *object != nullptr)
        return E_INVALIDARG;
    Microsoft::WRL::ComPtr<IMoniker> moniker;
    HRESULT hr = ::CreateItemMoniker(L"!", name.get(), &moniker);
    if (FAILED(hr))
        return hr;
    Microsoft::WRL::ComPtr<IRunningObjectTable> table;
    hr = ::GetRunningObjectTable(0, &table);
    if (FAILED(hr))
        return hr;
    return table->GetObject(moniker.Get(), object);
}
