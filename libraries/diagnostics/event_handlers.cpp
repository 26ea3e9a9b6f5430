#include "event_handlers.h"

#include <mutex>

namespace Diagnostics {

namespace {

struct Handlers {
    std::mutex lock;
    VESK::EventBeginHook fatal;
    VESK::EventBeginHook nonFatal;
};

Handlers& handlers()
{
    static Handlers& instance = *new Handlers;
    return instance;
}

bool endsOrRestartsProcess(VESK::PostEventAction action)
{
    const int value = static_cast<int>(action);
    return value >= 1 && value <= 4;
}

} // namespace

void setFatalEventHandler(VESK::EventBeginHook handler)
{
    const std::lock_guard lock(handlers().lock);
    handlers().fatal = std::move(handler);
}

void setNonFatalEventHandler(VESK::EventBeginHook handler)
{
    const std::lock_guard lock(handlers().lock);
    handlers().nonFatal = std::move(handler);
}

namespace Private {

void routeEventBegin(VESK::EventType type, const VESK::CustomData& data, VESK::PostEventAction action,
                     const char* text, std::uint64_t value, VESK::CustomData& customDataOut)
{
    VESK::EventBeginHook handler;
    {
        const std::lock_guard lock(handlers().lock);
        if (type == VESK::EventType::Crash || (type == VESK::EventType::Assertion && endsOrRestartsProcess(action)))
            handler = handlers().fatal;
        else if (type == VESK::EventType::Assertion)
            handler = handlers().nonFatal;
    }
    if (handler)
        handler(type, data, action, text, value, customDataOut);
}

} // namespace Private

} // namespace Diagnostics
