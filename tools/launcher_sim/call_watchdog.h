#pragma once

#include "transcript.h"

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace LauncherSim {

// The exit code the simulator gives a host it ended because a call hung.
inline constexpr DWORD kHungHostExitCode = 0x0000DEAD;

// Ends the host when one call into it takes longer than the limit, so a plug-in
// that never returns fails the session instead of hanging it: the call then
// comes back with COM's "server died" failure. A thread of its own, since the
// session's thread is inside the call. With several hosts in the session it
// ends them all: which one serves the hung call is not known, and the session
// fails anyway.
class CallWatchdog {
public:
    CallWatchdog(Transcript& transcript, std::chrono::milliseconds limit);
    ~CallWatchdog();
    CallWatchdog(const CallWatchdog&) = delete;
    CallWatchdog& operator=(const CallWatchdog&) = delete;

    void arm(const std::wstring& operation, std::vector<HANDLE> hosts);
    // The same unless a call is already watched (a nested call inside it: the
    // outer call's limit holds); true when it armed.
    bool armIfIdle(const std::wstring& operation, std::vector<HANDLE> hosts);
    void disarm();

private:
    void watch();

    Transcript& transcript_;
    const std::chrono::milliseconds limit_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool armed_ = false;
    bool ending_ = false;
    std::wstring operation_;
    std::vector<HANDLE> hosts_;
    std::chrono::steady_clock::time_point deadline_;
    std::thread thread_;
};

} // namespace LauncherSim
