#include "diagnostics/generate_configuration.h"
#include "diagnostics/custom_config.h"
#include "diagnostics/custom_config_limits.h"
#include "support/unique_folder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>

namespace {

using namespace Diagnostics;
using testing::ElementsAre;
using testing::IsEmpty;
using Line = std::pair<int, std::wstring>;

// A folder of its own for each case.
struct BaseDirectory : TestSupport::UniqueFolder {
    BaseDirectory() : UniqueFolder("ombrix-custom-config-") {}
};

const char kValid[] = R"(<?xml version="1.0" encoding="utf-8"?>
<cereal>
  <ManualReportFiles>
    <item><key>tvx logs</key><value><MaxFilesCount>5</MaxFilesCount><MaxFilesSizeKb>1024</MaxFilesSizeKb><ModifiedLessThanDays>0</ModifiedLessThanDays></value></item>
    <other><key>nerisk file</key><value><ModifiedLessThanDays>9</ModifiedLessThanDays><MaxFilesSizeKb>2</MaxFilesSizeKb><MaxFilesCount>1</MaxFilesCount></value></other>
    <item><key>tvx logs</key><value><MaxFilesCount>7</MaxFilesCount><MaxFilesSizeKb>7</MaxFilesSizeKb><ModifiedLessThanDays>7</ModifiedLessThanDays></value></item>
  </ManualReportFiles>
  <Unrelated>ignored</Unrelated>
  <ReportsFolder>D:\reports</ReportsFolder>
  <ConnectionConfig><ServerUrl>https://other.invalid</ServerUrl></ConnectionConfig>
  <CleanupPolicy><MaxCount> 3</MaxCount><MaxSizeKb>0</MaxSizeKb><MaxAgeDays>7days</MaxAgeDays></CleanupPolicy>
  <ManualReportDumpType>full</ManualReportDumpType>
</cereal>)";

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    text.replace(text.find(from), from.size(), to);
    return text;
}

// The text padded with spaces after its root to `size` bytes.
std::string padded(std::string text, std::uintmax_t size)
{
    text.resize(static_cast<std::size_t>(size), ' ');
    return text;
}

// `depth` elements, one inside the other.
std::string nested(std::size_t depth)
{
    std::string open, close;
    for (std::size_t i = 0; i < depth; ++i) {
        open += "<a>";
        close += "</a>";
    }
    return open + close;
}

// The root is the first level: what replaces this in kValid sits one level deeper.
const char kUnrelated[] = "<Unrelated>ignored</Unrelated>";

const char kEmptyList[] = R"(<cereal>
  <ManualReportFiles/>
  <ReportsFolder></ReportsFolder>
  <ConnectionConfig><ServerUrl/></ConnectionConfig>
  <CleanupPolicy><MaxCount>3</MaxCount><MaxSizeKb>0</MaxSizeKb><MaxAgeDays>7</MaxAgeDays></CleanupPolicy>
  <ManualReportDumpType>none</ManualReportDumpType>
</cereal>)";

constexpr wchar_t kTooDeep[] = L"Unable to load custom config: the file is nested deeper than 64 elements";

constexpr wchar_t kParseFailed[] = L"Unable to parse custom config: [Error.Diagnostics.Config.ParsingFailed]\r\n+ "
                                   L"[std::exception] ";

struct OverrideCase {
    const char* name;
    std::optional<std::string> file;
    std::vector<Line> lines;
    std::function<void(VESK::Configuration&)> change; // none: the configuration stays as generated
    friend void PrintTo(const OverrideCase& c, std::ostream* os) { *os << c.name; }
};

class CustomConfigFile : public testing::TestWithParam<OverrideCase> {};

VESK::EventConfig& manualReport(VESK::Configuration& configuration)
{
    return configuration.Events.at(4);
}

// What kValid changes.
void validChange(VESK::Configuration& c)
{
    c.CleanupPolicy = {0, 3, 7};
    c.ServerConnection.ServerUrl = L"https://other.invalid";
    c.ReportsWorkingFolder = L"D:\\reports";
    // A repeated key keeps its first value; the dump timeout stays.
    manualReport(c).Files = {{L"nerisk file", {1, 2, 9}}, {L"tvx logs", {5, 1024, 0}}};
    manualReport(c).Dump.Type = VESK::DumpType::Full;
}

TEST_P(CustomConfigFile, AppliesAllOrNothing)
{
    const BaseDirectory base;
    Parameters parameters;
    parameters.baseDirectory = base.path().wstring();
    const VESK::Configuration generated = Private::generateConfiguration(parameters, L"C:\\Temp");

    if (GetParam().file)
        std::ofstream(base.path() / "custom_config.xml", std::ios::binary) << *GetParam().file;
    std::vector<Line> lines;
    parameters.logSink = [&](int level, const std::wstring& text) { lines.emplace_back(level, text); };
    const VESK::Configuration configuration = Private::generateConfiguration(parameters, L"C:\\Temp");

    EXPECT_THAT(lines, testing::ElementsAreArray(GetParam().lines));
    VESK::Configuration expected = generated;
    if (GetParam().change)
        GetParam().change(expected);
    EXPECT_TRUE(configuration == expected);
    // The self-crash reports keep their folder and server.
    EXPECT_EQ(configuration.MonitorSelfCrashHandling, generated.MonitorSelfCrashHandling);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CustomConfigFile,
    testing::Values(
        OverrideCase{"NoFile", std::nullopt, {}, {}},
        OverrideCase{"Empty", "",
                     {{1, kParseFailed + std::wstring(L"Could not detect cereal root node - likely due to empty or "
                                                      L"invalid input")}},
                     {}},
        OverrideCase{"NotWellFormed", "<cereal><ReportsFolder></cereal>",
                     {{1, kParseFailed + std::wstring(L"XML Parsing failed - likely due to invalid characters or "
                                                      L"invalid naming")}},
                     {}},
        OverrideCase{"MissingElement", replaced(kValid, "ManualReportFiles>", "Manual>"),
                     {{1, kParseFailed + std::wstring(L"XML Parsing failed - provided NVP (ManualReportFiles) not "
                                                      L"found")}},
                     {}},
        OverrideCase{"MissingNestedElement", replaced(kValid, "<MaxSizeKb>0</MaxSizeKb>", ""),
                     {{1, kParseFailed + std::wstring(L"XML Parsing failed - provided NVP (MaxSizeKb) not found")}},
                     {}},
        OverrideCase{"BadDumpType", replaced(kValid, ">full<", ">huge<"),
                     {{1, kParseFailed + std::wstring(L"Unexpected DumpType")}},
                     {}},
        OverrideCase{"LettersInANumber", replaced(kValid, "> 3<", ">three<"),
                     {{1, L"Unable to load custom config: stoull"}},
                     {}},
        OverrideCase{"Valid", kValid, {{2, L"Using custom config file"}}, validChange},
        // The limits of custom_config_limits.h: beyond them a valid file is ignored as a broken one.
        OverrideCase{"AtTheSizeLimit", padded(kValid, Private::kCustomConfigMaxBytes),
                     {{2, L"Using custom config file"}}, validChange},
        OverrideCase{"JustOverTheSizeLimit", padded(kValid, Private::kCustomConfigMaxBytes + 1),
                     {{1, L"Unable to load custom config: the file is 262145 bytes, more than the limit of 262144"}},
                     {}},
        OverrideCase{"AtTheDepthLimit", replaced(kValid, kUnrelated, nested(63)),
                     {{2, L"Using custom config file"}}, validChange},
        OverrideCase{"JustBeyondTheDepthLimit", replaced(kValid, kUnrelated, nested(64)), {{1, kTooDeep}}, {}},
        // Some 70 KB: the parser, recursing per element, once overflowed the stack.
        OverrideCase{"TenThousandDeep", replaced(kValid, kUnrelated, nested(10'000)), {{1, kTooDeep}}, {}},
        OverrideCase{"TenThousandDeepInAComment", replaced(kValid, kUnrelated, "<!--" + nested(10'000) + "-->"),
                     {{2, L"Using custom config file"}}, validChange},
        OverrideCase{"ValidWithEmptyList", kEmptyList,
                     {{2, L"Using custom config file"}},
                     [](VESK::Configuration& c) {
                         c.CleanupPolicy = {0, 3, 7};
                         c.ServerConnection.ServerUrl.clear();
                         c.ReportsWorkingFolder.clear();
                         manualReport(c).Files.clear();
                         manualReport(c).Dump.Type = VESK::DumpType::None;
                     }}),
    [](const testing::TestParamInfo<OverrideCase>& info) { return info.param.name; });

TEST(CustomConfig, WithoutManualReportEventOnlyTheGlobalFieldsChange)
{
    const BaseDirectory base;
    std::ofstream(base.path() / "custom_config.xml", std::ios::binary) << kValid;
    Parameters parameters;
    parameters.baseDirectory = base.path().wstring();
    VESK::Configuration configuration;
    Private::applyCustomConfig(configuration, parameters);
    EXPECT_EQ(configuration.ServerConnection.ServerUrl, L"https://other.invalid");
    EXPECT_THAT(configuration.Events, IsEmpty());
}

} // namespace
