// Event forwarding: a plug-in thread's onProgress through the host's
// PluginEventsCallback to the launcher's sink in launcher-sim, against the bare
// per-call pattern the callback has to follow (join a single-threaded
// apartment, fetch the proxy from the Global Interface Table, call, release,
// leave), written out here. Rounds alternate; each figure is the median.
#include "bench_report.h"
#include "plugin_events_callback.h"
#include "support/com_apartment.h"
#include "support/launcher_simulator.h"
#include "support/test_support.h"
#include "system/win32/com_scope.h"

#include <objbase.h>
#include <wrl/client.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Microsoft::WRL::ComPtr;

constexpr int kRounds = 7;
constexpr int kCallsPerThread = 100;
constexpr int kThreads = 16;

// The pattern every forwarded report follows, without the host's code around it.
class BarePattern {
public:
    explicit BarePattern(IUpdatePluginEvents* sink)
    {
        ::CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&table_));
        table_->RegisterInterfaceInGlobal(sink, __uuidof(IUpdatePluginEvents), &cookie_);
    }
    ~BarePattern() { table_->RevokeInterfaceFromGlobal(cookie_); }

    void onProgress(long value)
    {
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        IUpdatePluginEvents* sink = nullptr;
        if (SUCCEEDED(table_->GetInterfaceFromGlobal(cookie_, __uuidof(IUpdatePluginEvents),
                                                     reinterpret_cast<void**>(&sink)))) {
            sink->onProgress(1, value);
            sink->Release();
        }
        ::CoUninitialize();
    }

private:
    ComPtr<IGlobalInterfaceTable> table_;
    DWORD cookie_ = 0;
};

// Seconds for `threads` threads making kCallsPerThread reports each. The main
// apartment is served meanwhile: leaving a thread's apartment calls into it.
template <typename Report>
double timeReports(int threads, Report report)
{
    std::atomic<int> done{0};
    std::vector<std::thread> workers;
    const auto start = Clock::now();
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&] {
            for (int i = 0; i < kCallsPerThread; ++i)
                report(i % 101);
            ++done;
        });
    TestSupport::pumpUntil([&] { return done == threads; }, 600000);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    for (std::thread& worker : workers)
        worker.join();
    return seconds;
}

} // namespace

int main(int argc, char** argv)
{
    const ComScope apartment;
    const TestSupport::TempDir dir;
    TestSupport::LauncherSimulator sim(dir / L"transcript.txt");
    if (!sim.start(L"", L"ombrix-bench-events")) {
        std::cerr << "event forwarding: the simulator's sink never came\n";
        return 1;
    }
    PluginEventsCallback ours;
    ours.init(sim.events, 1, ::GetCurrentThreadId());
    BarePattern bare(sim.events.Get());

    const auto viaOurs = [&](int v) { ours.onProgress(v); };
    const auto viaBare = [&](int v) { bare.onProgress(v); };
    // A first round warms both paths (proxies, the simulator's transcript) and is not counted.
    timeReports(1, viaOurs);
    timeReports(1, viaBare);
    std::vector<double> oursSingle, bareSingle, oursMany, bareMany;
    for (int round = 0; round < kRounds; ++round) {
        // Who goes first alternates, so neither side always follows the other's burst.
        const bool oursFirst = round % 2 == 0;
        for (const bool runOurs : {oursFirst, !oursFirst}) {
            const double single = timeReports(1, [&](int v) { runOurs ? viaOurs(v) : viaBare(v); });
            (runOurs ? oursSingle : bareSingle).push_back(single * 1e6 / kCallsPerThread);
        }
        for (const bool runOurs : {oursFirst, !oursFirst}) {
            const double many = timeReports(kThreads, [&](int v) { runOurs ? viaOurs(v) : viaBare(v); });
            (runOurs ? oursMany : bareMany).push_back(kThreads * kCallsPerThread / many);
        }
    }
    sim.finish();

    const std::vector<Bench::Figure> figures{
        {"event forwarding, one plug-in thread", "us/call", Bench::median(oursSingle), Bench::median(bareSingle),
         false, 1.1},
        {"event forwarding, 16 plug-in threads", "events/s", Bench::median(oursMany), Bench::median(bareMany), true,
         0.9},
    };
    std::cout << Bench::markdownTable(figures);
    if (argc > 1)
        Bench::writeResults(figures, argv[1]);
    return 0;
}
