// The library's core functions as the host expects them. Start-up plays a
// status script on a thread of its own, as the real library reports from its
// threads:
//   OMBRIX_STANDIN_INIT_RESULT     what InitLib_Dyn returns (default 6)
//   OMBRIX_STANDIN_STATUSES        statuses sent at once, "3,2,7" (default "7"; "none")
//   OMBRIX_STANDIN_LATE_STATUSES   statuses sent once the event named by
//   OMBRIX_STANDIN_LATE_EVENT      is set (after the host stopped waiting)
//   OMBRIX_STANDIN_PROBE_LOADER    set: record the first bytes of LoadLibraryW
#include "recorder.h"
#include "structure.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

using LogCallback = void(STANDIN_CALL*)(int severity, const wchar_t* text);
using StatusCallback = void(STANDIN_CALL*)(int previous, int current);
using BeginCallback = void(STANDIN_CALL*)(std::uint8_t, void*, std::uint8_t, const char*, std::uint64_t, void**);
using EndCallback = void(STANDIN_CALL*)(std::uint8_t, void*, std::uint8_t, const char*, std::uint64_t);

std::atomic<int> currentStatus{0};
StatusCallback statusCallback = nullptr;
std::atomic<BeginCallback> beginCallback{nullptr};
std::atomic<EndCallback> endCallback{nullptr};
std::atomic<std::uint64_t> nextRegistration{101};
std::atomic<std::uint64_t> beginId{0};
std::atomic<std::uint64_t> endId{0};
std::thread* statusThread = nullptr;
HANDLE stopEvent = nullptr;

std::vector<int> statuses(const wchar_t* variable, const wchar_t* fallback)
{
    std::wstring text = Standin::environment(variable);
    if (text.empty())
        text = fallback;
    std::vector<int> values;
    if (text == L"none")
        return values;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find(L',', at);
        if (end == std::wstring::npos)
            end = text.size();
        values.push_back(std::stoi(text.substr(at, end - at)));
        at = end + 1;
    }
    return values;
}

void send(const std::vector<int>& values)
{
    // Recorded first: a status that ends the host's wait is then in the record
    // before anything the host does afterwards.
    for (const int value : values) {
        Standin::record("status " + std::to_string(value));
        statusCallback(currentStatus.exchange(value), value);
    }
}

void playScript(std::vector<int> now, std::vector<int> late, HANDLE lateEvent)
{
    send(now);
    if (lateEvent != nullptr) {
        // Set before the stop, the late event wins: the lowest index is reported.
        const HANDLE events[] = {lateEvent, stopEvent};
        if (::WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0)
            send(late);
        ::CloseHandle(lateEvent);
    }
}

std::string bytesAt(const wchar_t* module, const char* function)
{
    const HMODULE handle = ::GetModuleHandleW(module);
    const auto* code = handle ? reinterpret_cast<const unsigned char*>(::GetProcAddress(handle, function)) : nullptr;
    std::string text;
    for (int i = 0; code != nullptr && i < 16; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof(hex), " %02X", code[i]);
        text += hex;
    }
    return text;
}

} // namespace

STANDIN_EXPORT int STANDIN_CALL GetApiVersion()
{
    return 3;
}

STANDIN_EXPORT int STANDIN_CALL GetStatus()
{
    return currentStatus;
}

STANDIN_EXPORT int STANDIN_CALL InitLib_Dyn(const Structure* configuration, LogCallback log, StatusCallback status,
                                            void* reserved, int flags)
{
    Standin::record("InitLib_Dyn #" + std::to_string(configuration ? configuration->id : 0) +
                    (reserved ? " reserved " : " (null) ") + std::to_string(flags));
    if (!Standin::environment(L"OMBRIX_STANDIN_PROBE_LOADER").empty()) {
        Standin::record("kernel32!LoadLibraryW" + bytesAt(L"kernel32.dll", "LoadLibraryW"));
        Standin::record("kernelbase!LoadLibraryW" + bytesAt(L"kernelbase.dll", "LoadLibraryW"));
    }
    log(1, L"stand-in started");

    const std::wstring result = Standin::environment(L"OMBRIX_STANDIN_INIT_RESULT");
    // Returned from the local: the script's thread may change the status first.
    const int initialStatus = result.empty() ? 6 : std::stoi(result);
    currentStatus = initialStatus;
    statusCallback = status;
    const std::wstring lateEventName = Standin::environment(L"OMBRIX_STANDIN_LATE_EVENT");
    const HANDLE lateEvent =
        lateEventName.empty() ? nullptr : ::CreateEventW(nullptr, TRUE, FALSE, lateEventName.c_str());
    stopEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    statusThread = new std::thread(playScript, statuses(L"OMBRIX_STANDIN_STATUSES", L"7"),
                                   statuses(L"OMBRIX_STANDIN_LATE_STATUSES", L"none"), lateEvent);
    return initialStatus;
}

// Reports the assertion as the library does: through the event callbacks.
STANDIN_EXPORT void STANDIN_CALL RaiseAssert(const char* text1, const char* text2, const char* text3,
                                             const char* text4, const char* text5, std::uint64_t line, int flags)
{
    Standin::record("RaiseAssert " + Standin::quoted(text1) + " " + Standin::quoted(text2) + " " +
                    Standin::quoted(text3) + " " + Standin::quoted(text4) + " " + Standin::quoted(text5) + " " +
                    std::to_string(line) + " " + std::to_string(flags));
    void* customData = nullptr;
    if (const BeginCallback begin = beginCallback)
        begin(1, nullptr, 0, text1, line, &customData);
    if (const EndCallback end = endCallback)
        end(1, customData, 0, text1, line);
}

STANDIN_EXPORT void STANDIN_CALL RaiseAssertSync(const char* text1, const char*, const char*, const char*,
                                                 const char*, std::uint64_t line, int)
{
    Standin::record("RaiseAssertSync " + Standin::quoted(text1) + " " + std::to_string(line));
}

STANDIN_EXPORT void STANDIN_CALL TerminateLib()
{
    Standin::record("TerminateLib");
    if (statusThread != nullptr) {
        ::SetEvent(stopEvent);
        statusThread->join();
        delete statusThread;
        statusThread = nullptr;
        ::CloseHandle(stopEvent);
    }
}

STANDIN_EXPORT void STANDIN_CALL StopOutprocessHandlingAndShutdownMonitor_Dyn()
{
    Standin::record("StopOutprocessHandlingAndShutdownMonitor_Dyn");
}

STANDIN_EXPORT void STANDIN_CALL ReportException(void*)
{
    Standin::record("ReportException");
}

STANDIN_EXPORT void STANDIN_CALL ReportTermination()
{
    Standin::record("ReportTermination");
}

STANDIN_EXPORT void STANDIN_CALL ReportSystemExceptionRecord(void*, void*)
{
    Standin::record("ReportSystemExceptionRecord");
}

STANDIN_EXPORT std::uint64_t STANDIN_CALL RegisterOnEventEndCallback_Dyn(EndCallback callback)
{
    endCallback = callback;
    const std::uint64_t id = nextRegistration++;
    endId = id;
    Standin::record("RegisterOnEventEndCallback_Dyn -> " + std::to_string(id));
    return id;
}

STANDIN_EXPORT std::uint64_t STANDIN_CALL RegisterOnEventBeginCallback_Dyn(BeginCallback callback)
{
    beginCallback = callback;
    const std::uint64_t id = nextRegistration++;
    beginId = id;
    Standin::record("RegisterOnEventBeginCallback_Dyn -> " + std::to_string(id));
    return id;
}

STANDIN_EXPORT void STANDIN_CALL UnregisterCallback(std::uint64_t id)
{
    Standin::record("UnregisterCallback " + std::to_string(id));
    if (id != 0 && id == beginId)
        beginCallback = nullptr;
    if (id != 0 && id == endId)
        endCallback = nullptr;
}
