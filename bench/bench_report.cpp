#include "bench_report.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

namespace Bench {

namespace {

std::string number(double value)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%.3f", value);
    return text;
}

} // namespace

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double ratio(const Figure& figure)
{
    return figure.baseline == 0 ? 0 : figure.ours / figure.baseline;
}

bool meetsGoal(const Figure& figure)
{
    return figure.higherIsBetter ? ratio(figure) >= figure.goal : ratio(figure) <= figure.goal;
}

std::string markdownTable(const std::vector<Figure>& figures)
{
    std::string table = "| figure | ours | baseline | ratio | goal | met |\n|---|---|---|---|---|---|\n";
    for (const Figure& f : figures)
        table += "| " + f.name + " | " + number(f.ours) + " " + f.unit + " | " + number(f.baseline) + " " + f.unit +
                 " | " + number(ratio(f)) + " | " + (f.higherIsBetter ? ">= " : "<= ") + number(f.goal) + " | " +
                 (meetsGoal(f) ? "yes" : "no") + " |\n";
    return table;
}

void writeResults(const std::vector<Figure>& figures, const std::filesystem::path& folder)
{
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "results.md") << markdownTable(figures);
    std::string json = "[\n";
    for (std::size_t i = 0; i < figures.size(); ++i) {
        const Figure& f = figures[i];
        json += "  {\"figure\": \"" + f.name + "\", \"unit\": \"" + f.unit + "\", \"ours\": " + number(f.ours) +
                ", \"baseline\": " + number(f.baseline) + ", \"ratio\": " + number(ratio(f)) + ", \"goal\": " +
                number(f.goal) + ", \"higher_is_better\": " + (f.higherIsBetter ? "true" : "false") +
                ", \"met\": " + (meetsGoal(f) ? "true" : "false") + "}" + (i + 1 < figures.size() ? "," : "") + "\n";
    }
    std::ofstream(folder / "results.json") << json << "]\n";
}

} // namespace Bench
