#pragma once

namespace System::Env {

// True under Wine: ntdll exports wine_get_version. Computed once.
bool isWine();

// True inside the predecessor launcher's macOS wrapper: HKCU\SOFTWARE\Wine
// "hlx_mac_wrapper" is the number 1. Any failure reads as false.
bool isMacWrapper();

} // namespace System::Env
