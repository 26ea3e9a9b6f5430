#include "thread_freezer.h"

#include "system/win32/proc_address.h"

#include <winternl.h>

#include <algorithm>

namespace Hooking {

namespace {

using System::Win32::UniqueHandle;

constexpr int kTries = 3;
constexpr DWORD kRetryDelayMs = 100;
constexpr NTSTATUS kNoMoreEntries = static_cast<NTSTATUS>(0x8000001A);

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

using NtGetNextThreadFn = NTSTATUS(NTAPI*)(HANDLE process, HANDLE thread, ACCESS_MASK access, ULONG attributes,
                                           ULONG flags, HANDLE* next);

// Every other thread of the process, walked by handle: a thread id read from a
// snapshot may name a thread of another process by the time it is opened, and
// a snapshot lists the threads of the whole system. False when the walk failed
// before its end: a thread left out would run on while its code is rewritten.
bool otherThreads(std::vector<UniqueHandle>& threads)
{
    static const auto nextThread =
        System::Win32::procAddress<NtGetNextThreadFn>(::GetModuleHandleW(L"ntdll"), "NtGetNextThread");
    if (nextThread == nullptr)
        return false;
    const DWORD self = ::GetCurrentThreadId();
    UniqueHandle selfHandle; // the walk goes on from it, so it stays open
    HANDLE previous = nullptr;
    for (;;) {
        UniqueHandle thread;
        const NTSTATUS status = nextThread(::GetCurrentProcess(), previous, THREAD_ALL_ACCESS, 0, 0, thread.put());
        if (status == kNoMoreEntries)
            return true;
        if (status < 0)
            return false;
        previous = thread.get();
        if (::GetThreadId(thread.get()) == self)
            selfHandle = std::move(thread);
        else
            threads.push_back(std::move(thread));
    }
}

enum class Hold { Outside, Inside, NotHeld };

std::uintptr_t whereIs(HANDLE thread)
{
    CONTEXT context{};
    context.ContextFlags = CONTEXT_CONTROL;
    return ::GetThreadContext(thread, &context) ? instructionPointer(context) : 0;
}

// Reads where a suspended thread stopped. A thread inside a range gets two
// more chances to leave it, running for a moment each time; if it stays, it
// stays suspended, with its instruction pointer in `where`.
Hold settle(HANDLE thread, const std::vector<ThreadFreezer::Range>& ranges, std::uintptr_t& where)
{
    for (int attempt = 1;; ++attempt) {
        where = whereIs(thread);
        if (std::none_of(ranges.begin(), ranges.end(), [&](const auto& range) { return within(where, range); }))
            return Hold::Outside;
        if (attempt == kTries)
            return Hold::Inside;
        ::ResumeThread(thread);
        ::Sleep(kRetryDelayMs);
        if (::SuspendThread(thread) == static_cast<DWORD>(-1))
            return Hold::NotHeld;
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
    const TimeCriticalScope priority;
    // Nothing is allocated once a thread is suspended: it may hold the heap's lock.
    if (!otherThreads(suspended_)) {
        suspended_.clear(); // none of them is suspended, so none may be resumed
        return;
    }
    listed_ = true;
    // Every thread is suspended before any context is read. A suspension only
    // asks the thread to stop, and reading its context waits until it has: all
    // asked first, they stop side by side instead of one after the other.
    for (auto& thread : suspended_)
        if (::SuspendThread(thread.get()) == static_cast<DWORD>(-1))
            thread.reset();
    for (auto& thread : suspended_) {
        if (!thread)
            continue;
        std::uintptr_t where = 0;
        const Hold held = settle(thread.get(), patched, where);
        if (held == Hold::Inside)
            for (std::size_t i = 0; i < patched.size(); ++i)
                if (within(where, patched[i]))
                    occupied_[i] = true;
        if (held == Hold::NotHeld)
            thread.reset();
    }
    // Only the threads held stay; erasing moves, it does not allocate.
    std::erase_if(suspended_, [](const UniqueHandle& thread) { return !thread; });
}

ThreadFreezer::~ThreadFreezer()
{
    const TimeCriticalScope priority;
    for (const auto& thread : suspended_)
        ::ResumeThread(thread.get());
}

} // namespace Hooking
