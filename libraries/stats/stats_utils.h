#pragma once

#include <string>

namespace Stats {

// The installation identifier shared with the launcher through
// "<common application data>\Tervane\Arvenna\data\tvx_id.dat": read from the
// file, else adopted from the predecessor launcher's registry value, else
// generated; written back to the file. "unknown" when none can be had.
// Computed once per process; never throws.
const std::string& installationId();

} // namespace Stats
