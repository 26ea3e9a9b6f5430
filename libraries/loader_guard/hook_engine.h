#pragma once

#include <cstdint>

// What became of one descriptor of a batch.
enum class HookOutcome : std::int32_t {
    NotTried,             // not (yet) handed to the engine
    Placed,
    InvalidDescriptor,    // no variable, no function or no replacement
    SameTargetInBatch,    // an earlier descriptor resolved to the same function
    Unreadable,           // the function's code cannot be read
    NoTrampolineMemory,   // no executable memory within reach of the function
    Refused,              // the planner does not move this code
    ThreadsNotListed,     // the process's threads could not be listed: nothing is patched
    ThreadInPatchedBytes, // another thread stayed inside the bytes to be replaced
    NotWritable,          // the function's code could not be made writable
};

// One request of a batch: the variable holding the function to hook (on
// success the engine writes the trampoline's address into it), the replacement,
// and whether the hook was placed, with why not.
struct HookDescriptor {
    void** systemFunction;
    void* hookFunction;
    std::int32_t hooked;
    HookOutcome outcome = HookOutcome::NotTried;
};

// Places a batch of inline hooks while the process's other threads are held.
// Returns how many were placed; failures are per descriptor and silent, each
// with its outcome. Hooks stay for the life of the process.
int setHooks(HookDescriptor* descriptors, int count);
