// Long runs of whole plug-in sessions (see session_runner.h), apart from the
// everyday tests: CTest label "soak", run by ./dev.sh soak.
#include "session_runner.h"

#include "system/win32/environment.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <thread>

namespace {

using namespace PluginSessions;

constexpr int kSessions = 100;
// The first sessions fill what COM and the runtime keep for later (the RPC
// threads and their handles, the proxy manager's caches, the heap itself).
constexpr int kWarmUp = 10;
// What may still come and go after the warm-up without being a leak: a few
// RPC worker threads of the pool, more of them on a busy machine (a thread and
// its event handles each), and heap the allocator keeps in reserve. A leak of
// one handle or of 24 KiB per session exceeds them by far over ninety sessions.
constexpr unsigned long kHandleSlack = 16;
constexpr unsigned long long kPrivateBytesSlack = 2 * 1024 * 1024;
// Wine 8.0's ole32 keeps a pipe and two events for every host whose last proxy
// is released after the host ended, and here that is every host: it stops
// serving calls once deinitialize has returned, before the launcher can let go
// of it. Measured: the simulator stays flat when it releases its proxies while
// the host still serves, and grows by exactly these three per host otherwise.
constexpr unsigned long kWineHandlesPerEndedHost = 3;

struct Resources {
    unsigned long handles = 0;
    unsigned long long privateBytes = 0;
};

// The simulator's "resources: handles N, private bytes M" lines, in order.
std::vector<Resources> resourceLines(const std::vector<std::string>& transcript)
{
    std::vector<Resources> found;
    for (const std::string& line : transcript) {
        Resources resources;
        if (std::sscanf(line.c_str(), "resources: handles %lu, private bytes %llu", &resources.handles,
                        &resources.privateBytes) == 2)
            found.push_back(resources);
    }
    return found;
}

class PluginSoak : public testing::Test, protected SessionRunner {};

// One simulator through a hundred sessions of a small plug-in, one host after
// the other: what it holds after the last is what it held after the warm-up.
TEST_F(PluginSoak, HundredSessionsLeaveTheSimulatorsHandlesAndMemoryFlat)
{
    std::vector<std::wstring> steps;
    for (int session = 1; session <= kSessions; ++session) {
        if (session > 1)
            steps.push_back(kRunHost);
        steps.insert(steps.end(), {L"await-plugin", L"call start => S_OK", L"await-finish",
                                   L"call deinitialize => S_OK", L"expect-exit 0"});
        if (session == kWarmUp || session == kSessions)
            steps.push_back(L"resources");
    }
    ASSERT_EQ(runSession({.name = "soak", .plugin = L"good", .steps = steps, .logged = {}}), 0u) << dump(40);

    const std::vector<Resources> measured = resourceLines(TestSupport::readTextLines(transcript_));
    ASSERT_EQ(measured.size(), 2u) << dump(40);
    const Resources& warm = measured[0];
    const Resources& end = measured[1];
    std::cout << "simulator after session " << kWarmUp << ": " << warm.handles << " handles, " << warm.privateBytes
              << " private bytes; after session " << kSessions << ": " << end.handles << " handles, "
              << end.privateBytes << " private bytes\n";
    const unsigned long wineKeeps = System::Env::isWine() ? kWineHandlesPerEndedHost * (kSessions - kWarmUp) : 0;
    EXPECT_LE(end.handles, warm.handles + wineKeeps + kHandleSlack);
    EXPECT_LE(end.privateBytes, warm.privateBytes + kPrivateBytesSlack);
}

// Fifty sessions while two threads keep both cores busy: the host ends right
// after the launcher's deinitialize returned to it, and the reply must still
// reach the launcher every time, however late the host's threads get to run.
TEST_F(PluginSoak, EveryDeinitializeIsAnsweredOnABusyMachine)
{
    constexpr int kBusySessions = 50;
    std::vector<std::wstring> steps;
    for (int session = 1; session <= kBusySessions; ++session) {
        if (session > 1)
            steps.push_back(kRunHost);
        steps.insert(steps.end(), {L"await-plugin", L"call deinitialize => S_OK", L"expect-exit 0"});
    }
    std::atomic<bool> done{false};
    std::vector<std::thread> load;
    for (int core = 0; core < 2; ++core)
        load.emplace_back([&done] {
            while (!done.load(std::memory_order_relaxed)) {
            }
        });
    const unsigned long simulator = runSession({.name = "busy", .plugin = L"good", .steps = steps, .logged = {}});
    done = true;
    for (std::thread& thread : load)
        thread.join();
    EXPECT_EQ(simulator, 0u) << dump(20);
}

} // namespace
