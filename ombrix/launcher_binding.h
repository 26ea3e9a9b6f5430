#pragma once

#include <cstdint>

namespace LauncherBinding {

// Plug-in mode: finds the launcher, creates the host's object for this plug-in,
// initialises it (which loads the plug-in) and hands it over. False when any
// step failed; the reason is in the log.
bool initializePlugin(std::uint32_t pluginId);

// Admin host mode: hands the launcher the admin host object. False on failure.
bool registerAdminHost();

} // namespace LauncherBinding
