#pragma once

#include "ombrix_interfaces.h"
#include "system/win32/unique_resource.h"

#include <windows.h>
#include <wrl/client.h>

namespace LauncherSim {

// What the launcher's objects learn during a session and the session's steps
// wait for. All on the simulator's one apartment thread.
struct SessionState {
    SessionState()
        : pluginRegistered(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
        , pluginFinished(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
    }

    Microsoft::WRL::ComPtr<IUpdatePlugin> plugin; // from registerPlugin
    System::Win32::UniqueHandle pluginRegistered;
    System::Win32::UniqueHandle pluginFinished; // set by onFinish
    bool finishedWithSuccess = false;
};

} // namespace LauncherSim
