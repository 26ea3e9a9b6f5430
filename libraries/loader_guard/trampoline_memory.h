#pragma once

#include "hook_planner.h"

#include <cstdint>

namespace Hooking {

// One trampoline in executable memory near its target.
struct TrampolineRecord {
    void* systemFunction;
    std::uint32_t overwrittenLength;
    void* hookFunction;
    std::uint8_t jumpToHook[kCodeAreaSize];
    std::uint8_t code[kCodeAreaSize];
    std::uint8_t untouched[kCodeAreaSize];
    TrampolineRecord* previous;
    TrampolineRecord* next;
};

// Records come from blocks of one allocation-granularity unit, reserved below
// their target within reach of a 32-bit displacement; blocks are never released.
// Not thread-safe: the engine serialises its callers.
TrampolineRecord* takeTrampolineNear(std::uintptr_t target);
void returnTrampoline(TrampolineRecord* record);
void keepTrampoline(TrampolineRecord* record);

} // namespace Hooking
