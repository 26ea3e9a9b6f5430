#include "hook_planner.h"

#include <Zydis/Zydis.h>

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

// A jump from `from` (where its first byte will lie) to `to`: E9 rel32 when it
// reaches, otherwise an absolute jump through the address stored right after it
// (x86: push imm32 / ret keeps the registers; x86-64: FF 25 00000000 + address).
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

Refusal refuse(std::string reason)
{
    return Refusal{std::move(reason)};
}

} // namespace

std::uint64_t resolveJumps(Machine machine, std::uint64_t address, const ReadMemory& read)
{
    for (int hops = 0; hops < 16; ++hops) {
        std::uint8_t bytes[16] = {};
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
        if (bytes[at] == 0xFF && bytes[at + 1] == 0x25) {
            // x86: the operand is the slot's address; x86-64: relative to the next instruction.
            const std::uint64_t slot = machine == Machine::X64 ? here + 6 + static_cast<std::int64_t>(rel32)
                                                               : static_cast<std::uint32_t>(rel32);
            std::uint64_t next = 0;
            if (!read(slot, &next, machine == Machine::X64 ? 8 : 4))
                return address;
            address = next;
        } else if (bytes[at] == 0xE9) {
            address = here + 5 + static_cast<std::int64_t>(rel32);
        } else if (bytes[at] == 0xEB) {
            address = here + 2 + static_cast<std::int8_t>(bytes[at + 1]);
        } else {
            return address;
        }
        if (machine == Machine::X86)
            address &= 0xFFFFFFFFu;
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
        if (category == ZYDIS_CATEGORY_RET || (category == ZYDIS_CATEGORY_COND_BR && !shortJeJne))
            break;
        if (shortJeJne)
            conditionalJump = true;
        const bool relativeCall = category == ZYDIS_CATEGORY_CALL && code[covered] == 0xE8;
        if (relativeCall)
            call = true;
        const bool relative = (instruction.attributes & ZYDIS_ATTRIB_IS_RELATIVE) != 0;
        const bool ripRelative = machine == Machine::X64 && hasRipRelativeOperand(instruction, operands);
        // Other relative transfers (jmp, loop, jecxz) cannot be moved as they are.
        if (relative && !shortJeJne && !relativeCall && !ripRelative)
            return fail("relative transfer that cannot be moved");
        moved.push_back({covered, instruction, ripRelative});
        covered += instruction.length;
    }
    if (covered < kPatchSize)
        return fail("fewer than 5 bytes before a return or conditional branch");
    if (conditionalJump && call)
        return fail("a conditional jump and a call within the first 5 bytes");

    PatchPlan plan;
    plan.overwrittenLength = static_cast<std::uint32_t>(covered);
    for (const Moved& m : moved) {
        const std::uint8_t* bytes = code.data() + m.offset;
        const std::uint64_t from = target + m.offset;
        const std::uint64_t at = trampolineAddress + plan.trampoline.size();
        const std::uint8_t length = m.instruction.length;
        if (bytes[0] == 0x74 || bytes[0] == 0x75) {
            if (length == 2) {
                const std::uint64_t destination = from + 2 + static_cast<std::int8_t>(bytes[1]);
                if (destination >= target && destination < target + covered)
                    return fail("branch back into the replaced bytes");
                // The short form becomes the near form: 0F 84 / 0F 85 rel32.
                const std::int64_t relative = distance(at + 6, destination);
                if (!reaches(machine, relative))
                    return fail("conditional jump out of reach of the trampoline");
                plan.trampoline.push_back(0x0F);
                plan.trampoline.push_back(static_cast<std::uint8_t>(bytes[0] + 0x10));
                appendInt32(plan.trampoline, static_cast<std::int32_t>(relative));
                continue;
            }
        }
        for (std::uint8_t i = 0; i < length; ++i)
            plan.trampoline.push_back(bytes[i]);
        if (bytes[0] == 0xE8 && length == 5) {
            std::int32_t rel32;
            std::memcpy(&rel32, bytes + 1, 4);
            const std::uint64_t destination = from + 5 + static_cast<std::int64_t>(rel32);
            const std::int64_t relative = distance(at + 5, destination);
            if (!reaches(machine, relative))
                return fail("call out of reach of the trampoline");
            writeInt32(plan.trampoline, plan.trampoline.size() - 4, static_cast<std::int32_t>(relative));
        } else if (m.ripRelative) {
            const auto& raw = m.instruction.raw.disp;
            const std::uint64_t referenced = from + length + raw.value;
            const std::int64_t relative = distance(at + length, referenced);
            if (raw.size != 32 || !fitsInt32(relative))
                return fail("RIP-relative operand out of reach of the trampoline");
            writeInt32(plan.trampoline, plan.trampoline.size() - length + raw.offset, static_cast<std::int32_t>(relative));
        }
    }
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
