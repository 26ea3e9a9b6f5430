// The host's entry: command line, process-wide services in their fixed order,
// then one of the run modes.
#include "command_line.h"
#include "err/utf.h"
#include "crash_reporting_parameters.h"
#include "exit_codes.h"
#include "last_chance_filter.h"
#include "last_replies.h"
#include "launcher_binding.h"
#include "loader_guard/loader_guard.h"
#include "main_thread_tasks.h"
#include "log/log.h"
#include "process_security.h"
#include "process_settings.h"
#include "run_mode.h"
#include "server_registration.h"
#include "system/win32/admin_mode.h"
#include "system/win32/com_scope.h"
#include "terminate_now.h"

#include <windows.h>

#include <cstdint>
#include <stdexcept>

namespace {

// A bound for a launcher call still waiting to be served when the loop ends.
constexpr DWORD kLastRepliesLimitMs = 5000;

// The launcher's calls arrive as window messages of this apartment.
[[noreturn]] void runMessageLoop()
{
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    // The quit message comes from inside the launcher's last call, whose reply must still leave.
    awaitLastReplies(kLastRepliesLimitMs);
    terminateNow(ExitCode::Done);
}

int runAdminHost()
{
    if (!LauncherBinding::registerAdminHost())
        return ExitCode::AdminHostRegistrationFailed;
    runMessageLoop();
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    // No system dialogs for missing media or drives.
    const UINT errorMode = ::SetErrorMode(SEM_FAILCRITICALERRORS);
    ::SetErrorMode(errorMode | SEM_FAILCRITICALERRORS);

    std::vector<std::wstring> arguments = splitCommandLine(::GetCommandLineW());
    if (arguments.size() < 2)
        return ExitCode::BadCommandLine;
    arguments.erase(arguments.begin());

    CommandLineOptions options;
    try {
        options = parseCommandLine(arguments);
    } catch (const std::exception&) {
        return ExitCode::BadCommandLine;
    }

    // Nothing may log before this: the first line decides whether there is a log file.
    storeProcessSettings(options);
    installLastChanceFilter();

    if (!options.disableBlackList)
        installLoaderGuard([](const char*, int) {});

    std::uint64_t beginHookId = 0;
    const Diagnostics::ScopeGuard crashReporting = Diagnostics::init(crashReportingParameters(), beginHookId);
    Diagnostics::setAssertionHandler(&Diagnostics::reportAssertion);

    const ComScope apartment;
    if (FAILED(apartment.result())) {
        HOST_LOG(LogLevel::Error, L"failed to initialize MS COM, HRESULT = 0x%x", apartment.result());
        return ExitCode::Failed;
    }

    MainThreadTasks::install();

    if (const HRESULT hr = disableComExceptionHandling(); FAILED(hr))
        HOST_LOG(LogLevel::Warning, L"failed to setup global runtime MS COM exception handling option, HRESULT = 0x%x",
                 hr);

    bool elevated = false;
    try {
        elevated = isAppRunningInAdminMode();
    } catch (const std::exception&) {
        HOST_LOG(LogLevel::Error, L"Failed to check is process in 'admin mode'");
        return ExitCode::Failed;
    }
    HOST_LOG(LogLevel::Info, L"Process is in 'admin mode': %s", elevated ? L"true" : L"false");

    if (elevated) {
        if (const HRESULT hr = initializeElevatedComSecurity(); FAILED(hr)) {
            HOST_LOG(LogLevel::Error, L"Cannot initialize security layer for plugin-system object, HRESULT = 0x%x",
                     hr);
            return ExitCode::ComSecurityFailed;
        }
        enableDebugPrivilege();
    }

    // The run modes log under this function's name, as every start-up line does.
    try {
        const bool perUser = !elevated;
        switch (selectRunMode(options)) {
        case RunMode::Unregistration:
            if (!unregisterServer(perUser))
                throw std::runtime_error("failed to unregister server via --regserver");
            HOST_LOG(LogLevel::Info, L"Unregistered plugin host process, exit");
            return ExitCode::Done;
        case RunMode::Registration:
            if (options.adminHost && !elevated) {
                HOST_LOG(LogLevel::Error, L"cannot register AdminHost without administrator access token");
                return ExitCode::NotAdministrator;
            }
            if (!registerServer(perUser))
                throw std::runtime_error("failed to register server via --regserver");
            if (options.adminHost)
                return runAdminHost();
            HOST_LOG(LogLevel::Info, L"Registered plugin host process, exit");
            return ExitCode::Done;
        case RunMode::AdminHost:
            if (!elevated) {
                HOST_LOG(LogLevel::Error, L"cannot register AdminHost without administrator access token");
                return ExitCode::NotAdministrator;
            }
            return runAdminHost();
        case RunMode::PluginHost:
            if (!LauncherBinding::initializePlugin(*options.pluginId))
                terminateNow(ExitCode::PluginBindingFailed);
            runMessageLoop();
        case RunMode::None:
            break;
        }
        return ExitCode::Failed;
    } catch (const std::exception& e) {
        HOST_LOG(LogLevel::Error, L"error: std exception - %s", Err::fromAnsi(e.what()).c_str());
    } catch (...) {
        HOST_LOG(LogLevel::Error, L"fatal error: unknown exception");
    }
    return ExitCode::Failed;
}
