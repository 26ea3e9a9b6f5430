#pragma once

#include "ombrix_interfaces.h"
#include "system/win32/unique_resource.h"

#include <windows.h>
#include <wrl/client.h>

#include <set>
#include <utility>
#include <vector>

namespace LauncherSim {

// What the launcher's objects learn during a session and the session's steps
// wait for. All on the simulator's one apartment thread.
struct SessionState {
    SessionState()
        : pluginRegistered(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
        , pluginFinished(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
        , pluginProgressed(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
        , adminHostRegistered(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
        , hostClosed(::CreateEventW(nullptr, FALSE, FALSE, nullptr))
    {
    }

    // From registerPlugin, the latest last: an admin host may start several
    // hosts, and the session may run several at once.
    std::vector<Microsoft::WRL::ComPtr<IUpdatePlugin>> plugins;
    System::Win32::UniqueHandle pluginRegistered; // reset by each await
    std::set<ULONG> registeredIds; // the ids the plug-ins above registered with
    System::Win32::UniqueHandle pluginFinished; // set by each onFinish
    std::set<ULONG> finishedIds; // of the plug-ins that reported onFinish
    bool finishedWithSuccess = false;
    System::Win32::UniqueHandle pluginProgressed; // set by onProgress

    Microsoft::WRL::ComPtr<IAdminHostProcess> adminHost; // from registerAdminHost
    System::Win32::UniqueHandle adminHostRegistered;
    // ombrixClosed reports not yet awaited: plug-in id and exit code.
    std::vector<std::pair<ULONG, ULONG>> closedHosts;
    System::Win32::UniqueHandle hostClosed; // set by each ombrixClosed
};

} // namespace LauncherSim
