#include "bench_report.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

namespace Bench {

namespace {

std::string number(double value, const char* format = "%.3f")
{
    char text[32];
    std::snprintf(text, sizeof(text), format, value);
    return text;
}

std::string goalText(const Figure& f)
{
    if (!hasGoal(f))
        return "none (a share)";
    return (f.higherIsBetter ? ">= " : "<= ") + number(f.goal);
}

std::string metText(const Figure& f, const char* yes, const char* no, const char* none)
{
    return !hasGoal(f) ? none : meetsGoal(f) ? yes : no;
}

std::vector<std::string> split(const std::string& line, char separator)
{
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, separator);)
        fields.push_back(field);
    return fields;
}

} // namespace

std::filesystem::path ownProgram()
{
    std::wstring buffer(32768, L'\0');
    buffer.resize(::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size())));
    return buffer;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

bool hasGoal(const Figure& figure)
{
    return figure.goal > 0;
}

Figure reported(std::string name, std::string unit, double part, double whole)
{
    return {std::move(name), std::move(unit), false, 0, part, whole, whole > 0 ? part / whole : 0};
}

bool meetsGoal(const Figure& figure)
{
    if (!hasGoal(figure))
        return true;
    return figure.higherIsBetter ? figure.ratio >= figure.goal : figure.ratio <= figure.goal;
}

Figure measure(Figure figure, int rounds, const std::function<double()>& ours,
               const std::function<double()>& baseline)
{
    ours();
    baseline();
    std::vector<double> oursRounds, baselineRounds, ratios;
    for (int round = 0; round < rounds; ++round) {
        const bool oursFirst = round % 2 == 0;
        for (const bool runOurs : {oursFirst, !oursFirst})
            (runOurs ? oursRounds : baselineRounds).push_back(runOurs ? ours() : baseline());
        ratios.push_back(baselineRounds.back() == 0 ? 0 : oursRounds.back() / baselineRounds.back());
    }
    figure.ours = median(oursRounds);
    figure.baseline = median(baselineRounds);
    figure.ratio = median(ratios);
    std::string line = figure.name + " (" + figure.unit + ")\n  ours:    ";
    for (const double value : oursRounds)
        line += " " + number(value, "%.4g");
    line += "\n  baseline:";
    for (const double value : baselineRounds)
        line += " " + number(value, "%.4g");
    line += "\n  ratio:   ";
    for (const double value : ratios)
        line += " " + number(value, "%.3f");
    std::cerr << line << "\n";
    return figure;
}

int runBenchmark(int argc, wchar_t** argv, const std::function<std::vector<Figure>()>& measureFigures)
{
    try {
        const std::vector<Figure> figures = measureFigures();
        std::cout << markdownTable(figures);
        if (argc > 1) {
            const std::filesystem::path folder = argv[1];
            std::filesystem::create_directories(folder);
            std::ofstream out(folder / ownProgram().stem().concat(L".figures"), std::ios::binary);
            out << fragmentText(figures);
            if (!out)
                throw std::runtime_error("cannot write the figures into " + folder.string());
        }
        return 0;
    } catch (const std::exception& error) {
        std::cerr << ownProgram().stem().string() << ": " << error.what() << "\n";
        return 1;
    }
}

std::string fragmentText(const std::vector<Figure>& figures)
{
    std::string text;
    for (const Figure& f : figures)
        text += f.name + "\t" + f.unit + "\t" + number(f.ours, "%.9g") + "\t" + number(f.baseline, "%.9g") + "\t" +
                number(f.ratio, "%.9g") + "\t" + (f.higherIsBetter ? "higher" : "lower") + "\t" +
                number(f.goal, "%.9g") + "\n";
    return text;
}

std::vector<Figure> parseFragment(const std::string& text)
{
    std::vector<Figure> figures;
    for (std::string line : split(text, '\n')) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        const std::vector<std::string> fields = split(line, '\t');
        if (fields.size() != 7 || (fields[5] != "higher" && fields[5] != "lower"))
            throw std::runtime_error("not a line of figures: " + line);
        try {
            figures.push_back(Figure{fields[0], fields[1], fields[5] == "higher", std::stod(fields[6]),
                                     std::stod(fields[2]), std::stod(fields[3]), std::stod(fields[4])});
        } catch (const std::logic_error&) {
            throw std::runtime_error("not a line of figures: " + line);
        }
    }
    return figures;
}

std::string markdownTable(const std::vector<Figure>& figures, const std::vector<std::string>& missing)
{
    std::string table = "| figure | ours | baseline | ratio | goal | met |\n|---|---|---|---|---|---|\n";
    for (const Figure& f : figures)
        table += "| " + f.name + " | " + number(f.ours) + " " + f.unit + " | " + number(f.baseline) + " " + f.unit +
                 " | " + number(f.ratio) + " | " + goalText(f) + " | " + metText(f, "yes", "no", "-") + " |\n";
    table += "\nours, baseline: medians of the rounds; ratio: the median of the rounds' own ratios.\n";
    for (const std::string& program : missing)
        table += "\nNo figures from " + program + ".\n";
    return table;
}

std::string jsonResults(const std::vector<Figure>& figures, const std::vector<std::string>& missing)
{
    std::string json = "{\n  \"figures\": [\n";
    for (std::size_t i = 0; i < figures.size(); ++i) {
        const Figure& f = figures[i];
        json += "    {\"figure\": \"" + f.name + "\", \"unit\": \"" + f.unit + "\", \"ours\": " + number(f.ours) +
                ", \"baseline\": " + number(f.baseline) + ", \"ratio\": " + number(f.ratio) + ", \"goal\": " +
                (hasGoal(f) ? number(f.goal) : "null") + ", \"higher_is_better\": " +
                (f.higherIsBetter ? "true" : "false") + ", \"met\": " + metText(f, "true", "false", "null") + "}" +
                (i + 1 < figures.size() ? "," : "") + "\n";
    }
    json += "  ],\n  \"missing\": [";
    for (std::size_t i = 0; i < missing.size(); ++i)
        json += (i > 0 ? ", \"" : "\"") + missing[i] + "\"";
    return json + "]\n}\n";
}

} // namespace Bench
