#pragma once

#include "log/log.h"

#include <cstdint>
#include <exception>
#include <source_location>
#include <string_view>

namespace PluginBoundary {

// One line of an object that serves one plug-in, attributed to `where` (the
// operation the plug-in called) rather than to the helper that writes it.
template <typename... Args>
void logAt(const std::source_location& where, int level, std::uint32_t pluginId, std::wstring_view message,
           Args... args) noexcept
{
    try {
        logPrintf(level,
                  Log::composeEnvelope(where.file_name(), where.function_name(), where.line(),
                                       withPluginId(pluginId, message))
                      .c_str(),
                  args...);
    } catch (...) {
        // No memory to compose the line: it is dropped, the operation goes on.
    }
}

// Logs, at error level and with the plug-in id, what the exception was.
void logFailure(std::uint32_t pluginId, std::exception_ptr failure, const std::source_location& where) noexcept;

// Every operation a plug-in calls ends in `catch (...) { return failed(...); }`.
// The plug-in is built by others, with other compilers and runtimes, and cannot
// catch our exceptions: none may cross. Called inside a catch block, this logs
// the exception being handled and answers the operation's neutral result.
template <typename Result>
Result failed(std::uint32_t pluginId, Result failure,
              const std::source_location& where = std::source_location::current()) noexcept
{
    logFailure(pluginId, std::current_exception(), where);
    return failure;
}

inline void failed(std::uint32_t pluginId, const std::source_location& where = std::source_location::current()) noexcept
{
    logFailure(pluginId, std::current_exception(), where);
}

} // namespace PluginBoundary
