#pragma once

#include "plugin_system_callback.h"
#include "system/win32/unique_resource.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

// One elevated plug-in host the admin host started for a plug-in id, watched
// until it ends; its exit code then goes to the launcher as ombrixClosed.
// start runs on the main thread, the exit notification on a thread of the
// system thread pool: both change the handles under processWaitLock.
class PluginProcess {
public:
    explicit PluginProcess(std::shared_ptr<PluginSystemCallback> systemCallback);
    ~PluginProcess();
    PluginProcess(const PluginProcess&) = delete;
    PluginProcess& operator=(const PluginProcess&) = delete;

    // Starts hostPath in workDir for pluginId; a process started before for
    // this id is no longer watched. False when it could not be started or watched.
    bool start(const std::wstring& hostPath, const std::wstring& workDir, std::uint32_t pluginId,
               bool blackListDisabled);

private:
    static void CALLBACK processEnded(void* context, BOOLEAN timedOut);
    // Under processWaitLock; returns what the launcher is to be told.
    std::uint32_t onProcessFinished();
    void resetHandles() noexcept;

    std::shared_ptr<PluginSystemCallback> systemCallback;
    std::uint32_t pluginId = 0;
    System::Win32::UniqueHandle processHandle;
    HANDLE waitHandle = nullptr;
};
