#include "sim_session.h"

#include "bench_report.h"
#include "support/test_support.h"

#include <cstdlib>
#include <sstream>
#include <stdexcept>

namespace Bench {

std::vector<StampedLine> parseStampedTranscript(const std::string& text)
{
    std::vector<StampedLine> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::size_t close = line.find("] ");
        if (line.empty() || line[0] != '[' || close == std::string::npos)
            continue;
        char* end = nullptr;
        const double ms = std::strtod(line.c_str() + 1, &end);
        if (end != line.c_str() + close)
            continue;
        lines.push_back({ms, line.substr(close + 2)});
    }
    return lines;
}

std::optional<double> firstStamp(const std::vector<StampedLine>& lines, const std::string& prefix,
                                 std::size_t from)
{
    for (std::size_t i = from; i < lines.size(); ++i)
        if (lines[i].text.rfind(prefix, 0) == 0)
            return lines[i].ms;
    return std::nullopt;
}

std::vector<StampedLine> runStampedSession(const std::wstring& options)
{
    const TestSupport::TempDir dir;
    const std::filesystem::path transcript = dir / L"transcript.txt";
    const TestSupport::ChildResult result =
        TestSupport::runProgram(ownProgram().parent_path() / L"launcher-sim.exe",
                                L"--timestamps --transcript=\"" + transcript.wstring() + L"\" " + options);
    const std::string text = TestSupport::readFile(transcript);
    if (result.exitCode != 0)
        throw std::runtime_error("launcher-sim failed (exit code " + std::to_string(result.exitCode) +
                                 "), its transcript ends:\n" + text.substr(text.size() > 2000 ? text.size() - 2000 : 0));
    return parseStampedTranscript(text);
}

} // namespace Bench
