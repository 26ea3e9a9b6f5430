#pragma once

#include <windows.h>

// The replacements of kernel32's four library-loading entry points: they refuse
// the DLLs of the block list (null, last error ERROR_ACCESS_DENIED), answer
// "kernel32.dll" and "ntdll.dll" with the loaded system module, and pass
// everything else to the system function.
HMODULE WINAPI guardedLoadLibraryW(LPCWSTR fileName);
HMODULE WINAPI guardedLoadLibraryA(LPCSTR fileName);
HMODULE WINAPI guardedLoadLibraryExW(LPCWSTR fileName, HANDLE file, DWORD flags);
HMODULE WINAPI guardedLoadLibraryExA(LPCSTR fileName, HANDLE file, DWORD flags);

namespace LoaderGuard {

// Where the replacements call the system behaviour: kernel32's functions, and
// once a hook is placed, its trampoline.
extern decltype(&::LoadLibraryW) systemLoadLibraryW;
extern decltype(&::LoadLibraryA) systemLoadLibraryA;
extern decltype(&::LoadLibraryExW) systemLoadLibraryExW;
extern decltype(&::LoadLibraryExA) systemLoadLibraryExA;

} // namespace LoaderGuard
