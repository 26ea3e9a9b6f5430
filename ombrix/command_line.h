#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The host's options, held with their leading dashes: the same strings name the
// parser's table and compose the command lines of the hosts this process starts.
namespace CommandLineSwitch {
inline constexpr char pluginId[] = "--plugin-id";
inline constexpr char adminHost[] = "--adminhost";
inline constexpr char regServer[] = "--regserver";
inline constexpr char unregServer[] = "--unregserver";
inline constexpr char logPath[] = "--logpath";
inline constexpr char disableBlackList[] = "--disable-black-list";
} // namespace CommandLineSwitch

struct CommandLineOptions {
    std::optional<std::uint32_t> pluginId;
    bool adminHost = false;
    bool regServer = false;
    bool unregServer = false;
    bool disableBlackList = false;
    std::wstring logPath;
};

// `value` in double quotes, escaped so that splitCommandLine reads back exactly
// `value`: also with quotes inside and backslashes at its end.
std::wstring quoteArgument(std::wstring_view value);

// Splits by the Windows rules for program arguments (blanks separate, double
// quotes group, backslashes escape a following quote).
std::vector<std::wstring> splitCommandLine(const std::wstring& commandLine);

// Parses the arguments after the program path. On failure writes the parser's
// text to standard output and throws std::runtime_error
// "failed to parse ombrix command line".
CommandLineOptions parseCommandLine(const std::vector<std::wstring>& arguments);

// The arguments the admin host gives a plug-in host it starts.
std::wstring composePluginHostCommandLine(std::uint32_t pluginId, const std::wstring& logPath,
                                          bool disableBlackList);
