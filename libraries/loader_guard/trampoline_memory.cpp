#include "trampoline_memory.h"

#include <windows.h>

namespace Hooking {

namespace {

TrampolineRecord* freeList = nullptr;
TrampolineRecord* inUse = nullptr;

void push(TrampolineRecord*& list, TrampolineRecord* record)
{
    record->previous = nullptr;
    record->next = list;
    if (list != nullptr)
        list->previous = record;
    list = record;
}

void unlink(TrampolineRecord*& list, TrampolineRecord* record)
{
    if (record->previous != nullptr)
        record->previous->next = record->next;
    else
        list = record->next;
    if (record->next != nullptr)
        record->next->previous = record->previous;
    record->previous = record->next = nullptr;
}

// Relative jumps reach 2 GB. Records lie below the target, down to this
// bound, or, when there is no room below (a target low in the address space),
// above it up to the same distance.
constexpr std::uintptr_t kReach = 0x7FFF0000;

std::uintptr_t lowerBound(std::uintptr_t target)
{
    return target < 0x80000000u ? 1 : target - kReach;
}

std::uintptr_t upperBound(std::uintptr_t target)
{
    const std::uintptr_t highest = static_cast<std::uintptr_t>(-1) - kReach;
    return target > highest ? static_cast<std::uintptr_t>(-1) : target + kReach;
}

bool inRange(const TrampolineRecord* record, std::uintptr_t target)
{
    const auto address = reinterpret_cast<std::uintptr_t>(record);
    const auto end = address + sizeof(TrampolineRecord);
    return (address >= lowerBound(target) && end <= target) || (address > target && end <= upperBound(target));
}

bool allocateBlockBetween(std::uintptr_t from, std::uintptr_t to)
{
    SYSTEM_INFO system;
    ::GetSystemInfo(&system);
    const std::uintptr_t granularity = system.dwAllocationGranularity;
    std::uintptr_t address = (from + granularity - 1) / granularity * granularity;
    while (address < to && to - address >= granularity) {
        MEMORY_BASIC_INFORMATION region;
        if (::VirtualQuery(reinterpret_cast<void*>(address), &region, sizeof(region)) == 0)
            return false;
        if (region.State == MEM_FREE && region.RegionSize >= granularity) {
            void* block = ::VirtualAlloc(reinterpret_cast<void*>(address), granularity, MEM_RESERVE | MEM_COMMIT,
                                         PAGE_EXECUTE_READWRITE);
            if (block != nullptr) {
                auto* records = static_cast<TrampolineRecord*>(block);
                for (std::size_t i = 0; i < granularity / sizeof(TrampolineRecord); ++i)
                    push(freeList, &records[i]);
                return true;
            }
        }
        const std::uintptr_t next = reinterpret_cast<std::uintptr_t>(region.BaseAddress) + region.RegionSize;
        if (next <= address)
            return false;
        address = (next + granularity - 1) / granularity * granularity;
    }
    return false;
}

bool allocateBlockNear(std::uintptr_t target)
{
    return allocateBlockBetween(lowerBound(target), target) || allocateBlockBetween(target + 1, upperBound(target));
}

TrampolineRecord* freeRecordNear(std::uintptr_t target)
{
    for (TrampolineRecord* record = freeList; record != nullptr; record = record->next)
        if (inRange(record, target))
            return record;
    return nullptr;
}

} // namespace

TrampolineRecord* takeTrampolineNear(std::uintptr_t target)
{
    TrampolineRecord* record = freeRecordNear(target);
    if (record == nullptr && allocateBlockNear(target))
        record = freeRecordNear(target);
    if (record != nullptr)
        unlink(freeList, record);
    return record;
}

void returnTrampoline(TrampolineRecord* record)
{
    push(freeList, record);
}

void keepTrampoline(TrampolineRecord* record)
{
    push(inUse, record);
}

} // namespace Hooking
