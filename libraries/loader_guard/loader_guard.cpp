#include "loader_guard.h"

#include "guarded_loaders.h"
#include "hook_engine.h"
#include "system/win32/proc_address.h"

#include <iterator>

namespace {

bool installed = false;

struct EntryPoint {
    const char* name;
    void** systemFunction;
    void* replacement;
};

template <typename Function>
void** slot(Function& variable)
{
    return reinterpret_cast<void**>(&variable);
}

template <typename Function>
void* code(Function function)
{
    return reinterpret_cast<void*>(function);
}

} // namespace

int installLoaderGuard(LoaderGuardFailureCallback onFailure)
{
    if (installed)
        return 2;
    const auto report = [&](const char* message, int code) {
        if (onFailure)
            onFailure(message, code);
    };
    installed = true;
    const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32");
    if (kernel32 == nullptr) {
        report("GetModuleHandleW for 'kernel32' failed", static_cast<int>(::GetLastError()));
        return 0;
    }
    using namespace LoaderGuard;
    const EntryPoint entryPoints[] = {
        {"LoadLibraryW", slot(systemLoadLibraryW), code(&guardedLoadLibraryW)},
        {"LoadLibraryA", slot(systemLoadLibraryA), code(&guardedLoadLibraryA)},
        {"LoadLibraryExW", slot(systemLoadLibraryExW), code(&guardedLoadLibraryExW)},
        {"LoadLibraryExA", slot(systemLoadLibraryExA), code(&guardedLoadLibraryExA)},
    };
    HookDescriptor batch[std::size(entryPoints)];
    int batchSize = 0;
    for (const EntryPoint& entry : entryPoints) {
        *entry.systemFunction = System::Win32::procAddress<void*>(kernel32, entry.name);
        if (*entry.systemFunction == nullptr) {
            report("GetProcAddress failed", static_cast<int>(::GetLastError()));
            continue;
        }
        batch[batchSize++] = HookDescriptor{entry.systemFunction, entry.replacement, 0};
    }
    if (batchSize > 0) {
        setHooks(batch, batchSize);
        for (int i = 0; i < batchSize; ++i)
            if (batch[i].hooked == 0)
                report("trampoline hook attaching failed", 0);
    }
    return 0;
}
