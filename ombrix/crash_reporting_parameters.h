#pragma once

#include "diagnostics/diagnostics.h"

// The start parameters crash reporting gets from the host.
Diagnostics::Parameters crashReportingParameters();
