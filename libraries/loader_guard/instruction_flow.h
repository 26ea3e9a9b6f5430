#pragma once

#include "hook_planner.h"

#include <Zydis/Zydis.h>

#include <cstdint>
#include <optional>

// Where a decoded instruction sends control: shared by the planner's walk and
// by whoever checks the planner against it.
namespace Hooking {

// Where a relative branch or call goes; none for other instructions.
inline std::optional<std::uint64_t> branchDestination(Machine machine, const ZydisDecodedInstruction& instruction,
                                                      const ZydisDecodedOperand* operands, std::uint64_t address)
{
    for (std::uint8_t i = 0; i < instruction.operand_count_visible; ++i)
        if (operands[i].type == ZYDIS_OPERAND_TYPE_IMMEDIATE && operands[i].imm.is_relative) {
            const std::uint64_t destination =
                address + instruction.length + static_cast<std::uint64_t>(operands[i].imm.value.s);
            return machine == Machine::X86 ? destination & 0xFFFFFFFFu : destination;
        }
    return std::nullopt;
}

// Control does not fall through to the next instruction (int3 is what
// compilers pad with after a call that does not return).
inline bool endsFlow(const ZydisDecodedInstruction& instruction)
{
    const auto category = instruction.meta.category;
    return category == ZYDIS_CATEGORY_RET || category == ZYDIS_CATEGORY_UNCOND_BR ||
           instruction.mnemonic == ZYDIS_MNEMONIC_INT3 || instruction.mnemonic == ZYDIS_MNEMONIC_UD2;
}

} // namespace Hooking
