// Helper process of the loader guard tests: hooks stay for the life of a
// process, so every case runs in a process of its own.
//   guard_probe CASE FOLDER   (FOLDER holds test_library.dll copies)
// Prints one line per failed check and exits with the number of failures.
#include "loader_guard/hook_engine.h"
#include "loader_guard/loader_guard.h"
#include "system/win32/unique_resource.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>
#include <string>
#include <thread>

namespace {

int failures = 0;

void check(bool ok, const char* what)
{
    if (!ok) {
        std::printf("FAILED: %s (last error %lu)\n", what, ::GetLastError());
        ++failures;
    }
}

std::string narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

std::wstring folder;

void install()
{
    const int result = installLoaderGuard([](const char* message, int code) {
        std::printf("FAILED: install reported \"%s\" (%d)\n", message, code);
        ++failures;
    });
    check(result == 0, "first install returns 0");
}

// Through the real kernel32 entry points, which the guard has hooked.
void expectRefusedEverywhere(const std::wstring& path, const char* what)
{
    ::SetLastError(0);
    check(::LoadLibraryW(path.c_str()) == nullptr && ::GetLastError() == ERROR_ACCESS_DENIED, what);
    ::SetLastError(0);
    check(::LoadLibraryA(narrow(path).c_str()) == nullptr && ::GetLastError() == ERROR_ACCESS_DENIED, what);
    ::SetLastError(0);
    check(::LoadLibraryExW(path.c_str(), nullptr, 0) == nullptr && ::GetLastError() == ERROR_ACCESS_DENIED, what);
    ::SetLastError(0);
    check(::LoadLibraryExA(narrow(path).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE) == nullptr &&
              ::GetLastError() == ERROR_ACCESS_DENIED,
          what);
}

void expectLoadedEverywhere(const std::wstring& path, const char* what)
{
    HMODULE modules[] = {::LoadLibraryW(path.c_str()), ::LoadLibraryA(narrow(path).c_str()),
                         ::LoadLibraryExW(path.c_str(), nullptr, 0),
                         ::LoadLibraryExA(narrow(path).c_str(), nullptr, 0)};
    for (HMODULE module : modules) {
        check(module != nullptr, what);
        if (module)
            ::FreeLibrary(module);
    }
}

int blockedNames()
{
    install();
    expectRefusedEverywhere(folder + L"\\RTSSHooks.dll", "RTSSHooks.dll in a folder is refused");
    expectRefusedEverywhere(folder + L"\\rtsshooks.dll", "rtsshooks.dll is refused");
    expectRefusedEverywhere(folder + L"\\ltc_game32-1.0.dll", "ltc_game32-1.0.dll is refused");
    expectRefusedEverywhere(L"\\fraps.dll", "\\fraps.dll is refused");
    expectLoadedEverywhere(folder + L"\\RTSSHooks", "RTSSHooks without extension loads");
    expectLoadedEverywhere(folder + L"\\RTSSHooks.dll.bak", "RTSSHooks.dll.bak loads");
    expectLoadedEverywhere(folder + L"\\ltc_game32.dll", "ltc_game32.dll loads");
    check(installLoaderGuard({}) == 2, "second install returns 2");
    return failures;
}

int systemModules()
{
    install();
    const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    check(::LoadLibraryW(L"D:\\other\\KERNEL32.DLL") == kernel32, "KERNEL32.DLL from elsewhere is the loaded one");
    check(::LoadLibraryA("D:\\other\\KERNEL32.DLL") == kernel32, "KERNEL32.DLL through the 8-bit entry point");
    // Answered by the guard without a load: freeing it as often as it was
    // "loaded" must leave kernel32 in place.
    for (int i = 0; i < 3; ++i)
        ::FreeLibrary(::LoadLibraryExW(L"D:\\other\\KERNEL32.DLL", nullptr, 0));
    check(::GetModuleHandleW(L"kernel32.dll") == kernel32, "kernel32 still loaded");
    ::SetLastError(0);
    const HMODULE none = ::LoadLibraryW(nullptr);
    check(none == nullptr, "a null name reaches the system");
    const std::wstring overlong = L"ltc_game32-" + std::wstring(245, L'x') + L".dll";
    ::SetLastError(0);
    check(::LoadLibraryW(overlong.c_str()) == nullptr && ::GetLastError() != ERROR_ACCESS_DENIED,
          "a 260-character name reaches the system");
    return failures;
}

// The system's entry points as a caller that looks them up finds them, in
// kernel32 and in kernelbase: each refuses what is blocked and loads the rest.
// Where one module's export is only a jump into the other's, the engine patches
// where the code is, so each function is patched in one of the two at least.
int entryPoints()
{
    using LoadW = HMODULE(WINAPI*)(const wchar_t*);
    using LoadA = HMODULE(WINAPI*)(const char*);
    using LoadExW = HMODULE(WINAPI*)(const wchar_t*, HANDLE, DWORD);
    using LoadExA = HMODULE(WINAPI*)(const char*, HANDLE, DWORD);
    using Function = void (*)(); // the type GCC lets any function pointer pass through
    constexpr const char* kNames[] = {"LoadLibraryW", "LoadLibraryA", "LoadLibraryExW", "LoadLibraryExA"};
    constexpr std::size_t kCompared = 8;
    struct EntryPoint {
        std::string what;
        std::size_t name;
        Function address;
        unsigned char before[kCompared];
    };
    std::vector<EntryPoint> entries;
    for (const wchar_t* module : {L"kernel32.dll", L"kernelbase.dll"}) {
        const HMODULE handle = ::GetModuleHandleW(module);
        check(handle != nullptr, "kernel32 and kernelbase are loaded");
        for (std::size_t name = 0; handle != nullptr && name < std::size(kNames); ++name) {
            EntryPoint entry{narrow(module) + "!" + kNames[name], name,
                             reinterpret_cast<Function>(::GetProcAddress(handle, kNames[name])), {}};
            check(entry.address != nullptr, (entry.what + " is exported").c_str());
            if (entry.address) {
                std::memcpy(entry.before, reinterpret_cast<const void*>(entry.address), kCompared);
                entries.push_back(entry);
            }
        }
    }
    install();
    const std::wstring blocked = folder + L"\\RTSSHooks.dll";
    const std::wstring allowed = folder + L"\\RTSSHooks.dll.bak";
    bool patched[std::size(kNames)] = {};
    for (const EntryPoint& entry : entries) {
        patched[entry.name] |= std::memcmp(entry.before, reinterpret_cast<const void*>(entry.address), kCompared) != 0;
        const auto load = [&](const std::wstring& path) {
            switch (entry.name) {
            case 0: return reinterpret_cast<LoadW>(entry.address)(path.c_str());
            case 1: return reinterpret_cast<LoadA>(entry.address)(narrow(path).c_str());
            case 2: return reinterpret_cast<LoadExW>(entry.address)(path.c_str(), nullptr, 0);
            default: return reinterpret_cast<LoadExA>(entry.address)(narrow(path).c_str(), nullptr, 0);
            }
        };
        ::SetLastError(0);
        check(load(blocked) == nullptr && ::GetLastError() == ERROR_ACCESS_DENIED,
              (entry.what + " refuses RTSSHooks.dll").c_str());
        const HMODULE module = load(allowed);
        check(module != nullptr, (entry.what + " loads RTSSHooks.dll.bak").c_str());
        if (module)
            ::FreeLibrary(module);
    }
    for (std::size_t name = 0; name < std::size(kNames); ++name)
        check(patched[name], (std::string(kNames[name]) + " is patched in kernel32 or kernelbase").c_str());
    return failures;
}

// A thread keeps calling a hooked function while the hooks are placed.
int spinningThread()
{
    std::atomic<bool> stop{false};
    std::atomic<long> calls{0}, wrong{0};
    const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    std::thread spinner([&] {
        while (!stop) {
            if (::LoadLibraryExW(L"kernel32.dll", nullptr, 0) != kernel32)
                ++wrong;
            ++calls;
        }
    });
    while (calls < 100)
        ::Sleep(1);
    install();
    const long atInstall = calls;
    // The spinner must get on with its calls once the others are let go.
    for (int waited = 0; calls < atInstall + 1000 && waited < 10000; ++waited)
        ::Sleep(1);
    stop = true;
    spinner.join();
    check(calls > atInstall, "the spinning thread ran on after the hooks were placed");
    check(wrong == 0, "every call of the spinning thread was answered correctly");
    expectRefusedEverywhere(L"fraps.dll", "hooks are in place after the spinning thread");
    return failures;
}

// Functions of our own, made in executable memory so their bytes are known.
void* makeFunction(const std::vector<unsigned char>& code)
{
    void* memory = ::VirtualAlloc(nullptr, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_EXECUTE_READWRITE);
    std::memcpy(memory, code.data(), code.size());
    return memory;
}

using IntFunction = int (*)();

template <typename F>
F as(void* code)
{
    return reinterpret_cast<F>(code);
}

int engine()
{
    // mov eax, 1; ret (padded), and a hook: mov eax, 2; ret
    const std::vector<unsigned char> returnsOne = {0xB8, 0x01, 0, 0, 0, 0xC3, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC};
    void* target = makeFunction(returnsOne);
    void* hook = makeFunction({0xB8, 0x02, 0, 0, 0, 0xC3});
    void* first = target;
    void* second = target;
    HookDescriptor batch[] = {{&first, hook, 7}, {&second, hook, 7}};
    check(setHooks(batch, 2) == 1, "a batch naming one function twice places one hook");
    check(batch[0].hooked == 1 && batch[1].hooked == 0, "the second descriptor reports 0");
    check(batch[0].outcome == HookOutcome::Placed && batch[1].outcome == HookOutcome::SameTargetInBatch,
          "the outcomes name the placed hook and the repeated target");
    check(as<IntFunction>(target)() == 2, "the patched function enters the hook");
    check(as<IntFunction>(first)() == 1, "the trampoline keeps the original behaviour");
    check(second == target, "an unhooked descriptor keeps the function's address");

    // xor eax, eax; ret: fewer than 5 bytes before the return.
    const std::vector<unsigned char> tooShort = {0x31, 0xC0, 0xC3, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC};
    void* shortFunction = makeFunction(tooShort);
    void* variable = shortFunction;
    HookDescriptor refused[] = {{&variable, hook, 7}};
    check(setHooks(refused, 1) == 0 && refused[0].hooked == 0 && refused[0].outcome == HookOutcome::Refused,
          "a too short function is refused");
    check(std::memcmp(shortFunction, tooShort.data(), tooShort.size()) == 0, "a refused function is left untouched");
    check(variable == shortFunction, "a refused descriptor keeps the function's address");
    return failures;
}

std::uintptr_t instructionPointer(HANDLE thread)
{
    CONTEXT context{};
    context.ContextFlags = CONTEXT_CONTROL;
    ::SuspendThread(thread);
    ::GetThreadContext(thread, &context);
    ::ResumeThread(thread);
#if defined(_WIN64)
    return context.Rip;
#else
    return context.Eip;
#endif
}

// A thread that never leaves a function's first bytes: it runs EB FE (a jump
// to itself), the second and third byte of "mov eax, 9090FEEBh". Writing the
// hook's jump over it would send the thread into the middle of the jump.
int threadInPatchedBytes()
{
    const std::vector<unsigned char> spinsInside = {0xB8, 0xEB, 0xFE, 0x90, 0x90, 0xC3, 0xCC, 0xCC, 0xCC, 0xCC};
    void* target = makeFunction(spinsInside);
    void* other = makeFunction({0xB8, 0x01, 0, 0, 0, 0xC3, 0xCC, 0xCC, 0xCC, 0xCC});
    void* hook = makeFunction({0xB8, 0x02, 0, 0, 0, 0xC3});
    const auto loop = reinterpret_cast<std::uintptr_t>(target) + 1;
    const System::Win32::UniqueHandle spinner(
        ::CreateThread(nullptr, 0, as<LPTHREAD_START_ROUTINE>(reinterpret_cast<void*>(loop)), nullptr, 0, nullptr));
    check(static_cast<bool>(spinner), "the spinning thread starts");
    if (!spinner)
        return failures;
    while (instructionPointer(spinner.get()) != loop)
        ::Sleep(1);

    void* first = target;
    void* second = other;
    HookDescriptor batch[] = {{&first, hook, 7}, {&second, hook, 7}};
    check(setHooks(batch, 2) == 1, "one of the two functions is hooked");
    check(batch[0].hooked == 0 && batch[0].outcome == HookOutcome::ThreadInPatchedBytes,
          "the function a thread is inside is refused as such");
    check(std::memcmp(target, spinsInside.data(), spinsInside.size()) == 0 && first == target,
          "the function a thread is inside is left untouched");
    check(batch[1].outcome == HookOutcome::Placed && as<IntFunction>(other)() == 2,
          "the other function of the batch is hooked");
    check(::SuspendThread(spinner.get()) == 0 && instructionPointer(spinner.get()) == loop,
          "the thread inside runs on where it was");
    ::TerminateThread(spinner.get(), 0);
    return failures;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3)
        return 100;
    const std::wstring which = argv[1];
    folder = argv[2];
    int result = 100;
    if (which == L"blocked-names")
        result = blockedNames();
    else if (which == L"system-modules")
        result = systemModules();
    else if (which == L"entry-points")
        result = entryPoints();
    else if (which == L"engine")
        result = engine();
    else if (which == L"spinning-thread")
        result = spinningThread();
    else if (which == L"thread-in-patched-bytes")
        result = threadInPatchedBytes();
    std::fflush(stdout);
    return result;
}
