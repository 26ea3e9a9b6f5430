#pragma once

#include <windows.h>

#include <functional>

// The ends of the host that its launcher does not ask for: the launcher's
// process ended, or it released the host's object without deinitialize. The
// plug-in still gets its deinitialize on the main thread, but within a bound:
// a plug-in that does not return in time is cut off with the process.
namespace HostEnd {

enum class Reason {
    LauncherGone,     // exit code 9
    LauncherReleased, // exit code 10
};

// Milliseconds the plug-in's deinitialize may take when the host ends on its own.
inline constexpr DWORD kFarewellLimitMs = 2500;

// Once the launcher took the host (the binding succeeded): before, a failure
// is the binding's own and ends the host with the binding's exit code.
void bindingDone() noexcept;

// HRESULTs with which a call to the launcher fails once its process is gone.
bool launcherGone(HRESULT result) noexcept;

// The plug-in's last call, made by the object that loaded it: registered once
// the plug-in may run, cleared once its deinitialize was made. Main thread.
void setFarewell(std::function<void()> farewell);
void clearFarewell() noexcept;

// Any thread, any number of times: the first request after the binding logs why the host ends,
// hands the end to the main thread (after the operation running there, if
// any) and bounds it in time.
void request(Reason reason, HRESULT cause = S_OK) noexcept;

// A call to the launcher failed with `result`. True when that is because the
// launcher is gone: the end is requested and the caller writes no line of its
// own, so that a plug-in reporting on does not fill the log.
bool launcherCallFailed(HRESULT result) noexcept;

// True once the launcher's process is known to be gone: the report the caller
// was about to make could only fail, after a round trip that a plug-in
// reporting from many threads would pay again and again while its farewell
// waits for them. The report is counted instead; the caller makes no call.
bool dropIfLauncherGone() noexcept;

// Ends the process with `exitCode` after `limitMs` unless it ended before,
// logging `line` (one %u: the limit) first. Any thread.
void endAfter(DWORD limitMs, UINT exitCode, const wchar_t* line) noexcept;

} // namespace HostEnd
