#include "wait_with_messages.h"

#include <stdexcept>

namespace {

class Stopwatch {
public:
    Stopwatch() : start_(now()) {}

    long long elapsedMs() const { return (now() - start_) * 1000 / frequency(); }

private:
    static long long now()
    {
        LARGE_INTEGER counter;
        if (!::QueryPerformanceCounter(&counter))
            throw std::runtime_error("unexpected error");
        return counter.QuadPart;
    }
    static long long frequency()
    {
        LARGE_INTEGER value;
        if (!::QueryPerformanceFrequency(&value) || value.QuadPart == 0)
            throw std::runtime_error("unexpected error");
        return value.QuadPart;
    }

    long long start_;
};

} // namespace

int waitWithMessages(HANDLE handle, DWORD limitMs)
{
    if (handle == nullptr)
        return -1;
    try {
        const Stopwatch stopwatch;
        DWORD remaining = limitMs;
        for (;;) {
            const DWORD result = ::MsgWaitForMultipleObjects(1, &handle, FALSE, remaining, QS_ALLINPUT);
            if (result == WAIT_OBJECT_0)
                return 0;
            if (result == WAIT_TIMEOUT)
                return WAIT_TIMEOUT;
            // A failed or abandoned wait would fail again at once: give up
            // instead of spinning until the limit.
            if (result != WAIT_OBJECT_0 + 1)
                return -1;
            long long elapsed = 0;
            while (::GetQueueStatus(QS_ALLINPUT) != 0) {
                MSG message;
                if (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                    ::TranslateMessage(&message);
                    ::DispatchMessageW(&message);
                }
                elapsed = stopwatch.elapsedMs();
                if (elapsed > static_cast<long long>(limitMs))
                    return WAIT_TIMEOUT;
                if (::WaitForSingleObject(handle, 0) == WAIT_OBJECT_0)
                    return 0;
            }
            remaining = static_cast<DWORD>(limitMs - elapsed);
        }
    } catch (const std::exception&) {
        return -1;
    }
}
