#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace Bench {

// One figure: what ours took against its baseline, measured in the same run.
struct Figure {
    std::string name;
    std::string unit;     // of `ours` and `baseline`
    double ours = 0;
    double baseline = 0;
    bool higherIsBetter;  // events per second: higher; microseconds per call: lower
    double goal;          // the ratio ours/baseline must stay at most (or, when higher is better, at least) this
};

double median(std::vector<double> values);
double ratio(const Figure& figure);
bool meetsGoal(const Figure& figure);

// The table as Markdown, and the same as JSON, into `folder` (results.md, results.json).
void writeResults(const std::vector<Figure>& figures, const std::filesystem::path& folder);
std::string markdownTable(const std::vector<Figure>& figures);

} // namespace Bench
