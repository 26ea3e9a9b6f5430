#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Pure planning of an inline hook: from the bytes at a target, the target's
// address and where the trampoline and the jump-to-hook area will lie, the
// bytes to write at each place. Nothing here touches live memory.
namespace Hooking {

enum class Machine { X86, X64 };

inline constexpr std::size_t kPatchSize = 5;        // E9 rel32
inline constexpr std::size_t kCodeAreaSize = 32;    // trampoline code area, jump-to-hook area
// Bytes looked at from a function's start: the replaced bytes and, after them,
// the rest of the function for branches back into them.
inline constexpr std::size_t kCodeWindow = 256;

struct PatchPlan {
    std::uint32_t overwrittenLength = 0;
    std::vector<std::uint8_t> trampoline; // moved instructions and the jump back (or a moved call's jump)
    std::vector<std::uint8_t> jumpToHook; // empty when the target reaches the hook directly
    std::vector<std::uint8_t> targetPatch; // kPatchSize bytes for the target's start
};

struct Refusal {
    std::string reason;
};

// Reads `size` bytes at an address of the process being planned for; false
// when they cannot be read.
using ReadMemory = std::function<bool(std::uint64_t address, void* buffer, std::size_t size)>;

// Up to kCodeWindow bytes at `address`; fewer where readable memory ends
// within the window (at least the rest of the address's page), none when even
// that cannot be read.
std::vector<std::uint8_t> readCode(const ReadMemory& read, std::uint64_t address);

// Follows what stands in front of a function's real code: the 2-byte no-op
// "mov edi, edi", the push-frame/pop-frame sequence 55 8B EC 5D, and on x86-64
// the 8-byte no-op "lea rsp, [rsp]", then an indirect jump through a slot (FF 25)
// or a relative jump (E9, EB). Returns the first address that is none of these.
// A relative jump is followed only into other code: not when the code it
// reaches branches back to the jump or the bytes after it (a loop the compiler
// entered at its condition).
std::uint64_t resolveJumps(Machine machine, std::uint64_t address, const ReadMemory& read);

// Plans the patch of `code` (the bytes at `target`, as readCode gives them)
// with a jump to `hook`. Refused: fewer than 5 bytes before a return, an
// unconditional jump or a conditional branch other than 74/75; a short
// conditional jump together with a call in the first 5 bytes; a call that
// returns into the replaced bytes, a far call, a call with an operand-size
// prefix or a call through the stack pointer; a branch into the replaced
// bytes anywhere in the function as far as `code` reaches (a call of the
// function itself excepted), and a jump into the middle of one of its
// instructions (code that is never looked at); an instruction the decoder
// does not know; a moved reference that cannot reach from the trampoline. A
// moved call pushes the original return address and jumps, so that its callee
// returns into the function, not into the trampoline.
std::optional<PatchPlan> planPatch(Machine machine, const std::vector<std::uint8_t>& code, std::uint64_t target,
                                   std::uint64_t trampolineAddress, std::uint64_t jumpToHookAddress,
                                   std::uint64_t hook, Refusal* refusal = nullptr);

} // namespace Hooking
