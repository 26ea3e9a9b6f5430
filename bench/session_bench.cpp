// A whole session of the sample plug-in through launcher-sim, as a plug-in
// author runs it: start, bind, the text operations, start, reports and the
// dialog until onFinish, deinitialize, exit. Reported as the session's time and
// as the share of it the launcher spent waiting on the host: the host's start
// up to registerPlugin, every call into it, and its end after deinitialize.
// The rest is the plug-in's own work (its worker paces its reports).
#include "bench_report.h"
#include "sim_session.h"
#include "support/test_support.h"

#include <stdexcept>

namespace {

constexpr int kRounds = 5;

struct SessionTimes {
    double session = 0;
    double inHost = 0;
};

// Each call step's line, "step: call OP ...", is followed by the call's own
// result line "IUpdatePlugin::OP(...)" once the host answered.
SessionTimes sessionTimes(const std::vector<Bench::StampedLine>& lines)
{
    const std::optional<double> started = Bench::firstStamp(lines, "started ");
    const std::optional<double> registered = Bench::firstStamp(lines, "IPluginSystem::registerPlugin");
    const std::optional<double> exiting = Bench::firstStamp(lines, "step: expect-exit");
    const std::optional<double> exited = Bench::firstStamp(lines, "host exited with 0");
    if (!started || !registered || !exiting || !exited)
        throw std::runtime_error("the session's transcript misses its start, registration or exit");
    SessionTimes times{*exited - *started, (*registered - *started) + (*exited - *exiting)};
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].text.rfind("step: call ", 0) != 0)
            continue;
        const std::string operation = lines[i].text.substr(11, lines[i].text.find(' ', 11) - 11);
        if (const std::optional<double> answered = Bench::firstStamp(lines, "IUpdatePlugin::" + operation + "(", i))
            times.inHost += *answered - lines[i].ms;
    }
    return times;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    return Bench::runBenchmark(argc, argv, [] {
        // A folder without blanks: the log path goes unquoted inside the step.
        const TestSupport::TempDir dir;
        const std::wstring log = (dir / L"host.log").wstring();
        const std::wstring bin = Bench::ownProgram().parent_path().wstring();
        std::vector<double> sessions, inHost;
        for (int round = 0; round < kRounds + 1; ++round) {
            const SessionTimes times = sessionTimes(Bench::runStampedSession(
                L"--work-dir=\"" + bin + L"\" --plugin-path=sample_plugin.dll --step=\"publish first\" "
                L"--step=\"run-host --plugin-id=1 --logpath=" + log + L"\" --step=await-plugin "
                L"--step=\"call name => S_OK\" --step=\"call description => S_OK\" "
                L"--step=\"call versionString => S_OK\" --step=\"call start => S_OK\" --step=await-finish "
                L"--step=\"call deinitialize => S_OK\" --step=\"expect-exit 0\""));
            // The first round warms the file cache and the simulator's first start.
            if (round == 0)
                continue;
            sessions.push_back(times.session);
            inHost.push_back(times.inHost);
        }
        return std::vector<Bench::Figure>{Bench::reported("sample-plug-in session: time in the host (ours) of the whole (baseline)", "ms",
                                                          Bench::median(inHost), Bench::median(sessions))};
    });
}
