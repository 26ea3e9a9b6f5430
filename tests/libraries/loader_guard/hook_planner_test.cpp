// The hook planner over hand-assembled prologues, and the planned code run in
// the Unicorn CPU emulator: the patched target lands in the hook, the
// trampoline behaves like the original function.
#include "loader_guard/hook_planner.h"
#include "unicorn_engine.h"

#include <unicorn/unicorn.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>

namespace {

using Hooking::Machine;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kStop = 0x00F00000;       // a return here ends the run
constexpr std::uint64_t kStackTop = 0x00E00000;
constexpr std::uint64_t kTarget = 0x10000000;
constexpr std::uint64_t kHelper = 0x10000800;      // a function the target calls
constexpr std::uint64_t kGetPcThunk = 0x10000900;  // mov ebx, [esp]; ret
constexpr std::uint64_t kSlot = 0x10000A00;        // holds kHelper
constexpr std::uint64_t kHook = 0x10002000;
constexpr std::uint64_t kNearTrampoline = 0x10001000;
constexpr std::uint64_t kFarTrampoline = 0x60000000; // 1.25 GB away: still within reach
constexpr std::uint64_t kRegionSize = 0x10000;

Bytes withPadding(Bytes code)
{
    code.resize(64, 0xCC);
    return code;
}

const Bytes kReturnsTwo = {0xB8, 0x02, 0x00, 0x00, 0x00, 0xC3};  // mov eax, 2; ret
const Bytes kReturnsSeven = {0xB8, 0x07, 0x00, 0x00, 0x00, 0xC3};

class Emulator {
public:
    explicit Emulator(Machine machine) : machine_(machine), cpu_(machine)
    {
        for (std::uint64_t base : {kStop & ~(kRegionSize - 1), kStackTop - kRegionSize, kTarget, kFarTrampoline})
            cpu_.map(base, kRegionSize);
        write(kStop, {0xF4});
        write(kHelper, kReturnsSeven);
        write(kGetPcThunk, {0x8B, 0x1C, 0x24, 0xC3});
        write(kSlot, {0x00, 0x08, 0x00, 0x10, 0, 0, 0, 0});
    }

    void mapExtra(std::uint64_t base) { cpu_.map(base, kRegionSize); }
    void write(std::uint64_t address, const Bytes& bytes) { cpu_.write(address, bytes); }
    Hooking::ReadMemory reader() { return cpu_.reader(); }

    // Calls the code at `address` with ecx/rcx = kHelper and edx/rdx = kSlot,
    // and returns eax/rax when it returns.
    std::uint64_t call(std::uint64_t address)
    {
        uc_engine* uc = cpu_.get();
        const std::uint64_t stack = kStackTop - 0x100;
        const std::uint64_t returnAddress = kStop;
        uc_mem_write(uc, stack, &returnAddress, machine_ == Machine::X64 ? 8 : 4);
        const int sp = machine_ == Machine::X64 ? UC_X86_REG_RSP : UC_X86_REG_ESP;
        uc_reg_write(uc, sp, &stack);
        std::uint64_t zero = 0;
        uc_reg_write(uc, machine_ == Machine::X64 ? UC_X86_REG_RAX : UC_X86_REG_EAX, &zero);
        uc_reg_write(uc, machine_ == Machine::X64 ? UC_X86_REG_RCX : UC_X86_REG_ECX, &kHelper);
        uc_reg_write(uc, machine_ == Machine::X64 ? UC_X86_REG_RDX : UC_X86_REG_EDX, &kSlot);
        const uc_err error = uc_emu_start(uc, address, kStop, 0, 10000);
        EXPECT_EQ(error, UC_ERR_OK) << uc_strerror(error);
        std::uint64_t result = 0;
        uc_reg_read(uc, machine_ == Machine::X64 ? UC_X86_REG_RAX : UC_X86_REG_EAX, &result);
        return machine_ == Machine::X64 ? result : (result & 0xFFFFFFFFu);
    }

private:
    Machine machine_;
    HookTesting::UnicornEngine cpu_;
};

Bytes rel32(std::uint64_t from, std::uint64_t to)
{
    const auto value = static_cast<std::int32_t>(to - from);
    Bytes bytes(4);
    std::memcpy(bytes.data(), &value, 4);
    return bytes;
}

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

struct PrologueCase {
    const char* name;
    Machine machine;
    Bytes code;               // placed at kTarget
    std::uint64_t trampoline; // where the trampoline lies
    std::uint32_t overwritten;
    std::uint64_t original;   // what the function returns unhooked (and through the trampoline)
};

class PlannedHook : public testing::TestWithParam<PrologueCase> {};

TEST_P(PlannedHook, TargetLandsInTheHookAndTheTrampolineKeepsTheOriginalBehaviour)
{
    const PrologueCase& c = GetParam();
    Emulator cpu(c.machine);
    cpu.write(kTarget, withPadding(c.code));
    cpu.write(kHook, kReturnsTwo);
    ASSERT_EQ(cpu.call(kTarget), c.original) << "the unpatched function";

    Hooking::Refusal refusal;
    const auto plan = Hooking::planPatch(c.machine, withPadding(c.code), kTarget, c.trampoline, c.trampoline + 0x40,
                                         kHook, &refusal);
    ASSERT_TRUE(plan) << refusal.reason;
    EXPECT_EQ(plan->overwrittenLength, c.overwritten);
    EXPECT_LE(plan->trampoline.size(), Hooking::kCodeAreaSize);
    ASSERT_EQ(plan->targetPatch.size(), Hooking::kPatchSize);
    cpu.write(c.trampoline, plan->trampoline);
    cpu.write(c.trampoline + 0x40, plan->jumpToHook);
    cpu.write(kTarget, plan->targetPatch);

    EXPECT_EQ(cpu.call(kTarget), 2u) << "the patched function enters the hook";
    EXPECT_EQ(cpu.call(c.trampoline), c.original) << "the trampoline runs the original";
}

INSTANTIATE_TEST_SUITE_P(
    Prologues, PlannedHook,
    testing::Values(
        // push ebp; mov ebp, esp; mov eax, 1; pop ebp; ret
        PrologueCase{"X86FrameSetup", Machine::X86, {0x55, 0x8B, 0xEC, 0xB8, 0x01, 0, 0, 0, 0x5D, 0xC3}, kNearTrampoline, 8, 1},
        // call helper; ret: the call is re-targeted from the trampoline
        PrologueCase{"X86RelativeCall", Machine::X86, concat({{0xE8}, rel32(kTarget + 5, kHelper), {0xC3}}), kFarTrampoline, 5, 7},
        // xor eax, eax; je +6 (taken); mov eax, 1; ret; mov eax, 9; ret
        PrologueCase{"X86JeRetargeted", Machine::X86, {0x31, 0xC0, 0x74, 0x06, 0xB8, 0x01, 0, 0, 0, 0xC3, 0xB8, 0x09, 0, 0, 0, 0xC3}, kFarTrampoline, 9, 9},
        // xor eax, eax; jne +6 (not taken)
        PrologueCase{"X86JneRetargeted", Machine::X86, {0x31, 0xC0, 0x75, 0x06, 0xB8, 0x01, 0, 0, 0, 0xC3, 0xB8, 0x09, 0, 0, 0, 0xC3}, kFarTrampoline, 9, 1},
        // sub rsp, 28h; mov eax, 1; add rsp, 28h; ret
        PrologueCase{"X64StackFrame", Machine::X64, {0x48, 0x83, 0xEC, 0x28, 0xB8, 0x01, 0, 0, 0, 0x48, 0x83, 0xC4, 0x28, 0xC3}, kFarTrampoline, 9, 1},
        // mov rax, [rip+8]; ret; data: the RIP-relative load is re-targeted
        PrologueCase{"X64RipRelativeLoad", Machine::X64, {0x48, 0x8B, 0x05, 0x08, 0, 0, 0, 0xC3, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0x44, 0x33, 0x22, 0x11, 0, 0, 0, 0}, kFarTrampoline, 7, 0x11223344},
        // sub rsp, 28h; call helper; add rsp, 28h; ret
        PrologueCase{"X64RelativeCall", Machine::X64, concat({{0x48, 0x83, 0xEC, 0x28, 0xE8}, rel32(kTarget + 9, kHelper), {0x48, 0x83, 0xC4, 0x28, 0xC3}}), kFarTrampoline, 9, 7},
        // call [slot]; ret / call [rip -> slot]; ret: the indirect call becomes an indirect jump
        PrologueCase{"X86IndirectCall", Machine::X86, {0xFF, 0x15, 0x00, 0x0A, 0x00, 0x10, 0xC3}, kFarTrampoline, 6, 7},
        PrologueCase{"X64RipRelativeCall", Machine::X64, concat({{0xFF, 0x15}, rel32(kTarget + 6, kSlot), {0xC3}}), kFarTrampoline, 6, 7}),
    [](const auto& info) { return std::string(info.param.name); });

// A hook more than 2 GB away from an x86-64 target is reached through the
// jump-to-hook area next to the trampoline.
TEST(PlannedHook, FarHookGoesThroughTheJumpToHookArea)
{
    constexpr std::uint64_t farHook = 0x300000000;
    Emulator cpu(Machine::X64);
    cpu.mapExtra(farHook);
    const Bytes code = withPadding({0x48, 0x83, 0xEC, 0x28, 0xB8, 0x01, 0, 0, 0, 0x48, 0x83, 0xC4, 0x28, 0xC3});
    cpu.write(kTarget, code);
    cpu.write(farHook, kReturnsTwo);
    const auto plan = Hooking::planPatch(Machine::X64, code, kTarget, kNearTrampoline, kNearTrampoline + 0x40, farHook);
    ASSERT_TRUE(plan);
    EXPECT_FALSE(plan->jumpToHook.empty());
    cpu.write(kNearTrampoline, plan->trampoline);
    cpu.write(kNearTrampoline + 0x40, plan->jumpToHook);
    cpu.write(kTarget, plan->targetPatch);
    EXPECT_EQ(cpu.call(kTarget), 2u);
    EXPECT_EQ(cpu.call(kNearTrampoline), 1u);
}

// Code that was once accepted and then moved wrongly. Each is resolved and
// planned as the engine does; refusing it is always right, but a plan must
// keep the function, its trampoline and the code after it working.
struct HazardCase {
    const char* name;
    Machine machine;
    Bytes code;                         // at `at`, padded with int3
    std::uint64_t original;             // what it returns unhooked
    bool mustHook;                      // the plan exists and is right
    std::size_t neighbour = 0;          // offset of the function after it, 0 if none
    std::uint64_t neighbourReturns = 0;
    std::uint64_t at = kTarget;
    std::uint64_t trampoline = kFarTrampoline;
};

void PrintTo(const HazardCase& c, std::ostream* out)
{
    *out << c.name;
}

class HookedOrRefused : public testing::TestWithParam<HazardCase> {};

TEST_P(HookedOrRefused, NeverMovedWrongly)
{
    const HazardCase& c = GetParam();
    Emulator cpu(c.machine);
    if (c.at != kTarget)
        cpu.mapExtra(c.at);
    cpu.write(c.at, withPadding(c.code));
    cpu.write(kHook, kReturnsTwo);
    ASSERT_EQ(cpu.call(c.at), c.original) << "the unpatched function";
    if (c.neighbour != 0) {
        ASSERT_EQ(cpu.call(c.at + c.neighbour), c.neighbourReturns) << "the unpatched neighbour";
    }

    const std::uint64_t target = Hooking::resolveJumps(c.machine, c.at, cpu.reader());
    Hooking::Refusal refusal;
    const auto plan = Hooking::planPatch(c.machine, Hooking::readCode(cpu.reader(), target), target, c.trampoline,
                                         c.trampoline + 0x40, kHook, &refusal);
    if (!plan) {
        EXPECT_FALSE(c.mustHook) << refusal.reason;
        return;
    }
    cpu.write(c.trampoline, plan->trampoline);
    cpu.write(c.trampoline + 0x40, plan->jumpToHook);
    cpu.write(target, plan->targetPatch);
    EXPECT_EQ(cpu.call(c.at), 2u) << "the patched function enters the hook";
    EXPECT_EQ(cpu.call(c.trampoline), c.original) << "the trampoline runs the original";
    if (c.neighbour != 0) {
        EXPECT_EQ(cpu.call(c.at + c.neighbour), c.neighbourReturns) << "the neighbour is untouched";
    }
}

// A value the get-pc rows load relative to their own address.
Bytes withData(Bytes code)
{
    code.resize(0x10, 0xCC);
    return concat({code, {0x34, 0x12, 0x00, 0x00}});
}

// call $+5; pop eax/rax; mov eax, [eax/rax + 0Bh] (the data at +10h); ret
const Bytes kCallPop = withData({0xE8, 0, 0, 0, 0, 0x58, 0x8B, 0x40, 0x0B, 0xC3});
// xor eax, eax; loop: add eax, 1; cmp eax, 3; jne loop; ret
const Bytes kLoopToSecondInstruction = {0x31, 0xC0, 0x83, 0xC0, 0x01, 0x83, 0xF8, 0x03, 0x75, 0xF8, 0xC3};
constexpr std::uint64_t kHighTarget = 0x7FF612340000; // above 4 GB: the pushed address needs its upper half

INSTANTIATE_TEST_SUITE_P(
    Prologues, HookedOrRefused,
    testing::Values(
        // A later branch lands in the replaced bytes.
        HazardCase{"X86LoopBackToSecondInstruction", Machine::X86, kLoopToSecondInstruction, 3, false},
        HazardCase{"X64LoopBackToSecondInstruction", Machine::X64, kLoopToSecondInstruction, 3, false},
        // xor eax, eax; jmp [edx] / jmp rcx (to the helper), then the next function: mov eax, 5; ret
        HazardCase{"X86IndirectJumpBeforeNeighbour", Machine::X86, {0x31, 0xC0, 0xFF, 0x22, 0xB8, 0x05, 0, 0, 0, 0xC3}, 7, false, 4, 5},
        HazardCase{"X64RegisterJumpBeforeNeighbour", Machine::X64, {0x31, 0xC0, 0xFF, 0xE1, 0xB8, 0x05, 0, 0, 0, 0xC3}, 7, false, 4, 5},
        // The callee reads its return address.
        HazardCase{"X86CallPop", Machine::X86, kCallPop, 0x1234, true},
        // call get_pc_thunk (mov ebx, [esp]; ret); mov eax, [ebx + 0Bh]; ret
        HazardCase{"X86GetPcThunk", Machine::X86, withData(concat({{0xE8}, rel32(kTarget + 5, kGetPcThunk), {0x8B, 0x43, 0x0B, 0xC3}})), 0x1234, true},
        HazardCase{"X64CallPop", Machine::X64, kCallPop, 0x1234, true},
        HazardCase{"X64CallPopAbove4GB", Machine::X64, kCallPop, 0x1234, true, 0, 0, kHighTarget, kHighTarget + 0x1000},
        // A loop entered at its condition: jmp cond; body: add eax, 2; cond: cmp eax, 6; jb body; ret
        HazardCase{"X86RotatedLoop", Machine::X86, {0xEB, 0x03, 0x83, 0xC0, 0x02, 0x3D, 0x06, 0, 0, 0, 0x72, 0xF6, 0xC3}, 6, false},
        HazardCase{"X64RotatedLoopNearJump", Machine::X64, {0xE9, 0x03, 0, 0, 0, 0x83, 0xC0, 0x02, 0x3D, 0x06, 0, 0, 0, 0x72, 0xF6, 0xC3}, 6, false}),
    [](const auto& info) { return std::string(info.param.name); });

struct RefusalCase {
    const char* name;
    Machine machine;
    Bytes code;
};

class RefusedPrologue : public testing::TestWithParam<RefusalCase> {};

TEST_P(RefusedPrologue, IsLeftAlone)
{
    Hooking::Refusal refusal;
    EXPECT_FALSE(Hooking::planPatch(GetParam().machine, withPadding(GetParam().code), kTarget, kNearTrampoline,
                                    kNearTrampoline + 0x40, kHook, &refusal));
    EXPECT_FALSE(refusal.reason.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Prologues, RefusedPrologue,
    testing::Values(RefusalCase{"FewerThanFiveBytesBeforeRet", Machine::X86, {0x31, 0xC0, 0xC3}},
                    RefusalCase{"ConditionalJumpAndCall", Machine::X86, concat({{0x74, 0x05, 0xE8}, rel32(kTarget + 7, kHelper)})},
                    RefusalCase{"BranchBackIntoReplacedBytes", Machine::X86, {0x31, 0xC0, 0x74, 0xFC, 0xB8, 0x01, 0, 0, 0, 0xC3}},
                    RefusalCase{"OtherConditionalBranchFirst", Machine::X86, {0x31, 0xC0, 0x0F, 0x84, 0, 0, 0, 0, 0xC3}},
                    RefusalCase{"JumpWithinFiveBytes", Machine::X86, {0x31, 0xC0, 0xEB, 0x00, 0x90, 0xC3}},
                    RefusalCase{"UnknownInstruction", Machine::X64, {0x06, 0x06, 0x06, 0x06, 0x06}},
                    // call ecx; mov eax, 1; ret: the callee would return into the jump to the hook.
                    RefusalCase{"CallReturningIntoReplacedBytes", Machine::X86, {0xFF, 0xD1, 0xB8, 0x01, 0, 0, 0, 0xC3}},
                    // call [esp+4]: the pushed return address would move the operand.
                    RefusalCase{"CallThroughStackPointer", Machine::X86, {0xFF, 0x94, 0x24, 0x04, 0, 0, 0, 0xC3}},
                    // A RIP-relative reference 3 GB away from a trampoline cannot be re-targeted.
                    RefusalCase{"X64RipRelativeOutOfReach", Machine::X64, {0x48, 0x8B, 0x05, 0x00, 0x00, 0x00, 0x80, 0xC3}}),
    [](const auto& info) { return std::string(info.param.name); });

// Memory of a pretend process for the jump resolution.
class Memory {
public:
    void put(std::uint64_t address, const Bytes& bytes)
    {
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes_[address + i] = bytes[i];
    }
    Hooking::ReadMemory reader() const
    {
        return [this](std::uint64_t address, void* buffer, std::size_t size) {
            auto* out = static_cast<std::uint8_t*>(buffer);
            for (std::size_t i = 0; i < size; ++i) {
                const auto found = bytes_.find(address + i);
                out[i] = found == bytes_.end() ? 0xCC : found->second;
            }
            return true;
        };
    }

private:
    std::map<std::uint64_t, std::uint8_t> bytes_;
};

TEST(ResolveJumps, X86ImportThunkHotPatchAndRelativeJumps)
{
    Memory memory;
    constexpr std::uint64_t thunk = 0x7B000000, slot = 0x7B100000, real = 0x7C000000, stub = 0x7C100000;
    // kernel32's form: mov edi, edi; push ebp; mov ebp, esp; pop ebp; jmp [slot]
    memory.put(thunk, {0x8B, 0xFF, 0x55, 0x8B, 0xEC, 0x5D, 0xFF, 0x25, 0x00, 0x00, 0x10, 0x7B});
    memory.put(slot, {0x00, 0x00, 0x10, 0x7C});
    memory.put(stub, concat({{0xE9}, rel32(stub + 5, stub + 0x20)}));
    memory.put(stub + 0x20, {0xEB, 0x10});
    memory.put(stub + 0x32 - 0x2, {});
    EXPECT_EQ(Hooking::resolveJumps(Machine::X86, thunk, memory.reader()), stub + 0x32);
    // The address looked past to is not the target when nothing jumps.
    memory.put(real, {0x8B, 0xFF, 0x55, 0x8B, 0xEC, 0x83, 0xEC, 0x10});
    EXPECT_EQ(Hooking::resolveJumps(Machine::X86, real, memory.reader()), real);
}

TEST(ResolveJumps, X64HotPatchNoOpAndRipRelativeSlot)
{
    Memory memory;
    constexpr std::uint64_t thunk = 0x6FFFF0000000, real = 0x6FFFF1000000;
    // lea rsp, [rsp+0]; jmp [rip+0x100]
    memory.put(thunk, {0x48, 0x8D, 0xA4, 0x24, 0x00, 0x00, 0x00, 0x00, 0xFF, 0x25, 0x00, 0x01, 0x00, 0x00});
    Bytes address(8);
    std::memcpy(address.data(), &real, 8);
    memory.put(thunk + 14 + 0x100, address);
    memory.put(real, {0x48, 0x8D, 0xA4, 0x24, 0x00, 0x00, 0x00, 0x00, 0x48, 0x83, 0xEC, 0x28});
    EXPECT_EQ(Hooking::resolveJumps(Machine::X64, thunk, memory.reader()), real);
}

} // namespace
