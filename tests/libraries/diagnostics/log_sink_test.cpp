#include "diagnostics/log_sink.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using namespace Diagnostics;
using MonitorClient::LogSeverity;
using Line = std::pair<int, std::wstring>;
using testing::ElementsAre;

TEST(LogBridge, MapsTheLibrarysSeveritiesToHostLevels)
{
    std::vector<Line> lines;
    Private::setLogSink([&](int level, const std::wstring& text) { lines.emplace_back(level, text); });
    for (const int severity : {0, 1, 2, 3, 4})
        Private::bridgeLog(static_cast<LogSeverity>(severity), L"s" + std::to_wstring(severity));
    Private::setLogSink({});
    Private::bridgeLog(LogSeverity::Error, L"dropped");

    EXPECT_THAT(lines, ElementsAre(Line{3, L"[VESK] s0"}, Line{2, L"[VESK] s1"}, Line{1, L"[VESK] s2"},
                                   Line{0, L"[VESK] s3"}, Line{1, L"Unexpected logging level."},
                                   Line{2, L"[VESK] s4"}));
}

} // namespace
