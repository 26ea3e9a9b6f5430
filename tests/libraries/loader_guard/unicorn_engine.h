#pragma once

// One Unicorn CPU for running planned code natively (the hook planner's tests
// and its fuzz target), closed on every path.
#include "loader_guard/hook_planner.h"

#include <unicorn/unicorn.h>

#include <cstdint>
#include <stdexcept>
#include <vector>

namespace HookTesting {

class UnicornEngine {
public:
    explicit UnicornEngine(Hooking::Machine machine)
    {
        if (uc_open(UC_ARCH_X86, machine == Hooking::Machine::X64 ? UC_MODE_64 : UC_MODE_32, &uc_) != UC_ERR_OK)
            throw std::runtime_error("cannot open a Unicorn engine");
    }
    ~UnicornEngine() { uc_close(uc_); }
    UnicornEngine(const UnicornEngine&) = delete;
    UnicornEngine& operator=(const UnicornEngine&) = delete;

    uc_engine* get() const { return uc_; }

    void map(std::uint64_t base, std::uint64_t size, std::uint32_t protection = UC_PROT_ALL)
    {
        if (uc_mem_map(uc_, base, size, protection) != UC_ERR_OK)
            throw std::runtime_error("cannot map the emulator's memory");
    }

    // Patched code must not run from the emulator's translation cache.
    void write(std::uint64_t address, const std::vector<std::uint8_t>& bytes)
    {
        uc_mem_write(uc_, address, bytes.data(), bytes.size());
        uc_ctl_remove_cache(uc_, address, address + bytes.size());
    }

    Hooking::ReadMemory reader() const
    {
        return [uc = uc_](std::uint64_t address, void* buffer, std::size_t size) {
            return uc_mem_read(uc, address, buffer, size) == UC_ERR_OK;
        };
    }

private:
    uc_engine* uc_ = nullptr;
};

} // namespace HookTesting
