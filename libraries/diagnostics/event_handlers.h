#pragma once

#include "monitor_client/event_process_hooker.h"

namespace Diagnostics {

// Process-wide receivers of the library's event begins: fatal events (crashes
// and assertions that end or restart the process) and non-fatal assertions.
// Empty unless a component installs one.
void setFatalEventHandler(VESK::EventBeginHook handler);
void setNonFatalEventHandler(VESK::EventBeginHook handler);

namespace Private {

// The begin hook start-up registers: routes an event to one of the two
// handlers by its type and post-event action; other types are ignored.
void routeEventBegin(VESK::EventType type, const VESK::CustomData& data, VESK::PostEventAction action,
                     const char* text, std::uint64_t value, VESK::CustomData& customDataOut);

} // namespace Private

} // namespace Diagnostics
