#pragma once

#include <windows.h>
#include <oleauto.h>

#include <objidl.h>
#include <unknwn.h>
#include <wrl/client.h>

// Item names under which the launcher publishes its plug-in system.
inline constexpr wchar_t kLauncherItemName[] = L"53721D9E-79A3-4410-94CB-C0BAC1066C09";
inline constexpr wchar_t kLauncherFallbackItemName[] = L"1305BE7E-F989-4181-9E72-DE863D91C39D";

// The object registered in the Running Object Table under the item moniker
// "!" + itemName. Takes over `itemName` and frees it on every path; `object`
// must hold null on entry.
HRESULT lookupRunningObject(BSTR itemName, IUnknown** object);

// Publishes an object in the Running Object Table under the item moniker
// "!" + itemName, kept alive by the table, until the owner ends.
class RunningObjectRegistration {
public:
    RunningObjectRegistration() = default;
    RunningObjectRegistration(const RunningObjectRegistration&) = delete;
    RunningObjectRegistration& operator=(const RunningObjectRegistration&) = delete;
    ~RunningObjectRegistration();

    // Replaces an earlier registration of this owner.
    HRESULT publish(IUnknown* object, const wchar_t* itemName);

private:
    void revoke() noexcept;

    Microsoft::WRL::ComPtr<IRunningObjectTable> table_;
    DWORD cookie_ = 0;
};
