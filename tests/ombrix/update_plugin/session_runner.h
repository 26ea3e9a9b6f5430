#pragma once

// Whole plug-in sessions across real processes: launcher-sim publishes the
// launcher, starts ombrix.exe for one of the test plug-ins (tests/plugins) and
// plays a list of steps against it, in a folder of the session's own that
// holds the host's log, the simulator's transcript and the scenario.
#include "support/test_support.h"

#include <cstddef>
#include <filesystem>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace PluginSessions {

inline constexpr const wchar_t* kFirstItem = L"publish first";
// Stand for the steps that start the host for plug-in id 1, or the admin host,
// with the session's log; {bin} in a step stands for the folder of the programs.
inline constexpr const wchar_t* kRunHost = L"{run-host}";
inline constexpr const wchar_t* kRunAdminHost = L"{run-admin-host}";

struct SessionCase {
    const char* name;
    const wchar_t* plugin; // test_plugin_<plugin>.dll beside the tests, or a DLL's name
    std::vector<std::wstring> steps; // after the launcher was published and the host started
    // Whole host log entries ("LEVEL | FUNCTION | MESSAGE", '*' for any text), in this order.
    std::vector<std::string> logged;
    std::vector<std::string> transcribed = {}; // substrings of simulator transcript lines, in this order
    std::vector<std::string> absent = {}; // substrings no log message may hold
    std::wstring options = L"";
    const wchar_t* publish = kFirstItem;
    std::optional<std::pair<std::string, std::size_t>> counted = std::nullopt; // transcript lines holding it
    const wchar_t* start = kRunHost;
    // For the simulator and the hosts it starts: {{L"TEST_PLUGIN_DIARY", path}}, say.
    TestSupport::EnvironmentAdditions environment = {};
};

// A failed row names itself, not its bytes.
inline void PrintTo(const SessionCase& session, std::ostream* out)
{
    *out << session.name;
}

using TestSupport::missingInOrder;

class SessionRunner {
protected:
    // The simulator's exit code: 0 when every step did what it should.
    unsigned long runSession(const SessionCase& session);
    // The simulator running the session, without waiting for it.
    System::Win32::UniqueHandle startSession(const SessionCase& session);

    // The step that starts a host for `pluginId` with the session's log.
    std::wstring runHostStep(unsigned pluginId) const;

    // The transcript and the host log (at most their last `lastLines` lines
    // each), for the message of a failed expectation.
    std::string dump(std::size_t lastLines = std::numeric_limits<std::size_t>::max()) const;

    TestSupport::TempDir dir_;
    std::filesystem::path log_ = dir_ / L"host.log";
    std::filesystem::path transcript_ = dir_ / L"transcript.txt";
    std::filesystem::path scenario_ = dir_ / L"scenario.txt";
    std::filesystem::path diary_ = dir_ / L"diary.txt"; // what the test plug-in was called for

private:
    std::wstring simulatorArguments(const SessionCase& session);
    std::vector<std::wstring> withHostStart(std::vector<std::wstring> steps) const;
};

} // namespace PluginSessions
