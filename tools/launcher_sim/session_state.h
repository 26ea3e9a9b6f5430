#pragma once

#include "launcher_interfaces.h"
#include "system/win32/unique_resource.h"

#include <windows.h>
#include <wrl/client.h>

#include <functional>
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

    // Called by every operation the launcher's objects serve (IPluginSystem,
    // IUpdatePluginEvents) before it answers: the operation's name and, for
    // writeLog and onStatusInfo, its text. The session's armed nested calls and
    // hangs run from here.
    std::function<void(const wchar_t* operation, BSTR text)> serving;
    void enter(const wchar_t* operation, BSTR text = nullptr)
    {
        if (serving)
            serving(operation, text);
    }

    // From registerPlugin, the latest last: an admin host may start several
    // hosts, and the session may run several at once.
    std::vector<Microsoft::WRL::ComPtr<IUpdatePlugin>> plugins;
    // The latest registered plug-in as the receiver of its dialogs' answers.
    Microsoft::WRL::ComPtr<IPluginSystemEvents> pluginEvents;
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
