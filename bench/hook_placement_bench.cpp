// Hook placement: the loader guard's batch of four (kernel32's LoadLibrary
// family onto the guard's replacements), which the engine places while it
// holds every other thread, with 32 other live threads in the process, against
// three baselines: the same batch with no other thread; the way the common
// hooking engines hold threads (a system-wide thread snapshot, then open,
// suspend and read the context of each thread of the process, resume and close
// them after) plus the same batch's patching; and the floor nobody can beat,
// suspending, reading the context of and resuming each of the 32 threads once. Hooks stay for the life of a process,
// so after each batch this program writes the original bytes back itself
// (the engine keeps each batch's trampolines: a block of executable memory
// per hundred-odd batches, never released).
#include "bench_report.h"
#include "loader_guard/guarded_loaders.h"
#include "loader_guard/hook_engine.h"
#include "loader_guard/hook_planner.h"
#include "loader_guard/own_memory.h"
#include "system/win32/proc_address.h"
#include "system/win32/unique_resource.h"

#include <windows.h>
#include <tlhelp32.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kOtherThreads = 32;
constexpr int kBatchesPerRound = 20;
constexpr int kRounds = 7;
constexpr Hooking::Machine kMachine = sizeof(void*) == 8 ? Hooking::Machine::X64 : Hooking::Machine::X86;

// The guard's four targets, with the bytes the engine will overwrite (it
// patches behind the jumps in front of a function, as resolveJumps finds it).
class GuardTargets {
public:
    GuardTargets()
    {
        using namespace LoaderGuard;
        targets_ = {{
            {"LoadLibraryW", slot(systemLoadLibraryW), code(&guardedLoadLibraryW)},
            {"LoadLibraryA", slot(systemLoadLibraryA), code(&guardedLoadLibraryA)},
            {"LoadLibraryExW", slot(systemLoadLibraryExW), code(&guardedLoadLibraryExW)},
            {"LoadLibraryExA", slot(systemLoadLibraryExA), code(&guardedLoadLibraryExA)},
        }};
        const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32");
        for (Target& target : targets_) {
            target.entry = System::Win32::procAddress<void*>(kernel32, target.name);
            if (target.entry == nullptr)
                throw std::runtime_error(std::string("no ") + target.name + " in kernel32");
            target.code = reinterpret_cast<std::uint8_t*>(static_cast<std::uintptr_t>(
                Hooking::resolveJumps(kMachine, reinterpret_cast<std::uintptr_t>(target.entry), Hooking::readOwnMemory)));
            std::memcpy(target.original, target.code, sizeof(target.original));
            *target.slot = target.entry;
        }
    }

    // Microseconds for one batch; the hooks are gone again when it returns.
    double placeBatch()
    {
        std::array<HookDescriptor, 4> batch = descriptors();
        const auto start = Clock::now();
        const int placed = setHooks(batch.data(), static_cast<int>(batch.size()));
        const double microseconds = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        restore();
        if (placed != static_cast<int>(batch.size()))
            throw std::runtime_error("the engine placed " + std::to_string(placed) + " of the four hooks");
        return microseconds;
    }

    // That placing and restoring really happen: the guard refuses a DLL of
    // its block list only while hooked.
    void check()
    {
        const auto refused = [] {
            ::SetLastError(0);
            return ::LoadLibraryW(L"\\fraps.dll") == nullptr && ::GetLastError() == ERROR_ACCESS_DENIED;
        };
        std::array<HookDescriptor, 4> batch = descriptors();
        const bool placed = setHooks(batch.data(), static_cast<int>(batch.size())) == 4 && refused();
        restore();
        if (!placed || refused())
            throw std::runtime_error("the hooks are not placed and removed as measured");
    }

private:
    struct Target {
        const char* name;
        void** slot; // where the guard's replacement finds the system function
        void* hook;
        void* entry = nullptr;
        std::uint8_t* code = nullptr;
        std::uint8_t original[Hooking::kCodeAreaSize] = {};
    };

    template <typename Function>
    static void** slot(Function& variable)
    {
        return reinterpret_cast<void**>(&variable);
    }
    template <typename Function>
    static void* code(Function function)
    {
        return reinterpret_cast<void*>(function);
    }

    std::array<HookDescriptor, 4> descriptors() const
    {
        std::array<HookDescriptor, 4> batch{};
        for (std::size_t i = 0; i < batch.size(); ++i)
            batch[i] = HookDescriptor{targets_[i].slot, targets_[i].hook, 0};
        return batch;
    }

    // Only this thread calls these functions: nothing to hold while writing.
    void restore()
    {
        for (Target& target : targets_) {
            DWORD previous = 0;
            if (!::VirtualProtect(target.code, sizeof(target.original), PAGE_EXECUTE_READWRITE, &previous))
                throw std::runtime_error("cannot write the original bytes back");
            std::memcpy(target.code, target.original, sizeof(target.original));
            ::VirtualProtect(target.code, sizeof(target.original), previous, &previous);
            ::FlushInstructionCache(::GetCurrentProcess(), target.code, sizeof(target.original));
            *target.slot = target.entry;
        }
    }

    std::array<Target, 4> targets_;
};

std::size_t threadsOfThisProcess()
{
    const System::Win32::UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    std::size_t count = 0;
    for (BOOL more = ::Thread32First(snapshot.get(), &entry); more; more = ::Thread32Next(snapshot.get(), &entry))
        count += entry.th32OwnerProcessID == ::GetCurrentProcessId();
    return count;
}

// Threads that live as a host's threads mostly do: waiting.
class WaitingThreads {
public:
    explicit WaitingThreads(int count) : end_(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
        if (!end_)
            throw std::runtime_error("CreateEventW failed");
        std::atomic<int> started{0};
        for (int i = 0; i < count; ++i)
            threads_.emplace_back([this, &started] {
                ++started;
                ::WaitForSingleObject(end_.get(), INFINITE);
            });
        while (started < count)
            ::Sleep(1);
    }
    ~WaitingThreads()
    {
        ::SetEvent(end_.get());
        for (std::thread& thread : threads_)
            thread.join();
    }
    WaitingThreads(const WaitingThreads&) = delete;
    WaitingThreads& operator=(const WaitingThreads&) = delete;

private:
    System::Win32::UniqueHandle end_;
    std::vector<std::thread> threads_;
};

void expectThreads(int otherThreads)
{
    if (threadsOfThisProcess() != static_cast<std::size_t>(otherThreads) + 1)
        throw std::runtime_error("the process has threads of its own besides the measured ones");
}

// Microseconds per batch, the median's input of one round.
double placeBatches(GuardTargets& targets, int otherThreads)
{
    const WaitingThreads others(otherThreads);
    expectThreads(otherThreads);
    double total = 0;
    for (int i = 0; i < kBatchesPerRound; ++i)
        total += targets.placeBatch();
    return total / kBatchesPerRound;
}

// The threads of this process but the calling one, held the way the common
// engines hold them: from a snapshot of every thread of the system.
std::vector<System::Win32::UniqueHandle> holdFromSnapshot()
{
    std::vector<System::Win32::UniqueHandle> held;
    const System::Win32::UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Thread32First(snapshot.get(), &entry); more; more = ::Thread32Next(snapshot.get(), &entry)) {
        if (entry.th32OwnerProcessID != ::GetCurrentProcessId() || entry.th32ThreadID == ::GetCurrentThreadId())
            continue;
        System::Win32::UniqueHandle thread(
            ::OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_SET_CONTEXT, FALSE, entry.th32ThreadID));
        if (!thread || ::SuspendThread(thread.get()) == static_cast<DWORD>(-1))
            continue;
        CONTEXT context{};
        context.ContextFlags = CONTEXT_CONTROL;
        ::GetThreadContext(thread.get(), &context);
        held.push_back(std::move(thread));
    }
    return held;
}

// Microseconds for the common engines' way with 32 threads: hold them from a
// snapshot, place the batch (its patching, timed with no other thread to hold),
// resume and close them.
double snapshotBatches(GuardTargets& targets)
{
    double patching = 0;
    for (int i = 0; i < kBatchesPerRound; ++i)
        patching += targets.placeBatch();
    const WaitingThreads others(kOtherThreads);
    expectThreads(kOtherThreads);
    double holding = 0;
    for (int i = 0; i < kBatchesPerRound; ++i) {
        const auto start = Clock::now();
        std::vector<System::Win32::UniqueHandle> held = holdFromSnapshot();
        for (const System::Win32::UniqueHandle& thread : held)
            ::ResumeThread(thread.get());
        held.clear();
        holding += std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    }
    return (patching + holding) / kBatchesPerRound;
}

// The floor: each of the 32 threads suspended, its context read and resumed
// once, with handles at hand already.
double bareSuspendLoop()
{
    const WaitingThreads others(kOtherThreads);
    expectThreads(kOtherThreads);
    std::vector<System::Win32::UniqueHandle> threads = holdFromSnapshot();
    for (const System::Win32::UniqueHandle& thread : threads)
        ::ResumeThread(thread.get());
    double total = 0;
    for (int i = 0; i < kBatchesPerRound; ++i) {
        const auto start = Clock::now();
        for (const System::Win32::UniqueHandle& thread : threads) {
            ::SuspendThread(thread.get());
            CONTEXT context{};
            context.ContextFlags = CONTEXT_CONTROL;
            ::GetThreadContext(thread.get(), &context);
            ::ResumeThread(thread.get());
        }
        total += std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    }
    return total / kBatchesPerRound;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    return Bench::runBenchmark(argc, argv, [] {
        GuardTargets targets;
        targets.check();
        const auto ours = [&] { return placeBatches(targets, kOtherThreads); };
        return std::vector<Bench::Figure>{
            // What 32 live threads cost: the platform's calls per thread, reported without a goal.
            Bench::measure({"hook placement, 4 targets, 32 other threads vs none", "us/batch", false, 0}, kRounds, ours,
                           [&] { return placeBatches(targets, 0); }),
            Bench::measure({"hook placement, 32 threads, vs snapshot-based holding", "us/batch", false, 1.0}, kRounds,
                           ours, [&] { return snapshotBatches(targets); }),
            Bench::measure({"hook placement, 32 threads, vs suspend/context/resume floor", "us/batch", false, 1.3},
                           kRounds, ours, bareSuspendLoop),
        };
    });
}
