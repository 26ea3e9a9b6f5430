#pragma once

#include "vesk_configuration.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace VESK {

// The library's custom data of one event, as it hands it to the callbacks.
struct CustomData {
    void* handle = nullptr;
};

using EventBeginHook = std::function<void(EventType, const CustomData&, PostEventAction, const char* text,
                                          std::uint64_t value, CustomData& customDataOut)>;
using EventEndHook =
    std::function<void(EventType, const CustomData&, PostEventAction, const char* text, std::uint64_t value)>;

class IEventProcessHooker {
public:
    virtual ~IEventProcessHooker() = default;
    virtual void begin(EventType, const CustomData&, PostEventAction, const char* text, std::uint64_t value,
                       CustomData& customDataOut) = 0;
    virtual void end(EventType, const CustomData&, PostEventAction, const char* text, std::uint64_t value) = 0;
};

// The hooks run by the library's event callbacks, in the order they were added.
// A kind's lock is held while its hooks run: a hook must not add one of its kind.
class EventProcessHooker : public IEventProcessHooker {
public:
    // The new hook's id; 0 when memory ran out.
    std::uint64_t addBeginHook(EventBeginHook hook) noexcept;
    std::uint64_t addEndHook(EventEndHook hook) noexcept;
    void clear();

    void begin(EventType, const CustomData&, PostEventAction, const char* text, std::uint64_t value,
               CustomData& customDataOut) override;
    void end(EventType, const CustomData&, PostEventAction, const char* text, std::uint64_t value) override;

private:
    template <typename Hooks, typename Hook>
    std::uint64_t add(std::mutex& lock, Hooks& hooks, Hook hook) noexcept;

    std::atomic<std::uint64_t> nextId_{1};
    std::mutex beginLock_;
    std::map<std::uint64_t, EventBeginHook> beginHooks_;
    std::mutex endLock_;
    std::map<std::uint64_t, EventEndHook> endHooks_;
};

} // namespace VESK
