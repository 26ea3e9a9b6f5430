#pragma once

#include <cstdint>

// One request of a batch: the variable holding the function to hook (on
// success the engine writes the trampoline's address into it), the replacement,
// and whether the hook was placed.
struct HookDescriptor {
    void** systemFunction;
    void* hookFunction;
    std::int32_t hooked;
};

// Places a batch of inline hooks while the process's other threads are held.
// Returns how many were placed; failures are per descriptor and silent. Hooks
// stay for the life of the process.
int setHooks(HookDescriptor* descriptors, int count);
