#include "event_process_hooker.h"

namespace VESK {

template <typename Hooks, typename Hook>
std::uint64_t EventProcessHooker::add(std::mutex& lock, Hooks& hooks, Hook hook) noexcept
{
    try {
        const std::lock_guard guard(lock);
        const std::uint64_t id = nextId_++;
        hooks.emplace(id, std::move(hook));
        return id;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

std::uint64_t EventProcessHooker::addBeginHook(EventBeginHook hook) noexcept
{
    return add(beginLock_, beginHooks_, std::move(hook));
}

std::uint64_t EventProcessHooker::addEndHook(EventEndHook hook) noexcept
{
    return add(endLock_, endHooks_, std::move(hook));
}

void EventProcessHooker::clear()
{
    {
        const std::lock_guard lock(beginLock_);
        beginHooks_.clear();
    }
    const std::lock_guard lock(endLock_);
    endHooks_.clear();
}

void EventProcessHooker::begin(EventType type, const CustomData& data, PostEventAction action, const char* text,
                               std::uint64_t value, CustomData& customDataOut)
{
    const std::lock_guard lock(beginLock_);
    for (const auto& [id, hook] : beginHooks_)
        hook(type, data, action, text, value, customDataOut);
}

void EventProcessHooker::end(EventType type, const CustomData& data, PostEventAction action, const char* text,
                             std::uint64_t value)
{
    const std::lock_guard lock(endLock_);
    for (const auto& [id, hook] : endHooks_)
        hook(type, data, action, text, value);
}

} // namespace VESK
