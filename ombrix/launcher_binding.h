#pragma once

#include <cstdint>

// Plug-in mode: finds the launcher, creates the host's object for this plug-in
// and hands it over. False when binding failed.
bool initializePlugin(std::uint32_t pluginId);

// Admin host mode: hands the launcher the admin host object. False on failure.
bool registerAdminHost();
