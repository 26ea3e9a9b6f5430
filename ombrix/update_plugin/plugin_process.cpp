#include "plugin_process.h"

#include "command_line.h"
#include "log/log.h"
#include "process_settings.h"
#include "process_values.h"

#include <shellapi.h>

#include <mutex>

PluginProcess::PluginProcess(std::shared_ptr<PluginSystemCallback> callback) : systemCallback(std::move(callback)) {}

PluginProcess::~PluginProcess()
{
    resetHandles();
}

bool PluginProcess::start(const std::wstring& hostPath, const std::wstring& workDir, std::uint32_t id,
                          bool blackListDisabled)
{
    // The notification of the process this one replaces may be running: it
    // must see either the old handles or the new ones, never a mix. The start
    // itself runs without the lock, which is not recursive and which that
    // notification waits for.
    {
        const std::lock_guard lock(UpdatePluginProcess::processWaitLock);
        resetHandles();
        pluginId = id;
    }
    const std::wstring parameters = composePluginHostCommandLine(id, processSettings().logPath, blackListDisabled);

    SHELLEXECUTEINFOW execute{};
    execute.cbSize = sizeof(execute);
    execute.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI | SEE_MASK_UNICODE;
    execute.lpVerb = L"open";
    execute.lpFile = hostPath.c_str();
    execute.lpParameters = parameters.c_str();
    execute.lpDirectory = workDir.c_str();
    execute.nShow = SW_SHOWNORMAL;
    if (!::ShellExecuteExW(&execute)) {
        HOST_LOG(LogLevel::Error, L"failed ShellExecuteExW in startElevated, hostPath = %s, errCode = %u",
                 hostPath.c_str(), static_cast<unsigned>(::GetLastError()));
        return false;
    }
    const std::lock_guard lock(UpdatePluginProcess::processWaitLock);
    processHandle.reset(execute.hProcess);
    if (!::RegisterWaitForSingleObject(&waitHandle, processHandle.get(), &PluginProcess::processEnded, this, INFINITE,
                                       WT_EXECUTEONLYONCE)) {
        waitHandle = nullptr;
        HOST_LOG(LogLevel::Error, L"failed RegisterWaitForSingleObject in startElevated, hostPath = %s, errCode = %u",
                 hostPath.c_str(), static_cast<unsigned>(::GetLastError()));
        return false;
    }
    return true;
}

void CALLBACK PluginProcess::processEnded(void* context, BOOLEAN)
{
    std::shared_ptr<PluginSystemCallback> callback;
    std::uint32_t id = 0;
    std::uint32_t exitCode = 0;
    {
        const std::lock_guard lock(UpdatePluginProcess::processWaitLock);
        if (UpdatePluginProcess::pluginObjectsReleased)
            return;
        auto& process = *static_cast<PluginProcess*>(context);
        // A notification that waited for the lock while start replaced its
        // process belongs to a process nobody watches any more.
        if (!process.processHandle || ::WaitForSingleObject(process.processHandle.get(), 0) != WAIT_OBJECT_0)
            return;
        exitCode = process.onProcessFinished();
        callback = process.systemCallback;
        id = process.pluginId;
    }
    // Told outside the lock: the launcher may call the admin host again while
    // it hears of the exit, and the main thread must not wait for us then.
    if (callback)
        callback->ombrixClosed(id, exitCode);
}

std::uint32_t PluginProcess::onProcessFinished()
{
    DWORD exitCode = 0;
    if (!::GetExitCodeProcess(processHandle.get(), &exitCode)) {
        HOST_LOG(LogLevel::Error, L"failed GetExitCodeProcess: %d", static_cast<int>(::GetLastError()));
        exitCode = 0;
    }
    resetHandles();
    return exitCode;
}

void PluginProcess::resetHandles() noexcept
{
    if (waitHandle != nullptr) {
        // Not waiting for a running notification: this may be it.
        if (!::UnregisterWait(waitHandle)) {
            if (const DWORD error = ::GetLastError(); error == ERROR_IO_PENDING)
                HOST_LOG(LogLevel::Debug, L"UnregisterWait IO pending");
            else
                HOST_LOG(LogLevel::Error, L"failed UnregisterWait: %d", static_cast<int>(error));
        }
        waitHandle = nullptr;
    }
    processHandle.reset();
}
