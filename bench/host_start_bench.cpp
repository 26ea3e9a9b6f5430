// Host start: from starting `ombrix.exe --plugin-id` to the launcher's
// registerPlugin, against bare_host.exe, which starts, joins an apartment,
// looks the launcher up and makes one call. launcher-sim starts both and
// stamps its transcript; the figures come from the stamps. The host runs from
// a copy of its folder, once with the crash-reporting stand-in in the parent
// folder (where the host looks for the library) and once without. Two more
// figures put a custom_config.xml beyond the reader's limits into that parent
// folder (the host's base directory), a 200 MB one and one nested 10,000 deep,
// each against the same start without the file.
#include "bench_report.h"
#include "sim_session.h"
#include "support/monitor_client_standin.h"
#include "support/test_support.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace {

constexpr int kRounds = 15;

// Milliseconds from the host's start to the launcher receiving `call`.
double startToCall(const std::filesystem::path& host, const std::wstring& ending, const char* call)
{
    const std::filesystem::path bin = Bench::ownProgram().parent_path();
    const std::vector<Bench::StampedLine> lines = Bench::runStampedSession(
        L"--host=\"" + host.wstring() + L"\" --work-dir=\"" + bin.wstring() +
        L"\" --plugin-path=test_plugin_good.dll --step=\"publish first\" --step=\"run-host --plugin-id=1\" " + ending);
    const std::optional<double> started = Bench::firstStamp(lines, "started ");
    const std::optional<double> called = started ? Bench::firstStamp(lines, call) : std::nullopt;
    if (!called)
        throw std::runtime_error(std::string("the transcript has no ") + call);
    return *called - *started;
}

// A folder of the host's shape: bin\ with the host and its proxy/stub DLL, and
// the crash-reporting library beside bin\ when asked for.
std::filesystem::path hostLayout(const std::filesystem::path& root, bool withLibrary)
{
    const std::filesystem::path bin = Bench::ownProgram().parent_path();
    std::filesystem::create_directories(root / L"bin");
    for (const wchar_t* file : {L"ombrix.exe", L"ombrixPS.dll"})
        std::filesystem::copy_file(bin / file, root / L"bin" / file);
    if (withLibrary)
        std::filesystem::copy_file(TestSupport::standinDirectory() / L"monitor_client_impl.dll",
                                   root / L"monitor_client_impl.dll");
    return root / L"bin" / L"ombrix.exe";
}

// A 200 MB custom_config.xml, sparse where the file system allows: the reader
// refuses it by its size.
void writeHugeCustomConfig(const std::filesystem::path& file)
{
    std::ofstream(file, std::ios::binary) << "<cereal>";
    std::filesystem::resize_file(file, 200ull * 1024 * 1024);
}

// 10,000 elements one inside the other (70 KB): the reader refuses it by its nesting.
void writeDeepCustomConfig(const std::filesystem::path& file)
{
    std::string text;
    for (int i = 0; i < 10'000; ++i)
        text += "<a>";
    for (int i = 0; i < 10'000; ++i)
        text += "</a>";
    std::ofstream(file, std::ios::binary) << text;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    return Bench::runBenchmark(argc, argv, [] {
        const TestSupport::TempDir dir;
        const std::filesystem::path bare = Bench::ownProgram().parent_path() / L"bare_host.exe";
        const auto bareStart = [&] { return startToCall(bare, L"--step=\"expect-exit 0\"", "IPluginSystem::getPluginPath"); };
        const auto hostStart = [](const std::filesystem::path& host) {
            return [host] {
                return startToCall(host, L"--step=await-plugin --step=\"call deinitialize => S_OK\" --step=\"expect-exit 0\"",
                                   "IPluginSystem::registerPlugin");
            };
        };
        std::vector<Bench::Figure> figures;
        for (const bool withLibrary : {true, false}) {
            const std::filesystem::path host = hostLayout(dir / (withLibrary ? L"with" : L"without"), withLibrary);
            figures.push_back(Bench::measure(
                {withLibrary ? "host start, with crash reporting" : "host start, without crash reporting", "ms",
                 false, 1.5},
                kRounds, hostStart(host), bareStart));
        }
        // The product's layout, with crash reporting; the baseline is the same start without the file.
        const std::filesystem::path plain = dir / L"with" / L"bin" / L"ombrix.exe";
        const struct {
            const char* name;
            const wchar_t* folder;
            void (*write)(const std::filesystem::path&);
        } files[] = {{"host start, 200 MB custom_config.xml", L"huge", &writeHugeCustomConfig},
                     {"host start, 10,000-deep custom_config.xml", L"deep", &writeDeepCustomConfig}};
        for (const auto& file : files) {
            const std::filesystem::path host = hostLayout(dir / file.folder, true);
            file.write(dir / file.folder / L"custom_config.xml");
            figures.push_back(
                Bench::measure({file.name, "ms", false, 1.2}, kRounds, hostStart(host), hostStart(plain)));
        }
        return figures;
    });
}
