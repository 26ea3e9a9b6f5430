#pragma once

#include "ombrix_interfaces.h"
#include "system/win32/unique_resource.h"

#include <wrl/client.h>

#include <filesystem>
#include <string>
#include <vector>

namespace TestSupport {

// launcher-sim.exe serving its plug-in system (and its events sink under
// `eventsItem`, when given) until finish(); the test plays the host's side.
class LauncherSimulator {
public:
    explicit LauncherSimulator(std::filesystem::path transcript) : transcript_(std::move(transcript)) {}
    ~LauncherSimulator();

    // Starts the simulator with extra options and waits until its object is in the
    // Running Object Table; false if it never came.
    bool start(const std::wstring& options, const std::wstring& eventsItem = L"");
    // Releases the proxies, lets the simulator end, and returns its exit code.
    unsigned long finish();

    Microsoft::WRL::ComPtr<IPluginSystem> system;
    Microsoft::WRL::ComPtr<IUpdatePluginEvents> events;
    HRESULT lastLookup = E_FAIL;

    std::vector<std::string> transcriptLines() const;

private:
    std::filesystem::path transcript_;
    System::Win32::UniqueHandle release_;
    System::Win32::UniqueHandle process_;
};

} // namespace TestSupport
