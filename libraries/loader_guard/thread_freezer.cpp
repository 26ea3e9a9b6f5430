#include "thread_freezer.h"

#include <tlhelp32.h>

#include <algorithm>

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

// An instruction pointer that could not be read (0) may be in any range.
bool within(std::uintptr_t where, const ThreadFreezer::Range& range)
{
    return where == 0 || (where >= range.first && where < range.second);
}

enum class Hold { Outside, Inside, NotHeld };

// Suspends the thread and reads its context only once it is suspended. A
// thread inside a range gets three chances to leave it; if it stays, it stays
// suspended, with its instruction pointer in `where`.
Hold hold(HANDLE thread, const std::vector<ThreadFreezer::Range>& ranges, std::uintptr_t& where)
{
    for (int attempt = 1;; ++attempt) {
        if (::SuspendThread(thread) == static_cast<DWORD>(-1))
            return Hold::NotHeld;
        CONTEXT context{};
        context.ContextFlags = CONTEXT_CONTROL;
        where = ::GetThreadContext(thread, &context) ? instructionPointer(context) : 0;
        if (std::none_of(ranges.begin(), ranges.end(), [&](const auto& range) { return within(where, range); }))
            return Hold::Outside;
        if (attempt == kTries)
            return Hold::Inside;
        ::ResumeThread(thread);
        ::Sleep(kRetryDelayMs);
    }
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

ThreadFreezer::ThreadFreezer(const std::vector<Range>& patched) : occupied_(patched.size(), false)
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
        std::uintptr_t where = 0;
        const Hold held = thread ? hold(thread.get(), patched, where) : Hold::NotHeld;
        if (held == Hold::Inside)
            for (std::size_t i = 0; i < patched.size(); ++i)
                if (within(where, patched[i]))
                    occupied_[i] = true;
        if (held != Hold::NotHeld)
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
