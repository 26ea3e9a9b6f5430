#pragma once

#include "monitor_client/monitor_client.h"
#include "parameters.h"

#include <atomic>
#include <chrono>
#include <future>
#include <memory>

namespace Diagnostics::Private {

// Whether a library status ends the wait at start-up: 1 (failed), 4 and 7
// (started), and 2 in processing mode 2.
bool completesStartup(int status, int processingMode);

// Start-up's wait for the library's confirmation. The library may confirm from
// any thread, more than once, or after the wait has ended.
class InitializationCallback {
public:
    explicit InitializationCallback(Parameters parameters);

    // For the library: holds only a weak reference, so that a status after the
    // wait finds nothing and does nothing.
    static MonitorClient::StatusCallback statusCallback(const std::shared_ptr<InitializationCallback>& callback);

    // False on time-out.
    bool waitUntil(std::chrono::steady_clock::time_point deadline);

private:
    void complete();

    Parameters parameters_;
    std::promise<void> promise_;
    std::future<void> future_;
    std::atomic<bool> completed_{false};
};

} // namespace Diagnostics::Private
