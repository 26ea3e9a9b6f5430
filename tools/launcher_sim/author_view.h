#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace LauncherSim {

// A transcript line as a plug-in author reads it, without interfaces or
// result codes: "plug-in reports progress: 50". Nothing for the session's own
// bookkeeping lines.
std::optional<std::wstring> forAuthors(std::wstring_view line);

} // namespace LauncherSim
