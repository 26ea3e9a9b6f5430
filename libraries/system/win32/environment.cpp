#include "environment.h"

#include "unique_resource.h"

namespace System::Env {

bool isWine()
{
    static const bool wine = [] {
        const HMODULE ntdll = ::GetModuleHandleW(L"ntdll");
        return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return wine;
}

bool isMacWrapper()
{
    System::Win32::UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Wine", 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return false;
    DWORD value = 0;
    DWORD size = sizeof(value);
    return ::RegQueryValueExW(key.get(), L"hlx_mac_wrapper", nullptr, nullptr, reinterpret_cast<BYTE*>(&value),
                              &size) == ERROR_SUCCESS &&
           value == 1;
}

} // namespace System::Env
