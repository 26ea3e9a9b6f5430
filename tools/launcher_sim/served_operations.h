#pragma once

#include <wtypes.h>

#include <optional>
#include <string>
#include <string_view>

namespace LauncherSim {

// Which call of the launcher's objects a `nest` or `hang` step waits for: an
// operation the simulator serves (any of IPluginSystem or IUpdatePluginEvents,
// by its name: writeLog, onProgress, ...), and for writeLog and onStatusInfo
// optionally the exact text the call carries.
struct ServedCallFilter {
    std::wstring operation;
    std::optional<std::wstring> text;

    bool matches(std::wstring_view served, BSTR servedText) const;
};

// From "OPERATION" or "OPERATION:TEXT"; none when no served operation has that
// name, or a text is given for an operation that carries none.
std::optional<ServedCallFilter> parseServedCallFilter(const std::wstring& word);

} // namespace LauncherSim
