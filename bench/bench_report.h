#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace Bench {

// One figure: what ours took against its baseline, measured in the same run.
struct Figure {
    std::string name;
    std::string unit;     // of `ours` and `baseline`
    bool higherIsBetter;  // lines per second: higher; microseconds per call: lower
    double goal;          // the ratio ours/baseline must stay at most (or, when higher is better, at least) this
    double ours = 0;      // the median of the rounds
    double baseline = 0;
    // The median of the rounds' own ratios ours/baseline: the two sides of a
    // round ran moments apart, under the same load from whatever else runs.
    double ratio = 0;
};

double median(std::vector<double> values);
// A figure without a goal (goal 0) is reported only, and counts as met.
bool hasGoal(const Figure& figure);
bool meetsGoal(const Figure& figure);

// A figure reported as `part` of `whole` (both in `unit`), its ratio the share.
Figure reported(std::string name, std::string unit, double part, double whole);

// Fills in `figure`'s values. These machines are shared and noisy, so nothing
// is timed alone: after one warm-up of each side (not counted), each of
// `rounds` rounds measures both, taking turns at going first so that neither
// always follows the other's burst. The rounds' values go to standard error,
// to judge the noise by.
Figure measure(Figure figure, int rounds, const std::function<double()>& ours,
               const std::function<double()>& baseline);

// The body of a benchmark program: measures, prints the table, and with a
// folder as the first argument leaves the figures there in
// <program>.figures for bench_results. An exception ends it with exit code 1
// and no fragment.
int runBenchmark(int argc, wchar_t** argv, const std::function<std::vector<Figure>()>& measureFigures);

// The running program, for benchmarks that start copies of themselves.
std::filesystem::path ownProgram();

// A fragment: one line per figure, tab-separated name, unit, ours, baseline,
// ratio, "higher" or "lower" (is better), goal.
std::string fragmentText(const std::vector<Figure>& figures);
// Throws std::runtime_error on a line that is not one of fragmentText's.
std::vector<Figure> parseFragment(const std::string& text);

// The table (figure, ours, baseline, ratio, goal, met) as Markdown and as JSON;
// programs that left no fragment are listed after it.
std::string markdownTable(const std::vector<Figure>& figures, const std::vector<std::string>& missing = {});
std::string jsonResults(const std::vector<Figure>& figures, const std::vector<std::string>& missing = {});

} // namespace Bench
