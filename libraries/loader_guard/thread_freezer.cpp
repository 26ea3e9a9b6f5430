#include "thread_freezer.h"

#include <tlhelp32.h>

namespace Hooking {

namespace {

constexpr int kTries = 3;
constexpr DWORD kRetryDelayMs = 100;

std::uintptr_t instructionPointer(const CONTEXT& context)
{
#if defined(_WIN64)
    return context.Rip;
#else
    return context.Eip;
#endif
}

bool insideAny(std::uintptr_t address, const std::vector<ThreadFreezer::Range>& ranges)
{
    for (const auto& [begin, end] : ranges)
        if (address >= begin && address < end)
            return true;
    return false;
}

// Suspends the thread and reads its context only once it is suspended. True
// when it is held outside the patched ranges.
bool holdOutside(HANDLE thread, const std::vector<ThreadFreezer::Range>& ranges)
{
    for (int attempt = 0; attempt < kTries; ++attempt) {
        if (::SuspendThread(thread) == static_cast<DWORD>(-1))
            return false;
        CONTEXT context{};
        context.ContextFlags = CONTEXT_CONTROL;
        if (::GetThreadContext(thread, &context) && !insideAny(instructionPointer(context), ranges))
            return true;
        ::ResumeThread(thread);
        ::Sleep(kRetryDelayMs);
    }
    return false;
}

// Suspending and resuming at time-critical priority keeps the calling thread
// from being preempted between threads it holds.
class TimeCriticalScope {
public:
    TimeCriticalScope() : previous_(::GetThreadPriority(::GetCurrentThread()))
    {
        ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    }
    ~TimeCriticalScope() { ::SetThreadPriority(::GetCurrentThread(), previous_); }

private:
    int previous_;
};

} // namespace

ThreadFreezer::ThreadFreezer(const std::vector<Range>& patched)
{
    const System::Win32::UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot)
        return;
    listed_ = true;
    const DWORD process = ::GetCurrentProcessId();
    const DWORD self = ::GetCurrentThreadId();
    const TimeCriticalScope priority;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Thread32First(snapshot.get(), &entry); more; more = ::Thread32Next(snapshot.get(), &entry)) {
        if (entry.th32OwnerProcessID != process || entry.th32ThreadID == self)
            continue;
        System::Win32::UniqueHandle thread(::OpenThread(THREAD_ALL_ACCESS, FALSE, entry.th32ThreadID));
        if (thread && holdOutside(thread.get(), patched))
            suspended_.push_back(std::move(thread));
    }
}

ThreadFreezer::~ThreadFreezer()
{
    const TimeCriticalScope priority;
    for (const auto& thread : suspended_)
        ::ResumeThread(thread.get());
}

} // namespace Hooking
