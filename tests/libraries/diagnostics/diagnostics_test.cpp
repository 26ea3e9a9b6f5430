// Crash reporting's start-up against the stand-in library: the statuses that
// end the wait, the bounded wait, running without the library, assertions.
#include "diagnostics/diagnostics.h"
#include "diagnostics/event_handlers.h"
#include "support/monitor_client_standin.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>

namespace {

using namespace TestSupport;
using Line = std::pair<int, std::wstring>;
using testing::Contains;
using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::IsEmpty;

class CrashReportingStart : public testing::Test {
protected:
    Diagnostics::Parameters parameters(const std::filesystem::path& libraryDirectory)
    {
        Diagnostics::Parameters parameters;
        parameters.libraryDirectory = libraryDirectory.wstring();
        parameters.baseDirectory = record_.directory().wstring();
        parameters.logSink = [this](int level, const std::wstring& text) {
            const std::lock_guard lock(lock_);
            lines_.emplace_back(level, text);
        };
        return parameters;
    }

    // Start-up's own lines; the library's, marked "[VESK] ", left out.
    std::vector<Line> startupLines()
    {
        const std::lock_guard lock(lock_);
        std::vector<Line> own;
        for (const Line& line : lines_)
            if (line.second.rfind(L"[VESK] ", 0) != 0)
                own.push_back(line);
        return own;
    }

    StandinRecord record_;
    std::mutex lock_;
    std::vector<Line> lines_;
};

const Line kTimeout{1, L"Crash handling initialization timeout"};

struct ScriptCase {
    const char* name;
    const wchar_t* statuses;
    int processingMode;
    const wchar_t* initResult;
    std::vector<Line> lines; // no time-out line: a status ended the wait
    friend void PrintTo(const ScriptCase& c, std::ostream* os) { *os << c.name; }
};

class StatusScript : public CrashReportingStart, public testing::WithParamInterface<ScriptCase> {};

TEST_P(StatusScript, EndsTheWaitAsTheStatusesSay)
{
    const ScopedEnvironment statuses(L"OMBRIX_STANDIN_STATUSES", GetParam().statuses);
    const ScopedEnvironment result(L"OMBRIX_STANDIN_INIT_RESULT", GetParam().initResult);
    Diagnostics::Parameters startParameters = parameters(standinDirectory());
    startParameters.processingMode = GetParam().processingMode;
    std::uint64_t hookId = 0;
    {
        const Diagnostics::ScopeGuard guard = Diagnostics::init(startParameters, hookId);
        EXPECT_NE(hookId, 0u);
    }
    EXPECT_THAT(startupLines(), ElementsAreArray(GetParam().lines));
    const std::wstring script = GetParam().statuses;
    EXPECT_THAT(record_.lines(), Contains("status " + std::string(script.end() - 1, script.end())));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StatusScript,
    testing::Values(
        ScriptCase{"OnlySevenCompletes", L"3,2,7", 1, L"6",
                   {{1, L"VESK monitor initialization failure, callback status: 7"}}},
        ScriptCase{"OneCompletes", L"1", 1, L"6", {{1, L"VESK monitor initialization failure, callback status: 1"}}},
        ScriptCase{"TwoCompletesInMode2", L"2", 2, L"6", {}},
        ScriptCase{"FourCompletes", L"4", 1, L"6", {}},
        // Whether the second arrives before the wait ended or after, it changes nothing.
        ScriptCase{"TwoCompletions", L"7,4", 1, L"6",
                   {{1, L"VESK monitor initialization failure, callback status: 7"}}},
        ScriptCase{"FailedStartIsLogged", L"4", 1, L"3", {{1, L"VESK monitor initialization failure, code: 3"}}}),
    [](const testing::TestParamInfo<ScriptCase>& info) { return info.param.name; });

// The one timed test: start-up waits 2.5 s for a status, and not much longer.
// A status after the wait finds nobody waiting and changes nothing.
TEST_F(CrashReportingStart, WaitsTwoAndAHalfSecondsAtMostAndIgnoresALateStatus)
{
    const std::wstring lateEvent = L"ombrix-standin-late-" + std::to_wstring(::GetCurrentProcessId());
    const ScopedEnvironment statuses(L"OMBRIX_STANDIN_STATUSES", L"none");
    const ScopedEnvironment late(L"OMBRIX_STANDIN_LATE_STATUSES", L"7");
    const ScopedEnvironment event(L"OMBRIX_STANDIN_LATE_EVENT", lateEvent);
    std::uint64_t hookId = 0;
    {
        const auto started = std::chrono::steady_clock::now();
        const Diagnostics::ScopeGuard guard = Diagnostics::init(parameters(standinDirectory()), hookId);
        const auto waited = std::chrono::steady_clock::now() - started;
        EXPECT_GE(waited, std::chrono::milliseconds(2500));
        EXPECT_LT(waited, std::chrono::milliseconds(4500));
        EXPECT_THAT(startupLines(), ElementsAre(kTimeout));

        const System::Win32::UniqueHandle signal(::OpenEventW(EVENT_MODIFY_STATE, FALSE, lateEvent.c_str()));
        ASSERT_TRUE(signal.valid());
        ::SetEvent(signal.get());
    } // the stand-in sends the late status before it stops
    EXPECT_THAT(record_.lines(), Contains("status 7"));
    EXPECT_THAT(startupLines(), ElementsAre(kTimeout));
}

// Without the library the host runs on, and the release's status 1 ends the
// wait at once.
TEST_F(CrashReportingStart, WithoutTheLibraryStartUpEndsAtOnce)
{
    const TempDir empty;
    std::uint64_t hookId = 0;
    {
        const Diagnostics::ScopeGuard guard = Diagnostics::init(parameters(empty.path()), hookId);
    }
    const std::wstring path = (empty.path() / L"monitor_client_impl.dll").wstring();
    const std::lock_guard lock(lock_);
    EXPECT_THAT(lines_, ElementsAre(Line{1, L"[VESK] Unable to load VESK library=\"" + path + L"\". Error:126"},
                                    Line{1, L"VESK monitor initialization failure, callback status: 1"},
                                    Line{1, L"VESK monitor initialization failure, code: 0"}));
}

TEST_F(CrashReportingStart, AssertionHandlerReportsThroughTheLibrary)
{
    std::vector<std::string> reported;
    Diagnostics::setNonFatalEventHandler([&](VESK::EventType, const VESK::CustomData&, VESK::PostEventAction,
                                             const char* text, std::uint64_t line, VESK::CustomData&) {
        reported.push_back(std::string(text) + ":" + std::to_string(line));
    });
    const Diagnostics::AssertionHandler previous = Diagnostics::setAssertionHandler(&Diagnostics::reportAssertion);
    std::uint64_t hookId = 0;
    {
        const Diagnostics::ScopeGuard guard = Diagnostics::init(parameters(standinDirectory()), hookId);
        Diagnostics::assertionHandler()(L"x > 0", L"Größe.cpp", L"check", L"message", 42, L"extra");
    }
    // Shut down: the handler no longer reaches anything.
    Diagnostics::assertionHandler()(L"after", L"", L"", L"", 1, L"");
    Diagnostics::setAssertionHandler(previous);
    Diagnostics::setNonFatalEventHandler({});

    const std::vector<std::string> lines = record_.lines();
    EXPECT_THAT(lines, Contains("RaiseAssert \"x > 0\" \"Größe.cpp\" \"check\" \"message\" \"extra\" 42 0"));
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("RaiseAssert", 0) == 0; }),
              1);
    // The library's event callback came back through the begin hook start-up registered.
    EXPECT_THAT(reported, ElementsAre("x > 0:42"));
}

} // namespace
