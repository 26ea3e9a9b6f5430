#include "initialization_callback.h"

#include "log/log_level.h"
#include "log_sink.h"

namespace Diagnostics::Private {

bool completesStartup(int status, int processingMode)
{
    return status == 1 || status == 4 || status == 7 || (status == 2 && processingMode == 2);
}

InitializationCallback::InitializationCallback(Parameters parameters)
    : parameters_(std::move(parameters))
    , future_(promise_.get_future())
{
}

MonitorClient::StatusCallback InitializationCallback::statusCallback(
    const std::shared_ptr<InitializationCallback>& callback)
{
    return [weak = std::weak_ptr<InitializationCallback>(callback),
            processingMode = callback->parameters_.processingMode](int, int current) {
        const std::shared_ptr<InitializationCallback> waiting = weak.lock();
        if (!waiting || !completesStartup(current, processingMode))
            return;
        if (current == 1 || current == 7)
            logMessage(LogLevel::Warning,
                       L"VESK monitor initialization failure, callback status: " + std::to_wstring(current));
        waiting->complete();
    };
}

void InitializationCallback::complete()
{
    if (!completed_.exchange(true))
        promise_.set_value();
}

bool InitializationCallback::waitUntil(std::chrono::steady_clock::time_point deadline)
{
    return future_.wait_until(deadline) == std::future_status::ready;
}

} // namespace Diagnostics::Private
