#include "log_sink.h"

#include "log/log_level.h"

#include <mutex>

namespace Diagnostics::Private {

namespace {

struct SinkSlot {
    std::mutex lock;
    LogSink sink;
};

// Never destroyed: the library's threads may log while the process ends.
SinkSlot& slot()
{
    static SinkSlot& instance = *new SinkSlot;
    return instance;
}

} // namespace

void setLogSink(LogSink sink)
{
    const std::lock_guard lock(slot().lock);
    slot().sink = std::move(sink);
}

void logMessage(int level, const std::wstring& text)
{
    const std::lock_guard lock(slot().lock);
    if (slot().sink)
        slot().sink(level, text);
}

void bridgeLog(MonitorClient::LogSeverity severity, const std::wstring& text)
{
    const int value = static_cast<int>(severity);
    const std::wstring marked = L"[VESK] " + text;
    if (value < 0 || value > 3) {
        logMessage(LogLevel::Warning, L"Unexpected logging level.");
        logMessage(LogLevel::Info, marked);
        return;
    }
    // The library's gravity rises with the number, the host's falls.
    logMessage(LogLevel::Debug - value, marked);
}

} // namespace Diagnostics::Private
