#pragma once

#include <wtypes.h>

#include <map>
#include <optional>
#include <string>

namespace LauncherSim {

// What the simulated launcher answers: configured values, and a failure per
// operation name ("getPluginPath") that replaces the answer.
struct SimConfig {
    std::optional<std::wstring> language = L"en";
    std::optional<std::wstring> pluginPath;
    std::optional<std::wstring> workDir;
    std::optional<std::wstring> installationId = L"SIMULATEDINSTALLATIONID00000000000000000";
    long long mainWindow = 0x10010;
    // When set, each accepted showDialogEx is answered later with this event id
    // through the registered plug-in's IPluginSystemEvents::onDialogFinish.
    std::optional<long> dialogEvent;
    std::map<std::wstring, HRESULT> failures;

    HRESULT resultOf(const std::wstring& operation) const
    {
        const auto failure = failures.find(operation);
        return failure == failures.end() ? S_OK : failure->second;
    }
};

} // namespace LauncherSim
