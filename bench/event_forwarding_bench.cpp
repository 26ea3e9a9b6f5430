// Event forwarding: a plug-in thread's onProgress through the host's
// PluginEventsCallback to the launcher's sink in launcher-sim, against the bare
// per-call pattern the callback has to follow (join a single-threaded
// apartment, fetch the proxy from the Global Interface Table, call, release,
// leave), written out here.
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
#include <stdexcept>
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

int wmain(int argc, wchar_t** argv)
{
    return Bench::runBenchmark(argc, argv, [] {
        const ComScope apartment;
        const TestSupport::TempDir dir;
        TestSupport::LauncherSimulator sim(dir / L"transcript.txt");
        if (!sim.start(L"", L"ombrix-bench-events"))
            throw std::runtime_error("the simulator's sink never came");
        PluginEventsCallback ours;
        ours.init(sim.events, 1, ::GetCurrentThreadId());
        BarePattern bare(sim.events.Get());

        const auto viaOurs = [&](int v) { ours.onProgress(v); };
        const auto viaBare = [&](int v) { bare.onProgress(v); };
        std::vector<Bench::Figure> figures{
            Bench::measure({"event forwarding, one plug-in thread", "us/call", false, 1.1}, kRounds,
                           [&] { return timeReports(1, viaOurs) * 1e6 / kCallsPerThread; },
                           [&] { return timeReports(1, viaBare) * 1e6 / kCallsPerThread; }),
            Bench::measure({"event forwarding, 16 plug-in threads", "events/s", true, 0.9}, kRounds,
                           [&] { return kThreads * kCallsPerThread / timeReports(kThreads, viaOurs); },
                           [&] { return kThreads * kCallsPerThread / timeReports(kThreads, viaBare); }),
        };
        sim.finish();
        return figures;
    });
}
