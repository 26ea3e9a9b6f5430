#include "call_watchdog.h"

namespace LauncherSim {

CallWatchdog::CallWatchdog(Transcript& transcript, std::chrono::milliseconds limit)
    : transcript_(transcript), limit_(limit), thread_([this] { watch(); })
{
}

CallWatchdog::~CallWatchdog()
{
    {
        const std::lock_guard lock(mutex_);
        ending_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void CallWatchdog::arm(const std::wstring& operation, std::vector<HANDLE> hosts)
{
    {
        const std::lock_guard lock(mutex_);
        armed_ = true;
        operation_ = operation;
        hosts_ = std::move(hosts);
        deadline_ = std::chrono::steady_clock::now() + limit_;
    }
    changed_.notify_all();
}

bool CallWatchdog::armIfIdle(const std::wstring& operation, std::vector<HANDLE> hosts)
{
    {
        const std::lock_guard lock(mutex_);
        if (armed_)
            return false;
    }
    // Only this thread arms: nothing can arm in between.
    arm(operation, std::move(hosts));
    return true;
}

void CallWatchdog::disarm()
{
    {
        const std::lock_guard lock(mutex_);
        armed_ = false;
    }
    changed_.notify_all();
}

void CallWatchdog::watch()
{
    std::unique_lock lock(mutex_);
    while (!ending_) {
        if (!armed_) {
            changed_.wait(lock);
            continue;
        }
        if (changed_.wait_until(lock, deadline_) == std::cv_status::timeout && armed_ &&
            std::chrono::steady_clock::now() >= deadline_) {
            armed_ = false;
            transcript_.line(L"IUpdatePlugin::" + operation_ + L" did not return within " +
                             std::to_wstring(limit_.count()) + L" ms: ending the host");
            for (const HANDLE host : hosts_)
                ::TerminateProcess(host, kHungHostExitCode);
        }
    }
}

} // namespace LauncherSim
