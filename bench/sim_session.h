#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace Bench {

// One line of a transcript that launcher-sim stamped (--timestamps).
struct StampedLine {
    double ms = 0; // since the simulator began
    std::string text;
};

// The lines of a stamped transcript; unstamped lines are left out.
std::vector<StampedLine> parseStampedTranscript(const std::string& text);

// The stamp of the first line at or after `from` that starts with `prefix`.
std::optional<double> firstStamp(const std::vector<StampedLine>& lines, const std::string& prefix,
                                 std::size_t from = 0);

// Runs launcher-sim.exe (beside this program) with `options` and a stamped
// transcript, and returns the transcript's lines. Throws std::runtime_error
// when the simulator fails, with its transcript's end in the text.
std::vector<StampedLine> runStampedSession(const std::wstring& options);

} // namespace Bench
