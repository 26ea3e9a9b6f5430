#pragma once

#include <cstddef>
#include <cstdint>

namespace Hooking {

// Copies `size` bytes of this process's memory at `address` into `buffer`;
// false, with nothing copied, unless every byte lies in committed memory that
// may be read. Code about to be hooked is read this way rather than through
// ReadProcessMemory, which costs a round trip to the system (under Wine, to its
// server) for every read, and a batch reads each target several times.
bool readOwnMemory(std::uint64_t address, void* buffer, std::size_t size);

} // namespace Hooking
