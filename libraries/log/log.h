#pragma once

#include "call_site.h"
#include "log_level.h"

#include <source_location>
#include <string>
#include <string_view>

// The path of the process's log file. Must be set before the first line is
// logged: the first call of logPrintf decides, once, whether there is a file log.
void setLogPath(std::wstring path) noexcept;

// Formats by printf rules with Microsoft semantics (%s takes a wide string) and
// appends the result as one line to the process's log file. Any thread. Never
// throws: a line that cannot be written is dropped.
void logPrintf(int level, const wchar_t* format, ...) noexcept;

namespace Log {

// The body of HOST_LOG: the envelope of the call site becomes the printf format
// of the values that follow. Never throws.
void logAtCallSite(const std::source_location& site, std::wstring_view message, int level, ...) noexcept;

} // namespace Log

// The call-site form every log line of the host uses; being a macro, it captures
// the call site.
#define HOST_LOG(level, message, ...)                                                                   \
    ::Log::logAtCallSite(std::source_location::current(), (message), (level) __VA_OPT__(, ) __VA_ARGS__)
