#pragma once

#include "call_site.h"
#include "log_level.h"

#include <source_location>
#include <string>

// The path of the process's log file. Must be set before the first line is
// logged: the first call of logPrintf decides, once, whether there is a file log.
void setLogPath(std::wstring path);

// Formats by printf rules with Microsoft semantics (%s takes a wide string) and
// appends the result as one line to the process's log file. Any thread.
void logPrintf(int level, const wchar_t* format, ...);

// The call-site form every log line of the host uses: the envelope with file,
// function and line is composed here and becomes the printf format.
#define HOST_LOG(level, message, ...)                                                                   \
    ::logPrintf((level),                                                                                \
                ::Log::composeEnvelope(std::source_location::current().file_name(),                     \
                                       std::source_location::current().function_name(),                 \
                                       std::source_location::current().line(), (message))               \
                    .c_str() __VA_OPT__(, ) __VA_ARGS__)
