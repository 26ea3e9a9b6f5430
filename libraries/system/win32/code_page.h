#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace System::Win32 {

// Narrow text in the given code page (the thread's ANSI code page by default) to UTF-16.
std::wstring toWide(std::string_view text, UINT codePage = CP_THREAD_ACP);

} // namespace System::Win32
