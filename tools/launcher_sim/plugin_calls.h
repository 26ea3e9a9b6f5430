#pragma once

#include "launcher_interfaces.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace LauncherSim {

struct CallOutcome {
    HRESULT result;
    std::optional<std::wstring> text; // what a text operation returned
};

// What the launcher hands a plug-in besides the words: its events sink (start)
// and its own published plug-in system (initialize); either may be null.
struct LauncherObjects {
    IUpdatePluginEvents* sink;
    IPluginSystem* system;
};

// One IUpdatePlugin operation as a session step names it, with its arguments
// as words: strings ("(null)" for none), booleans as numbers (0, 1, -1).
struct PluginOperation {
    const wchar_t* name;
    std::size_t minArguments;
    std::size_t maxArguments;
    CallOutcome (*call)(IUpdatePlugin& plugin, const LauncherObjects& launcher,
                        const std::vector<std::wstring>& arguments);
};

// Null for a name no operation has.
const PluginOperation* findPluginOperation(std::wstring_view name);

// The same for the admin host's IAdminHostProcess: startElevated API ID,
// startElevatedProcess EXE ARGS, deinitAdminHost.
struct AdminOperation {
    const wchar_t* name;
    std::size_t minArguments;
    std::size_t maxArguments;
    CallOutcome (*call)(IAdminHostProcess& adminHost, const std::vector<std::wstring>& arguments);
};

const AdminOperation* findAdminOperation(std::wstring_view name);

// "S_OK", "E_FAIL", ... or a number (0x80004005); false when it is neither.
bool parseResult(std::wstring_view text, HRESULT& result);

} // namespace LauncherSim
