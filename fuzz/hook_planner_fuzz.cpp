// The hook planner against the CPU. Random code for x86 and x86-64 stands at
// a target; whenever planPatch accepts it, the original function and the
// hooked one (patched entry, a hook that jumps straight to the trampoline) run
// in the Unicorn emulator from the same state. Both must pass through the same
// instructions of the code the patch leaves in place, in the same order, and
// end alike: how and where they stop, registers, flags, the stack and the data
// written. A trampoline instruction stands for the original instruction it was
// moved from, the jump back for the instruction it returns to: so execution
// that leaves the moved bytes (the jump back, a moved branch or call) must
// arrive at the very address the original arrives at.
//
// A case the comparison cannot judge is skipped and counted by its reason
// (printed when the process ends): code that reads the replaced bytes or the
// hook's memory as data, reaches the hook's memory on its own, enters the
// replaced bytes past their start by a transfer the planner does not see, sets
// the trap flag, runs too long outside the shared code, or meets one of the
// emulator's own faults (named where they are worked around). A branch into
// the replaced bytes that the planner's own walk covers is a fault, not a skip.
// Code is read-only, so code that writes itself faults alike in both runs.
//
// Input: one byte of options, then the code (at most 200 bytes, the rest of
// the target's memory is int3). Options: bit 0 x86-64; bits 1-2 the placement
// (see placement()); bit 3 on x86-64 the whole layout above 4 GB; bits 4-7 the
// initial CF, ZF, SF and OF.
#include "loader_guard/hook_planner.h"
#include "loader_guard/instruction_flow.h"
#include "loader_guard/unicorn_engine.h"

#include "fuzz_check.h"

#include <Zydis/Zydis.h>
#include <unicorn/unicorn.h>

#include <algorithm>
#include <cinttypes>
#include <csetjmp>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

using Hooking::Machine;
using Hooking::branchDestination;
using Hooking::endsFlow;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kPage = 0x1000;
constexpr std::uint64_t kCodeSize = 0x10000;  // the target's memory, code and int3 padding
constexpr std::uint64_t kStop = 0x00F00000;   // the return address: a return there ends the run
constexpr std::uint64_t kStackTop = 0x00E00000;
constexpr std::uint64_t kStackSize = 0x10000;
constexpr std::uint64_t kData = 0x00200000;
constexpr std::uint64_t kDataSize = 0x10000;
constexpr std::uint64_t kJumpToHookOffset = 0x40; // from the trampoline, within its page
constexpr std::size_t kMaxCode = 200;
constexpr std::size_t kSharedBound = 64;      // shared instructions compared
constexpr unsigned kRawLimit = 4096;          // instructions in all, per run
constexpr std::uint64_t kTrapFlag = 0x100;
constexpr std::size_t kStackPointer = 4; // in the registers compared, after eax/rax, ecx, edx, ebx

struct Placement {
    std::uint64_t target;
    std::uint64_t trampoline;
    std::uint64_t hook;
};

Placement placement(Machine machine, unsigned choice, bool high)
{
    if (machine == Machine::X86) {
        constexpr Placement table[] = {
            {0x10000000, 0x10010000, 0x10020000}, // all near
            {0x10000000, 0x60000000, 0x10020000}, // the trampoline 1.25 GB away
            {0xFFFE0000, 0x00100000, 0x00110000}, // jumps wrap around the top of the address space
            {0x10000000, 0x10010000, 0xF0000000}, // the hook far away
        };
        return table[choice];
    }
    constexpr Placement table[] = {
        {0x10000000, 0x10010000, 0x10020000},
        {0x10000000, 0x60000000, 0x10020000},
        {0x10000000, 0x210000000, 0x10020000}, // the trampoline beyond 2 GB: moved references cannot reach
        {0x10000000, 0x10010000, 0x300000000}, // the hook beyond 2 GB: through the jump-to-hook area
    };
    Placement p = table[choice];
    if (high) {
        // Return addresses pushed by moved calls need their upper half.
        constexpr std::uint64_t base = 0x7FF600000000;
        p = {p.target + base, p.trampoline + base, p.hook + base};
    }
    return p;
}

bool overlaps(std::uint64_t address, std::uint64_t size, std::uint64_t begin, std::uint64_t end)
{
    return address < end && begin < address + size;
}

class Decoder {
public:
    explicit Decoder(Machine machine)
    {
        if (machine == Machine::X64)
            ZydisDecoderInit(&decoder_, ZYDIS_MACHINE_MODE_LONG_64, ZYDIS_STACK_WIDTH_64);
        else
            ZydisDecoderInit(&decoder_, ZYDIS_MACHINE_MODE_LEGACY_32, ZYDIS_STACK_WIDTH_32);
    }
    bool decode(const std::uint8_t* bytes, std::size_t size, ZydisDecodedInstruction& instruction,
                ZydisDecodedOperand* operands) const
    {
        return ZYAN_SUCCESS(ZydisDecoderDecodeFull(&decoder_, bytes, size, &instruction, operands));
    }

private:
    ZydisDecoder decoder_;
};

// The instructions of the function as the planner's header describes its
// walk: one after another from the start to the first return, unconditional
// jump, int3 or ud2 that no branch before it jumps past, or to the end of the
// bytes it was given.
std::set<std::uint64_t> walkedInstructions(Machine machine, const Bytes& code, std::uint64_t target)
{
    const Decoder decoder(machine);
    std::set<std::uint64_t> walked;
    ZydisDecodedInstruction instruction;
    ZydisDecodedOperand operands[ZYDIS_MAX_OPERAND_COUNT];
    std::uint64_t furthest = target;
    for (std::size_t at = 0; at < code.size() && decoder.decode(code.data() + at, code.size() - at, instruction, operands);
         at += instruction.length) {
        const std::uint64_t here = target + at;
        walked.insert(here);
        const bool call = instruction.meta.category == ZYDIS_CATEGORY_CALL;
        if (const auto destination = branchDestination(machine, instruction, operands, here))
            if (!call && *destination > furthest && *destination < target + code.size())
                furthest = *destination;
        if (endsFlow(instruction) && furthest < here + instruction.length)
            break;
    }
    return walked;
}

// The code ends the comparison before these: what follows is the kernel's, a
// device's or the clock's. And before what Unicorn 2.0 does not do as a CPU
// does: an ENTER with a nesting level (it mixes the copied frame pointers up
// with the instruction's address), and loading a segment register (it has no
// descriptor tables; after "pop es" its pushes wrap at 64 KB).
bool endsComparison(const ZydisDecodedInstruction& instruction, const ZydisDecodedOperand* operands)
{
    if (instruction.mnemonic == ZYDIS_MNEMONIC_ENTER)
        return instruction.operand_count_visible == 2 && (operands[1].imm.value.u & 31) != 0;
    for (std::uint8_t i = 0; i < instruction.operand_count; ++i)
        if (operands[i].type == ZYDIS_OPERAND_TYPE_REGISTER &&
            ZydisRegisterGetClass(operands[i].reg.value) == ZYDIS_REGCLASS_SEGMENT &&
            (operands[i].actions & ZYDIS_OPERAND_ACTION_MASK_WRITE) != 0)
            return true;
    switch (instruction.meta.category) {
    case ZYDIS_CATEGORY_INTERRUPT:
    case ZYDIS_CATEGORY_SYSCALL:
    case ZYDIS_CATEGORY_SYSRET:
    case ZYDIS_CATEGORY_SYSTEM:
    case ZYDIS_CATEGORY_IO:
    case ZYDIS_CATEGORY_IOSTRINGOP:
        return true;
    default:
        break;
    }
    switch (instruction.mnemonic) {
    // The saved x87 state holds the address of the last x87 instruction,
    // which is in the trampoline when one was moved.
    case ZYDIS_MNEMONIC_FNSAVE:
    case ZYDIS_MNEMONIC_FNSTENV:
    case ZYDIS_MNEMONIC_FXSAVE:
    case ZYDIS_MNEMONIC_FXSAVE64:
    case ZYDIS_MNEMONIC_XSAVE:
    case ZYDIS_MNEMONIC_XSAVE64:
    case ZYDIS_MNEMONIC_XSAVEC:
    case ZYDIS_MNEMONIC_XSAVEC64:
    case ZYDIS_MNEMONIC_XSAVEOPT:
    case ZYDIS_MNEMONIC_XSAVEOPT64:
    case ZYDIS_MNEMONIC_XSAVES:
    case ZYDIS_MNEMONIC_XSAVES64:
    case ZYDIS_MNEMONIC_HLT:
    case ZYDIS_MNEMONIC_RDTSC:
    case ZYDIS_MNEMONIC_RDTSCP:
    case ZYDIS_MNEMONIC_RDRAND:
    case ZYDIS_MNEMONIC_RDSEED:
    case ZYDIS_MNEMONIC_RDPMC:
    case ZYDIS_MNEMONIC_RDPID:
        return true;
    default:
        return false;
    }
}

// Unicorn 2.0 cannot translate FF /3 and FF /5 with a register operand (an
// invalid far call or jump): it aborts the process. Any byte of the code may
// be executed; the planner adds no such instruction.
bool abortsTheEmulator(const Bytes& code)
{
    for (std::size_t i = 0; i + 1 < code.size(); ++i) {
        const std::uint8_t modrm = code[i + 1];
        const unsigned reg = (modrm >> 3) & 7;
        if (code[i] == 0xFF && (modrm & 0xC0) == 0xC0 && (reg == 3 || reg == 5))
            return true;
    }
    return false;
}

// What an executed address stands for in the original function.
struct Place {
    enum Kind { Shared, Moved, Planned, MidReplaced, Foreign } kind;
    std::uint64_t original = 0;
    bool inMovedCall = false; // a moved call, or the trampoline's push and jump for it
};

// The two runs' memory, what was planned, and what each address means.
struct Layout {
    Machine machine;
    Placement at;
    Bytes image;          // the target's memory: the code, then int3
    Hooking::PatchPlan plan;
    std::uint64_t covered = 0;
    std::set<std::uint64_t> movedCalls;
    std::map<std::uint64_t, Place> planned; // hooked run: the entry path and the trampoline

    std::uint64_t target() const { return at.target; }
    std::uint64_t jumpToHook() const { return at.trampoline + kJumpToHookOffset; }

    Place where(std::uint64_t address, bool hooked) const
    {
        const bool inCode = address >= target() && address - target() < kCodeSize;
        const bool replaced = address >= target() && address - target() < covered;
        if (!hooked) {
            if (replaced)
                return {Place::Moved, address, movedCalls.count(address) > 0};
            return inCode ? Place{Place::Shared, address} : Place{Place::Foreign};
        }
        if (address == target())
            return {Place::Planned, target()};
        if (replaced)
            return {Place::MidReplaced, address};
        if (inCode)
            return {Place::Shared, address};
        const auto found = planned.find(address);
        return found != planned.end() ? found->second : Place{Place::Foreign};
    }
};

// The entry path and each trampoline instruction, by decoding the trampoline
// along the moved instructions: one for each, a call's push (and upper half)
// and jump, then the jump back unless a call came last.
void mapPlannedCode(Layout& layout)
{
    const Decoder decoder(layout.machine);
    ZydisDecodedInstruction instruction;
    ZydisDecodedOperand operands[ZYDIS_MAX_OPERAND_COUNT];
    const Bytes& code = layout.image;
    const Bytes& trampoline = layout.plan.trampoline;
    std::size_t moved = 0;
    std::size_t at = 0;
    const auto next = [&]() {
        Fuzz::require(at < trampoline.size() &&
                          decoder.decode(trampoline.data() + at, trampoline.size() - at, instruction, operands),
                      "the trampoline decodes as the moved instructions and a jump back");
        const std::uint64_t address = layout.at.trampoline + at;
        at += instruction.length;
        return address;
    };
    while (moved < layout.covered) {
        ZydisDecodedInstruction original;
        Fuzz::require(decoder.decode(code.data() + moved, code.size() - moved, original, operands),
                      "the replaced bytes decode");
        const std::uint64_t from = layout.target() + moved;
        moved += original.length;
        if (original.meta.category != ZYDIS_CATEGORY_CALL) {
            layout.planned[next()] = {Place::Moved, from};
            continue;
        }
        layout.movedCalls.insert(from);
        layout.planned[next()] = {Place::Moved, from, true};
        do
            layout.planned[next()] = {Place::Planned, from, true};
        while (instruction.meta.category != ZYDIS_CATEGORY_UNCOND_BR);
        Fuzz::require(moved == layout.covered, "a moved call comes last");
        break;
    }
    Fuzz::require(moved == layout.covered, "the replaced bytes are whole instructions");
    if (layout.movedCalls.empty())
        layout.planned[next()] = {Place::Planned, layout.target() + layout.covered};
    layout.planned[layout.at.hook] = {Place::Planned, layout.target()};
    if (!layout.plan.jumpToHook.empty())
        layout.planned[layout.jumpToHook()] = {Place::Planned, layout.target()};
}

// The hook: straight to the trampoline.
Bytes hookCode(const Layout& layout)
{
    const std::uint64_t from = layout.at.hook;
    const std::uint64_t to = layout.at.trampoline;
    const auto relative = static_cast<std::int64_t>(to - (from + 5));
    Bytes bytes;
    if (layout.machine == Machine::X86 || (relative >= INT32_MIN && relative <= INT32_MAX)) {
        bytes.push_back(0xE9);
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(relative) >> (8 * i)));
        return bytes;
    }
    bytes = {0xFF, 0x25, 0, 0, 0, 0};
    for (int i = 0; i < 8; ++i)
        bytes.push_back(static_cast<std::uint8_t>(to >> (8 * i)));
    return bytes;
}

struct Outcome {
    enum class End { None, Bound, Returned, Fetch, Memory, Exception, Special, Error, MidReplaced, Foreign,
                     TrapFlag, TooLong };
    End end = End::None;
    std::uint64_t at = 0;     // the original address it ended at (the address fetched for Fetch)
    std::uint64_t from = 0;   // MidReplaced: the original address of the instruction that went there
    int faultType = 0;        // Memory and Fetch
    std::uint64_t faultAddress = 0;
    std::uint32_t interrupt = 0;
    uc_err error = UC_ERR_OK;
    bool inMovedCall = false;
    bool decodedOtherwise = false; // the emulator took a moved instruction for one of another length
    const char* skip = nullptr;    // why the run cannot be compared
    std::vector<std::uint64_t> trace;
    std::vector<std::uint64_t> registers;
    Bytes vectors;
    Bytes stack;
    Bytes data;
};

const char* endName(Outcome::End end)
{
    constexpr const char* names[] = {"none", "bound", "returned", "fetch fault", "memory fault", "exception",
                                     "end of comparison", "emulator error", "mid-replaced", "foreign", "trap flag",
                                     "too long"};
    return names[static_cast<int>(end)];
}

// One emulator per machine and placement, kept for the whole process: a new
// Unicorn engine costs some 20 ms under AddressSanitizer, putting one back in
// its first state far less. Each run restores the CPU state saved when the
// engine was new and all of its memory, and drops the translated code.
class Emulator {
public:
    Emulator(Machine machine, const Placement& at) : machine_(machine), cpu_(machine), decoder_(machine)
    {
        uc_engine* uc = cpu_.get();
        // Code is not writable, as on Windows: code that writes itself faults alike in both runs.
        cpu_.map(at.target, kCodeSize, UC_PROT_READ | UC_PROT_EXEC);
        cpu_.map(at.trampoline, kPage, UC_PROT_READ | UC_PROT_EXEC);
        cpu_.map(at.hook, kPage, UC_PROT_READ | UC_PROT_EXEC);
        cpu_.map(kStackTop - kStackSize, kStackSize, UC_PROT_READ | UC_PROT_WRITE);
        cpu_.map(kData, kDataSize, UC_PROT_READ | UC_PROT_WRITE);
        uc_hook hook = 0;
        uc_hook_add(uc, &hook, UC_HOOK_CODE, reinterpret_cast<void*>(&Emulator::onCode), this, 1, 0);
        uc_hook_add(uc, &hook, UC_HOOK_MEM_INVALID, reinterpret_cast<void*>(&Emulator::onInvalid), this, 1, 0);
        uc_hook_add(uc, &hook, UC_HOOK_INTR, reinterpret_cast<void*>(&Emulator::onInterrupt), this, 1, 0);
        uc_context* fresh = nullptr;
        Fuzz::require(uc_context_alloc(uc, &fresh) == UC_ERR_OK, "a CPU state can be saved");
        fresh_.reset(fresh);
        uc_context_save(uc, fresh);
    }

    // Data accesses are watched only in the runs that explain a difference:
    // the hook on every access makes Unicorn 2.0 translate some instructions
    // differently (ENTER with a nesting level stores the instruction's address).
    Outcome run(const Layout& layout, bool hooked, bool watchData, std::uint8_t flags)
    {
        layout_ = &layout;
        hooked_ = hooked;
        executed_ = 0;
        current_ = 0;
        currentPlanned_ = false;
        flagsBefore_ = 0;
        wrapped_.reset();
        outcome_ = Outcome();

        uc_engine* uc = cpu_.get();
        uc_context_restore(uc, fresh_.get());
        const Placement& at = layout.at;
        static const Bytes int3(kPage, 0xCC);
        static const Bytes zeros(kStackSize, 0);
        static const Bytes data = [] {
            Bytes pattern(kDataSize);
            for (std::size_t i = 0; i < pattern.size(); ++i)
                pattern[i] = static_cast<std::uint8_t>(i * 37 + (i >> 8));
            return pattern;
        }();
        uc_mem_write(uc, at.target, layout.image.data(), layout.image.size());
        uc_mem_write(uc, at.trampoline, int3.data(), int3.size());
        uc_mem_write(uc, at.hook, int3.data(), int3.size());
        uc_mem_write(uc, kStackTop - kStackSize, zeros.data(), zeros.size());
        uc_mem_write(uc, kData, data.data(), data.size());
        const std::uint64_t sp = kStackTop - 0x1000;
        uc_mem_write(uc, sp, &kStop, wide() ? 8 : 4);
        if (hooked) {
            const auto write = [&](std::uint64_t address, const Bytes& bytes) {
                uc_mem_write(uc, address, bytes.data(), bytes.size());
            };
            write(at.target, layout.plan.targetPatch);
            write(at.trampoline, layout.plan.trampoline);
            if (!layout.plan.jumpToHook.empty())
                write(layout.jumpToHook(), layout.plan.jumpToHook);
            write(at.hook, hookCode(layout));
        }
        // Dropping all translations at once costs tens of milliseconds and
        // lets the emulator's memory grow: only the three code areas are dropped.
        uc_ctl_remove_cache(uc, at.target, at.target + kCodeSize);
        uc_ctl_remove_cache(uc, at.trampoline, at.trampoline + kPage);
        uc_ctl_remove_cache(uc, at.hook, at.hook + kPage);

        const std::uint64_t values[] = {0x1234,          kData + 0x1000, kData + 0x2000, kData + 0x3000, sp,
                                        sp + 0x80,       kData + 0x4000, kData + 0x5000, kData + 0x6000, kData + 0x7000,
                                        kData + 0x8000,  kData + 0x9000, 0,              1,              0xFFFFFFFF,
                                        0x8000000000000000};
        for (std::size_t i = 0; i < registerIds().size(); ++i)
            uc_reg_write(uc, registerIds()[i], &values[i]);
        std::uint64_t eflags = 0x202;
        for (const auto& [bit, flag] : {std::pair{0, 0x1}, {1, 0x40}, {2, 0x80}, {3, 0x800}})
            if (flags & (1 << bit))
                eflags |= flag;
        uc_reg_write(uc, UC_X86_REG_EFLAGS, &eflags);

        uc_hook access = 0;
        if (watchData)
            uc_hook_add(uc, &access, UC_HOOK_MEM_READ | UC_HOOK_MEM_WRITE, reinterpret_cast<void*>(&Emulator::onAccess),
                        this, 1, 0);
        uc_err error = UC_ERR_OK;
        if (!emulate(at.target, error)) {
            aborted_ = true;
            outcome_.skip = "the emulator aborts on it (Unicorn 2.0 cannot translate some invalid encodings)";
            return outcome_;
        }
        if (watchData)
            uc_hook_del(uc, access);
        if (outcome_.end == Outcome::End::None) {
            if (error != UC_ERR_OK) {
                outcome_.end = Outcome::End::Error;
                outcome_.error = error;
                outcome_.at = current_;
            } else {
                outcome_.end = Outcome::End::Returned;
                outcome_.at = pc();
            }
        }

        for (const int id : registerIds()) {
            std::uint64_t value = 0;
            uc_reg_read(uc, id, &value);
            outcome_.registers.push_back(value);
        }
        // A faulting instruction leaves the flags as they were before it.
        // Unicorn 2.0's flags after a fault depend on where its translation
        // blocks begin (seen for an add before a faulting sete).
        std::uint64_t finalFlags = flagsBefore_;
        const Outcome::End end = outcome_.end;
        if (end != Outcome::End::Memory && end != Outcome::End::Exception && end != Outcome::End::Error)
            uc_reg_read(uc, UC_X86_REG_EFLAGS, &finalFlags);
        outcome_.registers.push_back(finalFlags);
        for (int i = 0; i < (wide() ? 16 : 8); ++i) {
            std::uint8_t value[16] = {};
            uc_reg_read(uc, UC_X86_REG_XMM0 + i, value);
            outcome_.vectors.insert(outcome_.vectors.end(), value, value + 16);
        }
        outcome_.stack.resize(kStackSize);
        uc_mem_read(uc, kStackTop - kStackSize, outcome_.stack.data(), kStackSize);
        outcome_.data.resize(kDataSize);
        uc_mem_read(uc, kData, outcome_.data.data(), kDataSize);
        return outcome_;
    }

    // An engine that aborted is not used again (closing it is fine).
    bool usable() const { return !aborted_; }

private:
    struct FreeContext {
        void operator()(uc_context* context) const { uc_context_free(context); }
    };

    bool wide() const { return machine_ == Machine::X64; }

    static void onAbort(int)
    {
        if (abortLanding_ != nullptr)
            siglongjmp(*abortLanding_, 1);
    }

    // Runs from `begin`, resuming where the emulator did not wrap a jump.
    // False when the emulator aborted: Unicorn 2.0 calls abort() on some
    // invalid encodings ("lock stc"), which must end this run, not the process.
    bool emulate(std::uint64_t begin, uc_err& error)
    {
        struct sigaction catchAbort = {};
        struct sigaction previous = {};
        catchAbort.sa_handler = &Emulator::onAbort;
        sigemptyset(&catchAbort.sa_mask);
        sigaction(SIGABRT, &catchAbort, &previous);
        sigjmp_buf landing;
        volatile bool finished = false;
        if (sigsetjmp(landing, 1) == 0) {
            abortLanding_ = &landing;
            error = uc_emu_start(cpu_.get(), begin, kStop, 0, 0);
            while (wrapped_) {
                const std::uint64_t resume = *wrapped_;
                wrapped_.reset();
                error = uc_emu_start(cpu_.get(), resume, kStop, 0, 0);
            }
            finished = true;
        }
        abortLanding_ = nullptr;
        sigaction(SIGABRT, &previous, nullptr);
        return finished;
    }

    const std::vector<int>& registerIds() const
    {
        static const std::vector<int> x86 = {UC_X86_REG_EAX, UC_X86_REG_ECX, UC_X86_REG_EDX, UC_X86_REG_EBX,
                                             UC_X86_REG_ESP, UC_X86_REG_EBP, UC_X86_REG_ESI, UC_X86_REG_EDI};
        static const std::vector<int> x64 = {UC_X86_REG_RAX, UC_X86_REG_RCX, UC_X86_REG_RDX, UC_X86_REG_RBX,
                                             UC_X86_REG_RSP, UC_X86_REG_RBP, UC_X86_REG_RSI, UC_X86_REG_RDI,
                                             UC_X86_REG_R8,  UC_X86_REG_R9,  UC_X86_REG_R10, UC_X86_REG_R11,
                                             UC_X86_REG_R12, UC_X86_REG_R13, UC_X86_REG_R14, UC_X86_REG_R15};
        return wide() ? x64 : x86;
    }

    std::uint64_t pc() const
    {
        std::uint64_t value = 0;
        uc_reg_read(cpu_.get(), wide() ? UC_X86_REG_RIP : UC_X86_REG_EIP, &value);
        return value;
    }

    void end(Outcome::End how, std::uint64_t at)
    {
        outcome_.end = how;
        outcome_.at = at;
        uc_emu_stop(cpu_.get());
    }

    void skip(const char* reason)
    {
        if (outcome_.skip == nullptr)
            outcome_.skip = reason;
        uc_emu_stop(cpu_.get());
    }

    static void onCode(uc_engine* uc, std::uint64_t address, std::uint32_t size, void* user)
    {
        Emulator& run = *static_cast<Emulator*>(user);
        Outcome& outcome = run.outcome_;
        if (outcome.end != Outcome::End::None || outcome.skip != nullptr)
            return;
        if (++run.executed_ > kRawLimit)
            return run.end(Outcome::End::TooLong, 0);
        const Place place = run.layout_->where(address, run.hooked_);
        switch (place.kind) {
        case Place::MidReplaced:
            outcome.from = run.current_;
            return run.end(Outcome::End::MidReplaced, address);
        case Place::Foreign:
            return run.end(Outcome::End::Foreign, address);
        case Place::Shared:
            if (outcome.trace.size() == kSharedBound)
                return run.end(Outcome::End::Bound, address);
            outcome.trace.push_back(address);
            break;
        default:
            break;
        }
        run.current_ = place.original;
        run.currentPlanned_ = place.kind == Place::Planned;
        outcome.inMovedCall = place.inMovedCall;
        std::uint64_t eflags = 0;
        uc_reg_read(uc, UC_X86_REG_EFLAGS, &eflags);
        run.flagsBefore_ = eflags;
        if (eflags & kTrapFlag)
            return run.end(Outcome::End::TrapFlag, place.original);
        if (place.kind == Place::Planned)
            return;
        // An instruction the emulator cannot decode reports a meaningless size.
        std::uint8_t bytes[ZYDIS_MAX_INSTRUCTION_LENGTH] = {};
        std::size_t length = sizeof(bytes);
        if (uc_mem_read(uc, address, bytes, length) != UC_ERR_OK) {
            length = std::min<std::size_t>(size, sizeof(bytes));
            if (uc_mem_read(uc, address, bytes, length) != UC_ERR_OK)
                return;
        }
        // What the planner's decoder does not know the CPU refuses; the
        // emulator may run it as something else (VEX-encoded rdtsc).
        ZydisDecodedInstruction instruction;
        ZydisDecodedOperand operands[ZYDIS_MAX_OPERAND_COUNT];
        if (!run.decoder_.decode(bytes, length, instruction, operands))
            return run.end(Outcome::End::Special, place.original);
        if (place.kind == Place::Moved && size <= sizeof(bytes) && size != instruction.length)
            outcome.decodedOtherwise = true;
        if (endsComparison(instruction, operands))
            run.end(Outcome::End::Special, place.original);
    }

    static void onAccess(uc_engine*, uc_mem_type type, std::uint64_t address, int size, std::int64_t, void* user)
    {
        Emulator& run = *static_cast<Emulator*>(user);
        const Layout& layout = *run.layout_;
        const auto length = static_cast<std::uint64_t>(size);
        const std::uint64_t target = layout.target();
        if (type == UC_MEM_READ && overlaps(address, length, target, target + layout.covered))
            return run.skip("reads the replaced bytes as data");
        const bool hookMemory = overlaps(address, length, layout.at.trampoline, layout.at.trampoline + kPage) ||
                                overlaps(address, length, layout.at.hook, layout.at.hook + kPage);
        // The planned jumps read their own address slots.
        if (type == UC_MEM_READ && hookMemory && !run.currentPlanned_)
            run.skip("reads the hook's memory as data");
    }

    static bool onInvalid(uc_engine*, uc_mem_type type, std::uint64_t address, int, std::int64_t, void* user)
    {
        Emulator& run = *static_cast<Emulator*>(user);
        Outcome& outcome = run.outcome_;
        if (outcome.end != Outcome::End::None)
            return false;
        const bool fetch = type == UC_MEM_FETCH_UNMAPPED || type == UC_MEM_FETCH_PROT;
        // Unicorn 2.0 does not wrap a 32-bit conditional jump's destination
        // around 4 GB (a jump or call it does): resume where the CPU goes.
        if (fetch && !run.wide() && address > 0xFFFFFFFF) {
            run.wrapped_ = address & 0xFFFFFFFF;
            return false;
        }
        outcome.faultType = type;
        outcome.faultAddress = address;
        outcome.end = fetch ? Outcome::End::Fetch : Outcome::End::Memory;
        outcome.at = fetch ? address : run.current_;
        return false;
    }

    static void onInterrupt(uc_engine*, std::uint32_t number, void* user)
    {
        Emulator& run = *static_cast<Emulator*>(user);
        if (run.outcome_.end != Outcome::End::None)
            return;
        run.outcome_.interrupt = number;
        run.end(Outcome::End::Exception, run.current_);
    }

    Machine machine_;
    HookTesting::UnicornEngine cpu_;
    std::unique_ptr<uc_context, FreeContext> fresh_;
    Decoder decoder_;
    const Layout* layout_ = nullptr;
    bool hooked_ = false;
    unsigned executed_ = 0;
    std::uint64_t current_ = 0; // the original address of the instruction being executed
    bool currentPlanned_ = false;
    std::uint64_t flagsBefore_ = 0; // at the start of the instruction being executed
    std::optional<std::uint64_t> wrapped_; // where to resume a jump the emulator did not wrap
    Outcome outcome_;
    bool aborted_ = false;
    static inline sigjmp_buf* abortLanding_ = nullptr;
};

// The emulators, one per machine and placement. Code dropped from an
// engine's translation cache keeps its memory, so an engine is renewed after
// a few thousand runs.
Outcome run(const Layout& layout, bool hooked, bool watchData, std::uint8_t flags)
{
    constexpr unsigned kRunsPerEngine = 4000;
    struct Kept {
        std::unique_ptr<Emulator> emulator;
        unsigned runs = 0;
    };
    using Key = std::tuple<int, std::uint64_t, std::uint64_t, std::uint64_t>;
    static std::map<Key, Kept> emulators;
    Kept& kept = emulators[Key{static_cast<int>(layout.machine), layout.at.target, layout.at.trampoline, layout.at.hook}];
    if (!kept.emulator || !kept.emulator->usable() || ++kept.runs > kRunsPerEngine) {
        kept.emulator.reset();
        kept.emulator = std::make_unique<Emulator>(layout.machine, layout.at);
        kept.runs = 0;
    }
    return kept.emulator->run(layout, hooked, watchData, flags);
}

// What one process saw, said when it ends.
struct Tally {
    unsigned long inputs = 0;
    unsigned long planned = 0;
    unsigned long alike = 0;
    std::map<std::string, unsigned long> skipped;

    ~Tally()
    {
        std::fprintf(stderr, "hook planner: %lu inputs, %lu planned, %lu ran alike", inputs, planned, alike);
        for (const auto& [reason, count] : skipped)
            std::fprintf(stderr, "; skipped %lu: %s", count, reason.c_str());
        std::fprintf(stderr, "\n");
    }
};

Tally tally;

void skipCase(const char* reason)
{
    ++tally.skipped[reason];
}

[[noreturn]] void disagree(const Layout& layout, const Outcome& original, const Outcome& hooked, const char* what)
{
    std::fprintf(stderr, "%s: target %#" PRIx64 ", trampoline %#" PRIx64 ", hook %#" PRIx64 ", %" PRIu64
                         " bytes replaced\n",
                 layout.machine == Machine::X64 ? "x86-64" : "x86", layout.at.target, layout.at.trampoline,
                 layout.at.hook, layout.covered);
    for (const auto& [name, outcome] : {std::pair{"original", &original}, {"hooked", &hooked}})
        std::fprintf(stderr, "%s: %s at %#" PRIx64 " (fault %d at %#" PRIx64 ", interrupt %u, error %d), %zu shared\n",
                     name, endName(outcome->end), outcome->at, outcome->faultType, outcome->faultAddress,
                     outcome->interrupt, static_cast<int>(outcome->error), outcome->trace.size());
    for (std::size_t i = 0; i < original.registers.size(); ++i)
        if (original.registers[i] != hooked.registers[i])
            std::fprintf(stderr, "register %zu: %#" PRIx64 " / %#" PRIx64 "\n", i, original.registers[i],
                         hooked.registers[i]);
    for (const auto& [name, base, left, right] :
         {std::tuple{"stack", kStackTop - kStackSize, &original.stack, &hooked.stack},
          {"data", kData, &original.data, &hooked.data}})
        for (std::size_t i = 0; i < left->size(); ++i)
            if ((*left)[i] != (*right)[i]) {
                const std::size_t from = i & ~std::size_t{7};
                std::uint64_t was = 0, is = 0;
                std::memcpy(&was, left->data() + from, std::min<std::size_t>(8, left->size() - from));
                std::memcpy(&is, right->data() + from, std::min<std::size_t>(8, right->size() - from));
                std::fprintf(stderr, "%s at %#" PRIx64 ": %#" PRIx64 " / %#" PRIx64 "\n", name, base + from, was, is);
                break;
            }
    Fuzz::fail(what);
}

// Why the two runs say nothing about the plan, found by running them again
// with their data accesses watched; none when they did nothing of the kind.
const char* dataAccessReason(const Layout& layout, std::uint8_t flags)
{
    for (const bool hooked : {false, true})
        if (const char* reason = run(layout, hooked, true, flags).skip)
            return reason;
    return nullptr;
}

void compare(const Layout& layout, std::uint8_t flags, const Outcome& original, const Outcome& hooked)
{
    using End = Outcome::End;
    if (hooked.skip != nullptr)
        return skipCase(hooked.skip);
    if (original.end == End::Foreign)
        return skipCase("reaches the hook's memory on its own");
    if (original.end == End::TooLong || hooked.end == End::TooLong)
        return skipCase("runs too long outside the shared code");
    if (original.end == End::TrapFlag || hooked.end == End::TrapFlag)
        return skipCase("sets the trap flag: single steps fall on other instructions");
    if (original.decodedOtherwise || hooked.decodedOtherwise)
        return skipCase("the emulator decodes a moved instruction otherwise than the planner (AMD's XOP)");
    if (hooked.end == End::MidReplaced) {
        // The planner refuses a relative branch into the replaced bytes from
        // anywhere its walk covers; it cannot know computed ones.
        const Decoder decoder(layout.machine);
        ZydisDecodedInstruction instruction;
        ZydisDecodedOperand operands[ZYDIS_MAX_OPERAND_COUNT];
        const std::uint64_t offset = hooked.from - layout.target();
        const std::set<std::uint64_t> walked =
            walkedInstructions(layout.machine, Bytes(layout.image.begin(), layout.image.begin() + Hooking::kCodeWindow),
                               layout.target());
        if (offset < layout.image.size() && walked.count(hooked.from) > 0 &&
            decoder.decode(layout.image.data() + offset, layout.image.size() - offset, instruction, operands) &&
            branchDestination(layout.machine, instruction, operands, hooked.from) == hooked.at)
            disagree(layout, original, hooked, "a branch the planner walks over enters the replaced bytes");
        return skipCase("enters the replaced bytes past their start by a transfer outside the planner's walk");
    }
    if (hooked.end == End::Foreign) {
        // As through a slot that the original reads as int3 padding.
        if (const char* reason = dataAccessReason(layout, flags))
            return skipCase(reason);
        disagree(layout, original, hooked, "the hooked code runs where no planned instruction starts");
    }

    const bool sameEnd = original.end == hooked.end && original.at == hooked.at &&
                         original.faultType == hooked.faultType && original.faultAddress == hooked.faultAddress &&
                         original.interrupt == hooked.interrupt && original.error == hooked.error;
    const bool alike = sameEnd && original.trace == hooked.trace && original.registers == hooked.registers &&
                       original.vectors == hooked.vectors && original.stack == hooked.stack &&
                       original.data == hooked.data;
    if (alike) {
        ++tally.alike;
        return;
    }
    if (const char* reason = dataAccessReason(layout, flags))
        return skipCase(reason);
    // The trampoline pushes a moved call's return address before the jump
    // that reads the callee's address, where the call reads first: a fault
    // inside the call finds the push done, or the push itself faults first.
    const auto faults = [](End end) { return end == End::Memory || end == End::Exception || end == End::Error; };
    const std::uint64_t width = layout.machine == Machine::X64 ? 8 : 4;
    const std::uint64_t pushedAt = (original.registers[kStackPointer] - width) &
                                   (layout.machine == Machine::X64 ? ~std::uint64_t{0} : 0xFFFFFFFF);
    const bool pushFaulted = (hooked.faultType == UC_MEM_WRITE_UNMAPPED || hooked.faultType == UC_MEM_WRITE_PROT) &&
                             hooked.faultAddress == pushedAt;
    const bool sameFault = original.faultType == hooked.faultType && original.faultAddress == hooked.faultAddress &&
                           original.interrupt == hooked.interrupt && original.error == hooked.error;
    // Apart from the pushed return address and the stack pointer, all alike.
    Outcome pushUndone = hooked;
    pushUndone.registers[kStackPointer] = original.registers[kStackPointer];
    for (const auto& [base, from, to] : {std::tuple{kStackTop - kStackSize, &original.stack, &pushUndone.stack},
                                         {kData, &original.data, &pushUndone.data}})
        for (std::uint64_t at = pushedAt; at < pushedAt + width; ++at)
            if (at >= base && at - base < to->size())
                (*to)[at - base] = (*from)[at - base];
    if (original.inMovedCall && hooked.inMovedCall && faults(original.end) && faults(hooked.end) &&
        original.at == hooked.at && (sameFault || pushFaulted) && original.trace == hooked.trace &&
        pushUndone.registers == original.registers && original.vectors == hooked.vectors &&
        pushUndone.stack == original.stack && pushUndone.data == original.data)
        return skipCase("faults inside a moved call, which the trampoline does as a push and a jump");
    if (!sameEnd)
        disagree(layout, original, hooked, "the original and the hooked function end alike");
    if (original.trace != hooked.trace)
        disagree(layout, original, hooked, "the original and the hooked function pass the same shared instructions");
    if (original.registers != hooked.registers || original.vectors != hooked.vectors)
        disagree(layout, original, hooked, "the original and the hooked function leave the same registers and flags");
    disagree(layout, original, hooked, "the original and the hooked function write the same stack and data");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    ++tally.inputs;
    const std::uint8_t options = data[0];
    const Machine machine = (options & 1) != 0 ? Machine::X64 : Machine::X86;
    Layout layout;
    layout.machine = machine;
    layout.at = placement(machine, (options >> 1) & 3, machine == Machine::X64 && (options & 8) != 0);
    layout.image.assign(kCodeSize, 0xCC);
    std::copy(data + 1, data + 1 + std::min(size - 1, kMaxCode), layout.image.begin());

    const std::uint64_t target = layout.target();
    const Hooking::ReadMemory read = [&](std::uint64_t address, void* buffer, std::size_t length) {
        if (address < target || address - target > kCodeSize || length > kCodeSize - (address - target))
            return false;
        std::memcpy(buffer, layout.image.data() + (address - target), length);
        return true;
    };
    Hooking::resolveJumps(machine, target, read);
    const Bytes code = Hooking::readCode(read, target);
    Fuzz::require(code.size() == Hooking::kCodeWindow, "readCode reads the whole window of readable code");

    Hooking::Refusal refusal;
    const std::optional<Hooking::PatchPlan> plan = Hooking::planPatch(
        machine, code, target, layout.at.trampoline, layout.jumpToHook(), layout.at.hook, &refusal);
    if (!plan) {
        Fuzz::require(!refusal.reason.empty(), "a refusal has a reason");
        return 0;
    }
    ++tally.planned;
    Fuzz::require(plan->targetPatch.size() == Hooking::kPatchSize, "the target's patch is 5 bytes");
    Fuzz::require(plan->overwrittenLength >= Hooking::kPatchSize && plan->overwrittenLength <= code.size(),
                  "the replaced bytes hold the patch and lie in the code");
    Fuzz::require(plan->trampoline.size() <= Hooking::kCodeAreaSize && plan->jumpToHook.size() <= Hooking::kCodeAreaSize,
                  "the planned code fits its areas");
    layout.plan = *plan;
    layout.covered = plan->overwrittenLength;
    mapPlannedCode(layout);
    if (abortsTheEmulator(code)) {
        skipCase("holds a far call or jump through a register, which Unicorn 2.0 aborts on");
        return 0;
    }

    const std::uint8_t flags = options >> 4;
    const Outcome original = run(layout, false, false, flags);
    if (original.skip != nullptr) {
        skipCase(original.skip);
        return 0;
    }
    compare(layout, flags, original, run(layout, true, false, flags));
    return 0;
}
