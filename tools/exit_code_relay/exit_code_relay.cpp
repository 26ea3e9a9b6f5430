// exit-code-relay PROGRAM [ARGS...]: runs a Windows program and ends with its
// exit code. A process that ends itself through a job object (as ombrix.exe
// does) reports its exit code to a Windows parent, but wine64 started from a
// Unix shell returns 0 for it; with this in between, the shell sees what a
// launcher sees.
#include "system/win32/unique_resource.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

// The command line after this program's own name, as it was given.
std::wstring childCommandLine(const wchar_t* line)
{
    if (*line == L'"') {
        const wchar_t* close = std::wcschr(line + 1, L'"');
        line = close != nullptr ? close + 1 : line + std::wcslen(line);
    } else {
        while (*line != L'\0' && *line != L' ' && *line != L'\t')
            ++line;
    }
    while (*line == L' ' || *line == L'\t')
        ++line;
    return line;
}

} // namespace

int wmain()
{
    std::wstring commandLine = childCommandLine(::GetCommandLineW());
    if (commandLine.empty()) {
        std::fputws(L"usage: exit-code-relay PROGRAM [ARGS...]\n", stderr);
        return 2;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    // A GUI program gets the standard handles only when they are handed over.
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                          &started)) {
        std::fwprintf(stderr, L"exit-code-relay: cannot start %ls: error %lu\n", commandLine.c_str(),
                      ::GetLastError());
        return 2;
    }
    const System::Win32::UniqueHandle process(started.hProcess), thread(started.hThread);
    ::WaitForSingleObject(process.get(), INFINITE);
    DWORD exitCode = 0;
    ::GetExitCodeProcess(process.get(), &exitCode);
    return static_cast<int>(exitCode);
}
