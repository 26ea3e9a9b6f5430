#include "own_memory.h"

#include <windows.h>

#include <cstring>

namespace Hooking {

namespace {

bool readable(const MEMORY_BASIC_INFORMATION& region)
{
    constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                                PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    return region.State == MEM_COMMIT && (region.Protect & kReadable) != 0 && (region.Protect & PAGE_GUARD) == 0;
}

} // namespace

bool readOwnMemory(std::uint64_t address, void* buffer, std::size_t size)
{
    const auto start = static_cast<std::uintptr_t>(address);
    if (start != address || size > UINTPTR_MAX - start)
        return false;
    const std::uintptr_t end = start + size;
    // The range may span regions of different protection (a function at the
    // end of a section): each must be readable.
    for (std::uintptr_t at = start; at < end;) {
        MEMORY_BASIC_INFORMATION region{};
        if (::VirtualQuery(reinterpret_cast<const void*>(at), &region, sizeof(region)) == 0 || !readable(region))
            return false;
        at = reinterpret_cast<std::uintptr_t>(region.BaseAddress) + region.RegionSize;
    }
    std::memcpy(buffer, reinterpret_cast<const void*>(start), size);
    return true;
}

} // namespace Hooking
