#include "diagnostics/initialization_callback.h"
#include "diagnostics/log_sink.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using namespace Diagnostics;
using Line = std::pair<int, std::wstring>;

struct StatusCase {
    const char* name;
    int processingMode;
    std::vector<int> statuses;
    int completesAt; // index of the status that ends the wait; -1: none does
    std::vector<Line> lines;
    friend void PrintTo(const StatusCase& c, std::ostream* os) { *os << c.name; }
};

class StartupCompletion : public testing::TestWithParam<StatusCase> {
protected:
    void SetUp() override
    {
        Private::setLogSink([this](int level, const std::wstring& text) { lines_.emplace_back(level, text); });
    }
    void TearDown() override { Private::setLogSink({}); }

    std::vector<Line> lines_;
};

bool ready(Private::InitializationCallback& callback)
{
    return callback.waitUntil(std::chrono::steady_clock::now());
}

TEST_P(StartupCompletion, EndsTheWaitOnlyOnCompletingStatuses)
{
    Parameters parameters;
    parameters.processingMode = GetParam().processingMode;
    const auto callback = std::make_shared<Private::InitializationCallback>(parameters);
    const MonitorClient::StatusCallback status = Private::InitializationCallback::statusCallback(callback);
    for (std::size_t i = 0; i < GetParam().statuses.size(); ++i) {
        status(0, GetParam().statuses[i]);
        EXPECT_EQ(ready(*callback), GetParam().completesAt >= 0 && static_cast<int>(i) >= GetParam().completesAt)
            << "after status " << GetParam().statuses[i];
    }
    EXPECT_THAT(lines_, testing::ElementsAreArray(GetParam().lines));
}

const Line kFailure1{1, L"VESK monitor initialization failure, callback status: 1"};
const Line kFailure7{1, L"VESK monitor initialization failure, callback status: 7"};

INSTANTIATE_TEST_SUITE_P(
    Cases, StartupCompletion,
    testing::Values(StatusCase{"OnlySevenCompletesInMode1", 1, {3, 2, 7}, 2, {kFailure7}},
                    StatusCase{"TwoCompletesInMode2", 2, {3, 2}, 1, {}},
                    StatusCase{"FourCompletesSilently", 0, {5, 6, 4}, 2, {}},
                    StatusCase{"OneCompletesWithTheFailureLine", 1, {1}, 0, {kFailure1}},
                    StatusCase{"SecondCompletionIsHarmless", 1, {4, 7, 1}, 0, {kFailure7, kFailure1}},
                    StatusCase{"NothingCompletes", 1, {0, 2, 3, 5, 6}, -1, {}}),
    [](const testing::TestParamInfo<StatusCase>& info) { return info.param.name; });

TEST(StartupCompletion, StatusAfterTheWaitIsIgnored)
{
    std::vector<Line> lines;
    Private::setLogSink([&](int level, const std::wstring& text) { lines.emplace_back(level, text); });
    auto callback = std::make_shared<Private::InitializationCallback>(Parameters{});
    const MonitorClient::StatusCallback status = Private::InitializationCallback::statusCallback(callback);
    callback.reset();
    status(0, 7);
    Private::setLogSink({});
    EXPECT_TRUE(lines.empty());
}

} // namespace
