#pragma once

#include "monitor_client/vesk_configuration.h"

#include <functional>
#include <string>

namespace Diagnostics {

// Sent with every report; the words are what the server sees.
enum class FailureSeverity : int { Critical = 0, Major = 1, Minor = 2 };

// Receives crash reporting's own messages at the host's log levels.
using LogSink = std::function<void(int level, const std::wstring& text)>;

// What the host tells crash reporting about itself at start-up.
struct Parameters {
    std::wstring applicationPath;
    std::wstring libraryDirectory; // empty: the executable's own folder
    std::wstring appVersion;
    std::wstring baseDirectory;
    std::wstring installationId;
    LogSink logSink;
    int processingMode = 1;
    bool restartOnFatal = false;
    FailureSeverity processFailureSeverity = FailureSeverity::Major;
    VESK::AbnormalTerminationHandling abnormalTerminationHandling;
};

} // namespace Diagnostics
