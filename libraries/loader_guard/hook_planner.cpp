#include "hook_planner.h"

#include "instruction_flow.h"

#include <Zydis/Zydis.h>

#include <algorithm>
#include <cstring>

namespace Hooking {

namespace {

bool fitsInt32(std::int64_t value)
{
    return value >= INT32_MIN && value <= INT32_MAX;
}

std::int64_t distance(std::uint64_t from, std::uint64_t to)
{
    return static_cast<std::int64_t>(to - from);
}

// On x86 every 32-bit displacement reaches: addresses wrap around.
bool reaches(Machine machine, std::int64_t relative)
{
    return machine == Machine::X86 || fitsInt32(relative);
}

// Little-endian, byte by byte (GCC 12 misreports bounds for small range inserts).
void appendLittleEndian(std::vector<std::uint8_t>& bytes, std::uint64_t value, int size)
{
    for (int i = 0; i < size; ++i)
        bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void appendInt32(std::vector<std::uint8_t>& bytes, std::int32_t value)
{
    appendLittleEndian(bytes, static_cast<std::uint32_t>(value), 4);
}

void appendUint64(std::vector<std::uint8_t>& bytes, std::uint64_t value)
{
    appendLittleEndian(bytes, value, 8);
}

void writeInt32(std::vector<std::uint8_t>& bytes, std::size_t at, std::int32_t value)
{
    std::memcpy(bytes.data() + at, &value, 4);
}

// A jump from `from` (where its first byte will lie) to `to`: E9 rel32, which
// on x86 always reaches; on x86-64 beyond 2 GB an absolute jump through the
// address stored right after it (FF 25 00000000 + address).
std::vector<std::uint8_t> jump(Machine machine, std::uint64_t from, std::uint64_t to)
{
    std::vector<std::uint8_t> bytes;
    const std::int64_t relative = distance(from + 5, to);
    if (machine == Machine::X86 || fitsInt32(relative)) {
        bytes.push_back(0xE9);
        appendInt32(bytes, static_cast<std::int32_t>(relative));
        return bytes;
    }
    bytes = {0xFF, 0x25, 0x00, 0x00, 0x00, 0x00};
    appendUint64(bytes, to);
    return bytes;
}

// Pushes a return address as a call would. x86-64 has no 64-bit push of an
// immediate: push imm32 (sign-extended), then the upper half by hand.
void appendPush(std::vector<std::uint8_t>& bytes, Machine machine, std::uint64_t value)
{
    bytes.push_back(0x68);
    appendLittleEndian(bytes, value, 4);
    const auto low = static_cast<std::uint32_t>(value);
    const std::uint32_t extended = (low & 0x80000000u) != 0 ? 0xFFFFFFFFu : 0;
    const auto high = static_cast<std::uint32_t>(value >> 32);
    if (machine == Machine::X64 && high != extended) {
        for (std::uint8_t byte : {0xC7, 0x44, 0x24, 0x04}) // mov dword [rsp+4], imm32
            bytes.push_back(byte);
        appendLittleEndian(bytes, high, 4);
    }
}

class Decoder {
public:
    explicit Decoder(Machine machine) : machine_(machine)
    {
        if (machine == Machine::X64)
            ZydisDecoderInit(&decoder_, ZYDIS_MACHINE_MODE_LONG_64, ZYDIS_STACK_WIDTH_64);
        else
            ZydisDecoderInit(&decoder_, ZYDIS_MACHINE_MODE_LEGACY_32, ZYDIS_STACK_WIDTH_32);
    }

    Machine machine() const { return machine_; }

    bool decode(const std::uint8_t* bytes, std::size_t size, ZydisDecodedInstruction& instruction,
                ZydisDecodedOperand* operands) const
    {
        return ZYAN_SUCCESS(ZydisDecoderDecodeFull(&decoder_, bytes, size, &instruction, operands));
    }

private:
    Machine machine_;
    ZydisDecoder decoder_;
};

bool startsWith(const std::uint8_t* bytes, std::initializer_list<std::uint8_t> prefix)
{
    return std::memcmp(bytes, prefix.begin(), prefix.size()) == 0;
}

bool hasRipRelativeOperand(const ZydisDecodedInstruction& instruction, const ZydisDecodedOperand* operands)
{
    for (std::uint8_t i = 0; i < instruction.operand_count; ++i)
        if (operands[i].type == ZYDIS_OPERAND_TYPE_MEMORY && operands[i].mem.base == ZYDIS_REGISTER_RIP)
            return true;
    return false;
}

bool isStackPointer(ZydisRegister reg)
{
    return reg == ZYDIS_REGISTER_ESP || reg == ZYDIS_REGISTER_RSP;
}

// An operand that moves when a return address is pushed before it is used.
bool usesStackPointer(const ZydisDecodedInstruction& instruction, const ZydisDecodedOperand* operands)
{
    for (std::uint8_t i = 0; i < instruction.operand_count_visible; ++i) {
        const ZydisDecodedOperand& operand = operands[i];
        if ((operand.type == ZYDIS_OPERAND_TYPE_REGISTER && isStackPointer(operand.reg.value)) ||
            (operand.type == ZYDIS_OPERAND_TYPE_MEMORY &&
             (isStackPointer(operand.mem.base) || isStackPointer(operand.mem.index))))
            return true;
    }
    return false;
}

// The instructions a walk decoded: starts[offset] for each one's first byte,
// up to `end`, the offset after the last.
struct Walked {
    std::vector<bool> starts;
    std::size_t end = 0;
};

// Walks the function whose code is `bytes` (at `address`) to its end: the
// first return, unconditional jump or int3 that no branch seen so far jumps
// past, or the end of the bytes. Calls onBranch(destination, isCall) for every
// relative branch and call.
template <typename OnBranch>
Walked walkFunction(const Decoder& decoder, const std::uint8_t* bytes, std::size_t size, std::uint64_t address,
                    OnBranch onBranch)
{
    ZydisDecodedInstruction instruction;
    ZydisDecodedOperand operands[ZYDIS_MAX_OPERAND_COUNT];
    Walked walked;
    walked.starts.assign(size, false);
    std::uint64_t furthest = address; // the furthest code of the function a branch reaches
    for (std::size_t at = 0; at < size && decoder.decode(bytes + at, size - at, instruction, operands);
         at += instruction.length) {
        walked.starts[at] = true;
        walked.end = at + instruction.length;
        const std::uint64_t here = address + at;
        const std::uint64_t next = here + instruction.length;
        const bool call = instruction.meta.category == ZYDIS_CATEGORY_CALL;
        if (const auto destination = branchDestination(decoder.machine(), instruction, operands, here)) {
            onBranch(*destination, call);
            if (!call && *destination > furthest && *destination < address + size)
                furthest = *destination;
        }
        if (endsFlow(instruction) && furthest < next)
            return walked;
    }
    return walked;
}

Refusal refuse(std::string reason)
{
    return Refusal{std::move(reason)};
}

// A leading jump from `jumpStart` to a later `destination` that is entered by
// the code there branching back to the jump or the bytes after it: a loop
// rotated to start at its condition, not a stub.
bool loopsBack(const Decoder& decoder, std::uint64_t jumpStart, std::uint64_t destination, const ReadMemory& read)
{
    if (destination <= jumpStart)
        return false;
    const std::vector<std::uint8_t> code = readCode(read, destination);
    bool back = false;
    walkFunction(decoder, code.data(), code.size(), destination, [&](std::uint64_t to, bool call) {
        if (!call && to >= jumpStart && to < destination)
            back = true;
    });
    return back;
}

} // namespace

std::vector<std::uint8_t> readCode(const ReadMemory& read, std::uint64_t address)
{
    constexpr std::uint64_t kPage = 4096;
    for (const std::size_t size : {kCodeWindow, static_cast<std::size_t>(kPage - address % kPage)}) {
        std::vector<std::uint8_t> code(std::min(size, kCodeWindow));
        if (read(address, code.data(), code.size()))
            return code;
    }
    return {};
}

std::uint64_t resolveJumps(Machine machine, std::uint64_t address, const ReadMemory& read)
{
    const Decoder decoder(machine);
    for (int hops = 0; hops < 16; ++hops) {
        // The longest run of no-ops (14 bytes) and the longest jump after it (6).
        std::uint8_t bytes[20] = {};
        if (!read(address, bytes, sizeof(bytes)))
            return address;
        std::size_t at = 0;
        if (machine == Machine::X64 && startsWith(bytes, {0x48, 0x8D, 0xA4, 0x24, 0x00, 0x00, 0x00, 0x00}))
            at = 8;
        if (startsWith(bytes + at, {0x8B, 0xFF}))
            at += 2;
        if (startsWith(bytes + at, {0x55, 0x8B, 0xEC, 0x5D}))
            at += 4;
        const std::uint64_t here = address + at;
        std::int32_t rel32 = 0;
        std::memcpy(&rel32, bytes + at + (bytes[at] == 0xFF ? 2 : 1), 4);
        std::uint64_t next = 0;
        if (bytes[at] == 0xFF && bytes[at + 1] == 0x25) {
            // x86: the operand is the slot's address; x86-64: relative to the next instruction.
            const std::uint64_t slot = machine == Machine::X64 ? here + 6 + static_cast<std::int64_t>(rel32)
                                                               : static_cast<std::uint32_t>(rel32);
            if (!read(slot, &next, machine == Machine::X64 ? 8 : 4))
                return address;
        } else if (bytes[at] == 0xE9) {
            next = here + 5 + static_cast<std::int64_t>(rel32);
        } else if (bytes[at] == 0xEB) {
            next = here + 2 + static_cast<std::int8_t>(bytes[at + 1]);
        } else {
            return address;
        }
        if (machine == Machine::X86)
            next &= 0xFFFFFFFFu;
        if (bytes[at] != 0xFF && loopsBack(decoder, address, next, read))
            return address;
        address = next;
    }
    return address;
}

std::optional<PatchPlan> planPatch(Machine machine, const std::vector<std::uint8_t>& code, std::uint64_t target,
                                   std::uint64_t trampolineAddress, std::uint64_t jumpToHookAddress,
                                   std::uint64_t hook, Refusal* refusal)
{
    const auto fail = [&](std::string reason) -> std::optional<PatchPlan> {
        if (refusal != nullptr)
            *refusal = refuse(std::move(reason));
        return std::nullopt;
    };
    const Decoder decoder(machine);
    ZydisDecodedInstruction instruction;
    ZydisDecodedOperand operands[ZYDIS_MAX_OPERAND_COUNT];

    // Measure: whole instructions until the jump fits.
    struct Moved {
        std::size_t offset;
        ZydisDecodedInstruction instruction;
        bool ripRelative;
    };
    std::vector<Moved> moved;
    std::size_t covered = 0;
    bool conditionalJump = false;
    bool call = false;
    while (covered < kPatchSize) {
        if (!decoder.decode(code.data() + covered, code.size() - covered, instruction, operands))
            return fail("unknown instruction");
        const bool shortJeJne = instruction.length == 2 && (code[covered] == 0x74 || code[covered] == 0x75);
        const auto category = instruction.meta.category;
        // After a return or an unconditional jump comes other code, maybe another function.
        if (category == ZYDIS_CATEGORY_RET || category == ZYDIS_CATEGORY_UNCOND_BR ||
            (category == ZYDIS_CATEGORY_COND_BR && !shortJeJne))
            break;
        if (shortJeJne)
            conditionalJump = true;
        const bool isCall = category == ZYDIS_CATEGORY_CALL;
        const bool relativeCall = isCall && code[covered] == 0xE8;
        if (relativeCall)
            call = true;
        if (isCall && instruction.meta.branch_type == ZYDIS_BRANCH_TYPE_FAR)
            return fail("far call");
        // With an operand-size prefix a call pushes two bytes and takes a
        // 16-bit target (AMD CPUs in 64-bit mode too, Intel's ignore it there):
        // the moved form's push and jump would not do the same.
        if (isCall && (instruction.attributes & ZYDIS_ATTRIB_HAS_OPERANDSIZE) != 0)
            return fail("call with an operand-size prefix");
        // The moved call pushes its return address first, which would shift a stack operand.
        if (isCall && usesStackPointer(instruction, operands))
            return fail("call through the stack pointer");
        const bool relative = (instruction.attributes & ZYDIS_ATTRIB_IS_RELATIVE) != 0;
        const bool ripRelative = machine == Machine::X64 && hasRipRelativeOperand(instruction, operands);
        // Other relative transfers (loop, jecxz) cannot be moved as they are.
        if (relative && !shortJeJne && !relativeCall && !ripRelative)
            return fail("relative transfer that cannot be moved");
        moved.push_back({covered, instruction, ripRelative});
        covered += instruction.length;
        if (isCall && covered < kPatchSize)
            return fail("a call that returns into the replaced bytes");
    }
    if (covered < kPatchSize)
        return fail("fewer than 5 bytes before a return or jump");
    if (conditionalJump && call)
        return fail("a conditional jump and a call within the first 5 bytes");

    // A branch into the replaced bytes would land in the middle of the jump to
    // the hook, one to the start in the hook on every pass of a loop. A jump
    // into the middle of an instruction the walk decoded runs code it never
    // saw, which may branch there as well.
    bool branchIntoReplaced = false;
    std::vector<std::uint64_t> jumps;
    const Walked walked =
        walkFunction(decoder, code.data(), code.size(), target, [&](std::uint64_t destination, bool isCall) {
            if (destination >= target && destination < target + covered && !(isCall && destination == target))
                branchIntoReplaced = true;
            if (!isCall)
                jumps.push_back(destination);
        });
    if (branchIntoReplaced)
        return fail("branch into the replaced bytes");
    for (const std::uint64_t destination : jumps)
        if (destination >= target && destination - target < walked.end && !walked.starts[destination - target])
            return fail("jump into the middle of an instruction");

    PatchPlan plan;
    plan.overwrittenLength = static_cast<std::uint32_t>(covered);
    // Appends the moved instruction, its RIP-relative operand re-targeted.
    const auto copy = [&](const Moved& m) {
        const std::uint8_t length = m.instruction.length;
        const std::uint64_t at = trampolineAddress + plan.trampoline.size();
        const std::uint64_t from = target + m.offset;
        for (std::uint8_t i = 0; i < length; ++i)
            plan.trampoline.push_back(code[m.offset + i]);
        if (!m.ripRelative)
            return true;
        const auto& raw = m.instruction.raw.disp;
        const std::int64_t relative = distance(at + length, from + length + raw.value);
        if (raw.size != 32 || !fitsInt32(relative))
            return false;
        writeInt32(plan.trampoline, plan.trampoline.size() - length + raw.offset, static_cast<std::int32_t>(relative));
        return true;
    };
    bool endsInCall = false;
    for (const Moved& m : moved) {
        const std::uint8_t* bytes = code.data() + m.offset;
        const std::uint64_t from = target + m.offset;
        const std::uint8_t length = m.instruction.length;
        if (length == 2 && (bytes[0] == 0x74 || bytes[0] == 0x75)) {
            // The short form becomes the near form: 0F 84 / 0F 85 rel32.
            const std::uint64_t destination = from + 2 + static_cast<std::int8_t>(bytes[1]);
            const std::int64_t relative = distance(trampolineAddress + plan.trampoline.size() + 6, destination);
            if (!reaches(machine, relative))
                return fail("conditional jump out of reach of the trampoline");
            plan.trampoline.push_back(0x0F);
            plan.trampoline.push_back(static_cast<std::uint8_t>(bytes[0] + 0x10));
            appendInt32(plan.trampoline, static_cast<std::int32_t>(relative));
        } else if (m.instruction.meta.category == ZYDIS_CATEGORY_CALL) {
            // The last moved instruction: its callee returns to the original
            // code after it, and sees the address it expects (get-pc thunks,
            // unwinding) rather than one in the trampoline.
            appendPush(plan.trampoline, machine, from + length);
            endsInCall = true;
            if (bytes[0] == 0xE8) {
                std::int32_t rel32;
                std::memcpy(&rel32, bytes + 1, 4);
                const std::uint64_t callee = from + 5 + static_cast<std::int64_t>(rel32);
                for (std::uint8_t byte :
                     jump(machine, trampolineAddress + plan.trampoline.size(),
                          machine == Machine::X86 ? callee & 0xFFFFFFFFu : callee))
                    plan.trampoline.push_back(byte);
                continue;
            }
            // call r/m (FF /2) becomes jmp r/m (FF /4).
            const std::size_t modrm = plan.trampoline.size() + m.instruction.raw.modrm.offset;
            if (!copy(m))
                return fail("RIP-relative operand out of reach of the trampoline");
            plan.trampoline[modrm] = static_cast<std::uint8_t>((plan.trampoline[modrm] & 0xC7) | (4 << 3));
        } else if (!copy(m)) {
            return fail("RIP-relative operand out of reach of the trampoline");
        }
    }
    if (!endsInCall)
        for (std::uint8_t byte : jump(machine, trampolineAddress + plan.trampoline.size(), target + covered))
            plan.trampoline.push_back(byte);
    if (plan.trampoline.size() > kCodeAreaSize)
        return fail("moved instructions do not fit the trampoline");

    // The target's jump: straight to the hook, or through the jump-to-hook area.
    if (machine == Machine::X86 || fitsInt32(distance(target + kPatchSize, hook))) {
        plan.targetPatch = jump(Machine::X86, target, hook);
    } else {
        plan.jumpToHook = jump(machine, jumpToHookAddress, hook);
        if (!fitsInt32(distance(target + kPatchSize, jumpToHookAddress)))
            return fail("jump-to-hook area out of reach");
        plan.targetPatch = jump(Machine::X86, target, jumpToHookAddress);
    }
    return plan;
}

} // namespace Hooking
