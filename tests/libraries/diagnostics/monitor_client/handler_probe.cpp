// Helper process of the binding tests: loads the stand-in library and ends
// through one of the process handlers the binding installs.
//   handler_probe terminate|invalid-parameter|abort FOLDER
// Exits with the code of the exception that ended it.
#include "diagnostics/monitor_client/monitor_client.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

namespace {

LONG WINAPI exitWithExceptionCode(EXCEPTION_POINTERS* exception)
{
    std::fflush(stdout);
    ::ExitProcess(exception->ExceptionRecord->ExceptionCode);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3)
        return 100;
    if (MonitorClient::load(argv[2]) != MonitorClient::ClientLibStatus::Loaded) {
        std::printf("stand-in not loaded\n");
        return 101;
    }
    ::SetUnhandledExceptionFilter(&exitWithExceptionCode);
    const std::wstring which = argv[1];
    if (which == L"terminate")
        std::terminate();
    if (which == L"invalid-parameter")
        ::_get_invalid_parameter_handler()(L"expression", L"function", L"file", 1, 0);
    if (which == L"abort")
        std::abort();
    return 102;
}
