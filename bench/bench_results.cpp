// The one table of a ./dev.sh bench run, from the fragments its benchmark
// programs left behind:
//   bench_results FOLDER PROGRAM...
// reads FOLDER\PROGRAM.figures in the order given, prints the table and writes
// FOLDER\results.md and results.json. A program without a fragment (it failed,
// or was not run) is named in both, and the exit code is 1.
#include "bench_report.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        std::cerr << "usage: bench_results FOLDER PROGRAM...\n";
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::vector<Bench::Figure> figures;
    std::vector<std::string> missing;
    try {
        for (int i = 2; i < argc; ++i) {
            std::ifstream in(folder / (std::wstring(argv[i]) + L".figures"), std::ios::binary);
            if (!in) {
                missing.push_back(std::filesystem::path(argv[i]).string());
                continue;
            }
            const auto read = Bench::parseFragment(std::string(std::istreambuf_iterator<char>(in), {}));
            figures.insert(figures.end(), read.begin(), read.end());
        }
        const std::string table = Bench::markdownTable(figures, missing);
        std::cout << table;
        std::ofstream(folder / "results.md", std::ios::binary) << table;
        std::ofstream(folder / "results.json", std::ios::binary) << Bench::jsonResults(figures, missing);
    } catch (const std::exception& error) {
        std::cerr << "bench_results: " << error.what() << "\n";
        return 1;
    }
    return missing.empty() ? 0 : 1;
}
