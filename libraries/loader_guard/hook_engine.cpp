#include "hook_engine.h"

#include "own_memory.h"
#include "thread_freezer.h"
#include "trampoline_memory.h"

#include <windows.h>

#include <cstring>
#include <mutex>
#include <optional>

namespace {

using namespace Hooking;

constexpr Machine kMachine = sizeof(void*) == 8 ? Machine::X64 : Machine::X86;

struct PreparedHook {
    HookDescriptor* descriptor;
    std::uintptr_t target;
    std::uintptr_t hook;
    TrampolineRecord* record;
    PatchPlan plan;
};

// Plans one descriptor: nothing, or why it stays unhooked.
std::optional<HookOutcome> prepare(HookDescriptor& descriptor, const std::vector<PreparedHook>& earlier,
                                   PreparedHook& prepared)
{
    if (descriptor.systemFunction == nullptr || *descriptor.systemFunction == nullptr ||
        descriptor.hookFunction == nullptr)
        return HookOutcome::InvalidDescriptor;
    const auto target = static_cast<std::uintptr_t>(
        resolveJumps(kMachine, reinterpret_cast<std::uintptr_t>(*descriptor.systemFunction), readOwnMemory));
    const auto hook = static_cast<std::uintptr_t>(
        resolveJumps(kMachine, reinterpret_cast<std::uintptr_t>(descriptor.hookFunction), readOwnMemory));
    for (const PreparedHook& other : earlier)
        if (other.target == target)
            return HookOutcome::SameTargetInBatch;
    const std::vector<std::uint8_t> code = readCode(readOwnMemory, target);
    if (code.empty())
        return HookOutcome::Unreadable;
    TrampolineRecord* record = takeTrampolineNear(target);
    if (record == nullptr)
        return HookOutcome::NoTrampolineMemory;
    auto plan = planPatch(kMachine, code, target, reinterpret_cast<std::uintptr_t>(record->code),
                          reinterpret_cast<std::uintptr_t>(record->jumpToHook), hook);
    if (!plan) {
        returnTrampoline(record);
        return HookOutcome::Refused;
    }
    prepared = PreparedHook{&descriptor, target, hook, record, std::move(*plan)};
    return std::nullopt;
}

// Writes trampoline and target. The other threads are held outside these bytes.
bool place(PreparedHook& prepared)
{
    auto* target = reinterpret_cast<std::uint8_t*>(prepared.target);
    const std::size_t length = prepared.plan.overwrittenLength;
    DWORD previous = 0;
    if (!::VirtualProtect(target, length, PAGE_EXECUTE_READWRITE, &previous))
        return false;
    TrampolineRecord& record = *prepared.record;
    std::memcpy(record.untouched, target, length);
    std::memcpy(record.code, prepared.plan.trampoline.data(), prepared.plan.trampoline.size());
    std::memcpy(record.jumpToHook, prepared.plan.jumpToHook.data(), prepared.plan.jumpToHook.size());
    record.systemFunction = target;
    record.overwrittenLength = static_cast<std::uint32_t>(length);
    record.hookFunction = reinterpret_cast<void*>(prepared.hook);
    *prepared.descriptor->systemFunction = record.code;
    std::memcpy(target, prepared.plan.targetPatch.data(), prepared.plan.targetPatch.size());
    ::FlushInstructionCache(::GetCurrentProcess(), &record, sizeof(record));
    ::FlushInstructionCache(::GetCurrentProcess(), target, length);
    DWORD ignored = 0;
    ::VirtualProtect(target, length, previous, &ignored);
    return true;
}

} // namespace

int setHooks(HookDescriptor* descriptors, int count)
{
    if (descriptors == nullptr || count <= 0)
        return 0;
    for (int i = 0; i < count; ++i) {
        descriptors[i].hooked = 0;
        descriptors[i].outcome = HookOutcome::NotTried;
    }

    static std::mutex engine;
    const std::lock_guard lock(engine);

    std::vector<PreparedHook> prepared;
    for (int i = 0; i < count; ++i) {
        PreparedHook hook{};
        if (const auto unhooked = prepare(descriptors[i], prepared, hook))
            descriptors[i].outcome = *unhooked;
        else
            prepared.push_back(std::move(hook));
    }
    if (prepared.empty())
        return 0;

    std::vector<ThreadFreezer::Range> ranges;
    for (const PreparedHook& hook : prepared)
        ranges.emplace_back(hook.target, hook.target + hook.plan.overwrittenLength);
    const ThreadFreezer freezer(ranges);
    int placed = 0;
    for (std::size_t i = 0; i < prepared.size(); ++i) {
        PreparedHook& hook = prepared[i];
        HookOutcome& outcome = hook.descriptor->outcome;
        // A thread held inside the bytes would resume in the middle of the new jump.
        if (!freezer.holding())
            outcome = HookOutcome::ThreadsNotListed;
        else if (freezer.occupied(i))
            outcome = HookOutcome::ThreadInPatchedBytes;
        else
            outcome = place(hook) ? HookOutcome::Placed : HookOutcome::NotWritable;
        if (outcome == HookOutcome::Placed) {
            hook.descriptor->hooked = 1;
            keepTrampoline(hook.record);
            ++placed;
        } else {
            returnTrampoline(hook.record);
        }
    }
    return placed;
}
