#include "host_end.h"

#include "call_gate.h"
#include "exit_codes.h"
#include "log/log.h"
#include "main_thread_tasks.h"
#include "process_values.h"
#include "terminate_now.h"

#include <atomic>
#include <thread>

namespace HostEnd {
namespace {

std::atomic<bool> bound{false};
std::atomic<bool> requested{false};
std::atomic<bool> launcherWentAway{false};
// Reports the plug-in made after the launcher was known to be gone.
std::atomic<unsigned> dropped{0};
std::function<void()> farewell; // main thread only

UINT exitCodeOf(Reason reason)
{
    return reason == Reason::LauncherGone ? ExitCode::LauncherGone : ExitCode::LauncherReleased;
}

// On the main thread, once no operation runs there.
void sayFarewellAndEnd(UINT exitCode) noexcept
{
    if (std::function<void()> last = std::move(farewell)) {
        farewell = nullptr;
        try {
            last();
        } catch (...) {
            // The farewell ends in the plug-in boundary; the host ends regardless.
        }
    }
    if (const unsigned count = dropped.load(); count > 0)
        HOST_LOG(LogLevel::Warning, L"%u reports of the plugin could not reach the launcher any more", count);
    terminateNow(exitCode);
}

} // namespace

bool launcherGone(HRESULT result) noexcept
{
    switch (result) {
    case RPC_E_DISCONNECTED:
    case RPC_E_SERVER_DIED:
    case RPC_E_SERVER_DIED_DNE:
    case RPC_E_CONNECTION_TERMINATED:
    case CO_E_OBJNOTCONNECTED:
    case HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE):
    case HRESULT_FROM_WIN32(RPC_S_CALL_FAILED):
    case HRESULT_FROM_WIN32(RPC_S_CALL_FAILED_DNE):
        return true;
    default:
        return false;
    }
}

void bindingDone() noexcept
{
    bound = true;
}

void setFarewell(std::function<void()> last)
{
    farewell = std::move(last);
}

void clearFarewell() noexcept
{
    farewell = nullptr;
}

void request(Reason reason, HRESULT cause) noexcept
{
    if (bound && reason == Reason::LauncherGone)
        launcherWentAway = true;
    if (!bound || requested.exchange(true))
        return;
    const UINT exitCode = exitCodeOf(reason);
    if (reason == Reason::LauncherGone)
        HOST_LOG(LogLevel::Error,
                 L"the launcher is gone (HRESULT = 0x%x): the plugin is deinitialized and the host ends with exit code %u",
                 static_cast<unsigned>(cause), exitCode);
    else
        HOST_LOG(LogLevel::Error,
                 L"the launcher released the host without deinitialize: the plugin is deinitialized and the host ends "
                 L"with exit code %u",
                 exitCode);
    endAfter(kFarewellLimitMs, exitCode, L"the plugin's deinitialize did not return within %u ms: the host ends without it");
    MainThreadTasks::post([exitCode] {
        UpdatePluginProcess::mainThreadCalls.defer(L"the host's end", [exitCode] { sayFarewellAndEnd(exitCode); });
    });
}

bool launcherCallFailed(HRESULT result) noexcept
{
    if (!bound || !launcherGone(result))
        return false;
    if (requested)
        ++dropped;
    request(Reason::LauncherGone, result);
    return true;
}

bool dropIfLauncherGone() noexcept
{
    if (!launcherWentAway)
        return false;
    ++dropped;
    return true;
}

void endAfter(DWORD limitMs, UINT exitCode, const wchar_t* line) noexcept
{
    try {
        std::thread([limitMs, exitCode, line] {
            ::Sleep(limitMs);
            HOST_LOG(LogLevel::Error, line, static_cast<unsigned>(limitMs));
            terminateNow(exitCode);
        }).detach();
    } catch (...) {
        // No thread for the bound: the end still comes, only not bounded.
    }
}

} // namespace HostEnd
