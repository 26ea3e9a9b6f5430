#include "process_resources.h"

#include <windows.h>
#include <psapi.h>
#include <winternl.h>

#include <vector>

namespace LauncherSim {

namespace {

// NtQuerySystemInformation's table of every open handle, as the system lays it out.
constexpr auto kSystemExtendedHandleInformation = static_cast<SYSTEM_INFORMATION_CLASS>(64);
constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004);

struct HandleEntry {
    void* object;
    ULONG_PTR processId;
    ULONG_PTR handle;
    ULONG access;
    USHORT creatorBackTraceIndex;
    USHORT objectType;
    ULONG attributes;
    ULONG reserved;
};

struct HandleTable {
    ULONG_PTR count;
    ULONG_PTR reserved;
    HandleEntry entries[1];
};

// This process's entries in the system's handle table; none when it cannot be read.
std::optional<unsigned long> handlesInSystemTable()
{
    constexpr std::size_t kLargest = 64u << 20;
    std::vector<unsigned char> buffer(64u << 10);
    for (;;) {
        ULONG needed = 0;
        const NTSTATUS status = ::NtQuerySystemInformation(kSystemExtendedHandleInformation, buffer.data(),
                                                           static_cast<ULONG>(buffer.size()), &needed);
        if (status == kInfoLengthMismatch && buffer.size() < kLargest) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (status < 0)
            return std::nullopt;
        const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
        unsigned long own = 0;
        for (ULONG_PTR i = 0; i < table->count; ++i)
            own += table->entries[i].processId == ::GetCurrentProcessId();
        return own;
    }
}

} // namespace

std::optional<ProcessResources> ownResources()
{
    ProcessResources resources;
    DWORD handles = 0;
    if (!::GetProcessHandleCount(::GetCurrentProcess(), &handles))
        return std::nullopt;
    // Wine 8.0 answers 0 (a stub); no process runs without handles, so then we count them.
    if (handles == 0) {
        const std::optional<unsigned long> counted = handlesInSystemTable();
        if (!counted)
            return std::nullopt;
        handles = *counted;
    }
    resources.handles = handles;
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof(memory);
    if (!::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                                sizeof(memory)))
        return std::nullopt;
    // Both are the process's commit charge; Wine 8.0 leaves PrivateUsage 0.
    resources.privateBytes = memory.PrivateUsage != 0 ? memory.PrivateUsage : memory.PagefileUsage;
    return resources;
}

std::wstring resourcesLine(const ProcessResources& resources)
{
    return L"resources: handles " + std::to_wstring(resources.handles) + L", private bytes " +
           std::to_wstring(resources.privateBytes);
}

} // namespace LauncherSim
