// Guarded LoadLibraryW of a DLL that is already loaded: the call through
// kernel32's entry point, which the installed loader guard has hooked, against
// the system function the guard wraps (the trampoline it calls itself).
#include "bench_report.h"
#include "loader_guard/guarded_loaders.h"
#include "loader_guard/loader_guard.h"
#include "system/win32/proc_address.h"

#include <windows.h>

#include <chrono>
#include <stdexcept>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kCalls = 20000;
constexpr int kRounds = 7;
// Loaded with every program of the build (its C runtime), and not one of the
// names the guard answers itself.
constexpr const wchar_t* kLoaded = L"msvcrt.dll";

double microsecondsPerCall(decltype(&::LoadLibraryW) load)
{
    const auto start = Clock::now();
    for (int i = 0; i < kCalls; ++i)
        if (load(kLoaded) == nullptr)
            throw std::runtime_error("LoadLibraryW of a loaded DLL failed");
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / kCalls;
}

// The guard as the host installs it, and the proof that it is in place: the
// entry point refuses a DLL of the block list, and the guard's way to the
// system is a trampoline, not kernel32's function.
void installGuard()
{
    installLoaderGuard([](const char* message, int code) {
        throw std::runtime_error("the loader guard was not installed: " + std::string(message) + " (" +
                                 std::to_string(code) + ")");
    });
    ::SetLastError(0);
    const bool refuses = ::LoadLibraryW(L"\\fraps.dll") == nullptr && ::GetLastError() == ERROR_ACCESS_DENIED;
    const auto kernel32 = System::Win32::procAddress<decltype(&::LoadLibraryW)>(::GetModuleHandleW(L"kernel32"),
                                                                               "LoadLibraryW");
    if (!refuses || LoaderGuard::systemLoadLibraryW == kernel32 || ::GetModuleHandleW(kLoaded) == nullptr)
        throw std::runtime_error("the loader guard's hooks are not in place");
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    return Bench::runBenchmark(argc, argv, [] {
        installGuard();
        return std::vector<Bench::Figure>{
            Bench::measure({"guarded LoadLibraryW of a loaded DLL", "us/call", false, 2}, kRounds,
                           [] { return microsecondsPerCall(&::LoadLibraryW); },
                           [] { return microsecondsPerCall(LoaderGuard::systemLoadLibraryW); }),
        };
    });
}
