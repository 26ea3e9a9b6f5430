#pragma once

#include "monitor_client/vesk_configuration.h"
#include "parameters.h"

namespace Diagnostics::Private {

// The override file's name in the base directory.
inline constexpr wchar_t kCustomConfigFileName[] = L"custom_config.xml";

// Lets "custom_config.xml" in the base directory redirect reports: server,
// reports folder, cleanup policy, and what a manual report carries. A missing
// file changes nothing; a broken one, or one beyond the size or nesting limit
// of custom_config_limits.h, is reported to the log sink and changes nothing
// either. Nothing escapes.
void applyCustomConfig(VESK::Configuration& configuration, const Parameters& parameters);

} // namespace Diagnostics::Private
