#include "running_object.h"

#include "system/win32/unique_resource.h"

#include <objbase.h>

#include <utility>

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

RunningObjectRegistration::~RunningObjectRegistration()
{
    revoke();
}

HRESULT RunningObjectRegistration::publish(IUnknown* object, const wchar_t* itemName)
{
    revoke();
    Microsoft::WRL::ComPtr<IMoniker> moniker;
    HRESULT hr = ::CreateItemMoniker(L"!", itemName, &moniker);
    if (SUCCEEDED(hr) && !table_)
        hr = ::GetRunningObjectTable(0, &table_);
    if (SUCCEEDED(hr))
        hr = table_->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, object, moniker.Get(), &cookie_);
    return hr;
}

void RunningObjectRegistration::revoke() noexcept
{
    if (cookie_ != 0)
        table_->Revoke(std::exchange(cookie_, 0));
}
