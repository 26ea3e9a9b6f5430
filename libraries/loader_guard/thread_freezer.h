#pragma once

#include "system/win32/unique_resource.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace Hooking {

// Holds every other thread of the process while code is patched, and lets them
// go when it ends. A thread whose instruction pointer stays inside one of the
// ranges about to be rewritten (three tries, 100 ms apart) is held where it
// is, and that range is occupied: it must not be written.
class ThreadFreezer {
public:
    using Range = std::pair<std::uintptr_t, std::uintptr_t>; // [begin, end)

    explicit ThreadFreezer(const std::vector<Range>& patched);
    ~ThreadFreezer();
    ThreadFreezer(const ThreadFreezer&) = delete;
    ThreadFreezer& operator=(const ThreadFreezer&) = delete;

    // False when the process's threads could not be listed: nothing may be patched.
    bool holding() const noexcept { return listed_; }
    // True when a held thread is inside the range (by its index in `patched`).
    bool occupied(std::size_t range) const { return occupied_[range]; }

private:
    bool listed_ = false;
    std::vector<bool> occupied_;
    std::vector<System::Win32::UniqueHandle> suspended_;
};

} // namespace Hooking
