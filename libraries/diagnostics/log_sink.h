#pragma once

#include "monitor_client/monitor_client.h"
#include "parameters.h"

#include <string>

namespace Diagnostics::Private {

// The process-wide receiver of crash reporting's own messages; empty drops them.
void setLogSink(LogSink sink);
void logMessage(int level, const std::wstring& text);

// The library's messages, at the host's levels and marked "[VESK] ".
void bridgeLog(MonitorClient::LogSeverity severity, const std::wstring& text);

} // namespace Diagnostics::Private
