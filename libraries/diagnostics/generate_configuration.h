#pragma once

#include "monitor_client/vesk_configuration.h"
#include "parameters.h"

#include <string>
#include <vector>

namespace Diagnostics::Private {

// The library's whole configuration for the host, with the override file
// applied. Never calls the library; throws nothing of its own.
VESK::Configuration generateConfiguration(const Parameters& parameters);

// The same with the temporary folder given (where the system writes dxdiag.txt).
VESK::Configuration generateConfiguration(const Parameters& parameters, const std::wstring& tempFolder);

// The seven events. Whether a report may carry anything before the user agreed
// to upload it depends on the server address and the consent settings of the
// configuration given.
std::vector<VESK::EventConfig> generateEvents(const VESK::Configuration& configuration, const Parameters& parameters);

} // namespace Diagnostics::Private
