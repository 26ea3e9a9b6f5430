#pragma once

#include <optional>
#include <string>

namespace LauncherSim {

// What the simulator itself holds, for sessions that check it does not leak
// while it serves host after host.
struct ProcessResources {
    unsigned long handles = 0;
    unsigned long long privateBytes = 0;
};

// None when the system cannot say.
std::optional<ProcessResources> ownResources();

// "resources: handles N, private bytes M", the transcript line tests read.
std::wstring resourcesLine(const ProcessResources& resources);

} // namespace LauncherSim
