#include "diagnostics/deployment.h"
#include "diagnostics/generate_configuration.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tuple>

namespace {

using namespace Diagnostics;
using Private::generateConfiguration;
using Private::generateEvents;
using VESK::DumpType;
using VESK::EventType;
using VESK::PostEventAction;
using testing::ElementsAreArray;

constexpr wchar_t kBase[] = L"C:\\Games\\Tervane";
constexpr wchar_t kTemp[] = L"C:\\Temp";
const std::wstring kServer = Deployment::kCrashReportServerUrl;
const std::wstring kSupportPage = std::wstring(L"https://") + Deployment::kSupportSiteHost + L"/support/products/tvx/";

Parameters hostParameters()
{
    Parameters parameters;
    parameters.applicationPath = L"C:\\Games\\Tervane\\bin\\ombrix.exe";
    parameters.appVersion = L"26.00.02.1046";
    parameters.baseDirectory = kBase;
    parameters.libraryDirectory = kBase;
    parameters.installationId = std::wstring(40, L'A');
    parameters.processFailureSeverity = FailureSeverity::Major;
    return parameters;
}

VESK::Configuration generate(const Parameters& parameters = hostParameters())
{
    return generateConfiguration(parameters, kTemp);
}

enum class Files { Full, LauncherLog, None };

// One expected event: what the tables say it carries.
struct EventRow {
    EventType type;
    const wchar_t* assertType;
    DumpType dump;
    Files files;
    bool monitorLogs;
    PostEventAction action;
};

const std::map<std::wstring, VESK::FileCollectionRestrictions> kFullFileSet = {
    {L"arv_info file", {1, 100, 0}}, {L"arv_info patch file", {1, 100, 0}}, {L"brova logs", {30, 3072, 0}},
    {L"dxdiag.txt", {1, 512, 0}},    {L"lumet logs", {30, 3072, 0}},        {L"nerisk file", {1, 512, 0}},
    {L"ombrix logs", {30, 3072, 0}}, {L"pelmar", {1, 100, 0}},              {L"tolvex file", {1, 100, 0}},
    {L"tvx logs", {30, 3072, 0}},    {L"vintest logs", {30, 3072, 0}},      {L"vintrac logs", {30, 3072, 0}},
};

VESK::EventConfig expectedEvent(const EventRow& row)
{
    VESK::EventConfig event;
    event.EventType = row.type;
    event.AssertType = row.assertType;
    event.Dump = {row.dump, 0};
    if (row.files == Files::Full)
        event.Files = kFullFileSet;
    else if (row.files == Files::LauncherLog)
        event.Files = {{L"tvx logs", {1, 3072, 0}}};
    event.IncludeMonitorLogs = row.monitorLogs;
    event.PostEventPolicy = {row.action, 1, 5, 20};
    return event;
}

std::vector<VESK::EventConfig> expectedEvents(std::initializer_list<EventRow> rows)
{
    std::vector<VESK::EventConfig> events;
    for (const EventRow& row : rows)
        events.push_back(expectedEvent(row));
    return events;
}

constexpr auto Crash = EventType::Crash;
constexpr auto Assertion = EventType::Assertion;
constexpr auto Continue = PostEventAction::Continue;
constexpr auto Terminate = PostEventAction::Terminate;
constexpr auto Restart = PostEventAction::Restart;
constexpr EventRow kPlainEvent{EventType::Unspecified, L"", DumpType::None, Files::None, false, Continue};

TEST(GenerateConfiguration, SevenEventsInTemplateOrder)
{
    EXPECT_THAT(generate().Events,
                ElementsAreArray(expectedEvents({
                    {Crash, L"", DumpType::Mini, Files::Full, true, Terminate},
                    {EventType{4}, L"", DumpType::None, Files::Full, false, Continue},
                    {Assertion, L"assert_silent", DumpType::Mini, Files::Full, true, Continue},
                    {Assertion, L"assert_fatal", DumpType::Mini, Files::Full, true, Terminate},
                    {Assertion, L"manual_report", DumpType::Mini, Files::Full, true, Continue},
                    {Assertion, L"track", DumpType::None, Files::None, false, Continue},
                    kPlainEvent,
                })));
}

TEST(GenerateConfiguration, RestartOnFatalRestartsFatalEvents)
{
    Parameters parameters = hostParameters();
    parameters.restartOnFatal = true;
    const std::vector<VESK::EventConfig> events = generate(parameters).Events;
    ASSERT_EQ(events.size(), 7u);
    for (std::size_t i = 0; i < events.size(); ++i)
        EXPECT_EQ(events[i].PostEventPolicy.Action, i == 0 || i == 3 ? Restart : Continue) << i;
}

struct ConsentCase {
    const char* name;
    std::uint8_t showDialogOption;
    std::uint32_t thresholdKb;
    const wchar_t* serverUrl;
    bool restartOnFatal;
    std::vector<VESK::EventConfig> events;
    friend void PrintTo(const ConsentCase& c, std::ostream* os) { *os << c.name; }
};

class ConsentRule : public testing::TestWithParam<ConsentCase> {};

// Until the user agrees to upload, a report carries nothing, unless it
// restarts the process after a fatal event.
TEST_P(ConsentRule, StripsEventsThatNeedConsent)
{
    Parameters parameters = hostParameters();
    parameters.restartOnFatal = GetParam().restartOnFatal;
    VESK::Configuration configuration = generate(parameters);
    configuration.UploadConsentRulesDefinition.ShowDialogOption = GetParam().showDialogOption;
    configuration.UploadConsentRulesDefinition.ReportArchiveSizeThresholdKb = GetParam().thresholdKb;
    configuration.ServerConnection.ServerUrl = GetParam().serverUrl;
    EXPECT_THAT(generateEvents(configuration, parameters), ElementsAreArray(GetParam().events));
}

const EventRow kStripped[] = {
    {Crash, L"", DumpType::None, Files::None, false, Terminate},
    {EventType{4}, L"", DumpType::None, Files::None, false, Continue},
    {Assertion, L"assert_silent", DumpType::None, Files::None, false, Continue},
    {Assertion, L"assert_fatal", DumpType::None, Files::None, false, Terminate},
    {Assertion, L"manual_report", DumpType::None, Files::None, false, Continue},
    {Assertion, L"track", DumpType::None, Files::None, false, Continue},
};

INSTANTIATE_TEST_SUITE_P(
    Cases, ConsentRule,
    testing::Values(
        ConsentCase{"DialogOption1", 1, 0, L"https://server.invalid", false,
                    expectedEvents({kStripped[0], kStripped[1], kStripped[2], kStripped[3], kStripped[4], kStripped[5],
                                    kPlainEvent})},
        ConsentCase{"SizeThreshold", 2, 1, L"https://server.invalid", false,
                    expectedEvents({kStripped[0], kStripped[1], kStripped[2], kStripped[3], kStripped[4], kStripped[5],
                                    kPlainEvent})},
        ConsentCase{"RestartOnFatalKeepsFatalEvents", 1, 0, L"https://server.invalid", true,
                    expectedEvents({{Crash, L"", DumpType::Mini, Files::Full, true, Restart},
                                    kStripped[1],
                                    kStripped[2],
                                    {Assertion, L"assert_fatal", DumpType::Mini, Files::Full, true, Restart},
                                    kStripped[4], kStripped[5], kPlainEvent})},
        ConsentCase{"NoServer", 1, 0, L"", false,
                    expectedEvents({{Crash, L"", DumpType::Mini, Files::Full, true, Terminate},
                                    {EventType{4}, L"", DumpType::None, Files::Full, false, Continue},
                                    {Assertion, L"assert_silent", DumpType::Mini, Files::Full, true, Continue},
                                    {Assertion, L"assert_fatal", DumpType::Mini, Files::Full, true, Terminate},
                                    {Assertion, L"manual_report", DumpType::Mini, Files::Full, true, Continue},
                                    kStripped[5], kPlainEvent})}),
    [](const testing::TestParamInfo<ConsentCase>& info) { return info.param.name; });

using ArtifactRow = std::tuple<std::wstring, std::wstring, std::wstring, bool>;

std::vector<ArtifactRow> artifactRows(const VESK::ArtifactDefinitions& artifacts)
{
    std::vector<ArtifactRow> rows;
    for (const auto& [name, artifact] : artifacts)
        rows.emplace_back(name, artifact.Directory, artifact.FilenameMask, artifact.RecursiveLookup);
    return rows;
}

TEST(GenerateConfiguration, TwelveArtifactsInNameOrder)
{
    const std::wstring logs = L"C:\\Games\\Tervane\\logs";
    EXPECT_THAT(artifactRows(generate().Artifacts),
                ElementsAreArray(std::vector<ArtifactRow>{
                    {L"arv_info file", kBase, L"arv_info.xml", false},
                    {L"arv_info patch file", kBase, L"arv_info.patch", false},
                    {L"brova logs", logs, L"brova_.*.log", false},
                    {L"dxdiag.txt", kTemp, L"dxdiag.txt", false},
                    {L"lumet logs", logs, L"lumet_.*.log", false},
                    {L"nerisk file", kBase, L"nerisk.xml", false},
                    {L"ombrix logs", logs, L"ombrix.*.log", false},
                    {L"pelmar", kBase, L"pelmar.xml", false},
                    {L"tolvex file", kBase, L"tolvex.xml", false},
                    {L"tvx logs", logs, L"tvx_.*.log", false},
                    {L"vintest logs", logs, L"vintest_.*.log", false},
                    {L"vintrac logs", logs, L"vintrac_.*.log", false},
                }));
}

TEST(GenerateConfiguration, ClientFoldersServerAndPolicies)
{
    Parameters parameters = hostParameters();
    parameters.abnormalTerminationHandling = {true, {{1, 2, 3, 4}, {5, 6, 7, 8}}};
    const VESK::Configuration configuration = generate(parameters);

    EXPECT_EQ(configuration.ClientInformation,
              (VESK::ClientInfo{L"tvx", L"26.00.02.1046", L"", L"C:\\Games\\Tervane\\bin\\ombrix.exe", {}, L"",
                                {{L"installation_id", std::wstring(40, L'A')}, {L"process_failure_severity", L"Major"}},
                                L""}));
    EXPECT_EQ(configuration.ServerConnection.ServerUrl, kServer);
    EXPECT_EQ(configuration.ReportsWorkingFolder, L"C:\\Games\\Tervane\\vesk");
    EXPECT_EQ(configuration.MonitorSelfCrashHandling,
              (VESK::MonitorsSelfCrashHandling{true, L"C:\\Games\\Tervane\\vesk", kServer}));
    EXPECT_EQ(configuration.CleanupPolicy, (VESK::ReportsCleanupPolicy{0, 10, 30}));
    EXPECT_EQ(configuration.MonitorLogsRestrictions, (VESK::FileCollectionRestrictions{30, 3072, 0}));
    EXPECT_EQ(configuration.AbnormalTerminationHandling, parameters.abnormalTerminationHandling);
    EXPECT_EQ(configuration.ProcessingMode, 5);
    EXPECT_TRUE(configuration.CollectPersonalData);
    EXPECT_EQ(configuration.UploadConsentRulesDefinition.ShowDialogOption, 2);
    EXPECT_EQ(configuration.UploadConsentRulesDefinition.ReportArchiveSizeThresholdKb, 0u);
    // Left at the library's defaults.
    EXPECT_EQ(configuration.MonitorLogFilesMaxCount, 5u);
    EXPECT_EQ(configuration.RecurringEventsSettings, (VESK::RecurringEventsSettings{2000, true}));
    EXPECT_TRUE(configuration.MonitorLogsFolderPath.empty() && configuration.MonitorDirPath.empty());
    EXPECT_TRUE(configuration.MonitorPlugins.empty());
    EXPECT_FALSE(configuration.EnableUiFreezeDetection || configuration.AnticheatEnabled ||
                 configuration.CreateSessionFiles || configuration.KeepLastProcessedReports);
}

TEST(GenerateConfiguration, DialogAndPopupTexts)
{
    const VESK::Configuration configuration = generate();
    const auto content = [](const wchar_t* header, const wchar_t* description) {
        return VESK::DialogContent{L"Tervane Arvenna", header, description, L"Contact Player Support", kSupportPage};
    };
    EXPECT_EQ(configuration.QuestionRestartOrTerminateDialog,
              (VESK::QuestionDialog{content(L"The application has stopped working",
                                            L"A problem has caused the program to stop working correctly. To "
                                            L"continue, restart the application or close it."),
                                    L"Restart", L"Close", 1, 0}));
    EXPECT_EQ(configuration.UploadConsentRulesDefinition.ConsentDialog,
              (VESK::QuestionDialog{content(L"Error information has been collected",
                                            L"Please click \"Upload\" to send an error report ($report_size$) to the "
                                            L"server for further analysis."),
                                    L"Upload", L"Cancel", 1, 0}));
    EXPECT_EQ(configuration.NotificationTerminateDialog,
              (VESK::NotifyDialog{content(L"The application has stopped working",
                                          L"A problem has caused the program to stop working correctly. Click \"Ok\" "
                                          L"to close the program."),
                                  L"Ok"}));
    EXPECT_EQ(configuration.NotificationDialog,
              (VESK::NotifyDialog{content(L"Application invariant check failed",
                                          L"A problem occurred during the program execution flow and a report has "
                                          L"been created."),
                                  L"Ok"}));
    EXPECT_EQ(configuration.NotificationAndTerminatePopup,
              (VESK::PopupNotification{L"The application has stopped working",
                                       L"A problem has caused the program to stop working correctly and a report has "
                                       L"been created.",
                                       2}));
    EXPECT_EQ(configuration.NotificationPopup,
              (VESK::PopupNotification{L"The application has stopped working",
                                       L"A problem occurred during the program execution flow and a report has been "
                                       L"created.",
                                       2}));
    EXPECT_EQ(configuration.DumpGenerationProgressSettings,
              (VESK::DumpGenerationProgressSettings{{L"Process dump generation", L"Dump generation is in progress",
                                                     L"This operation may take some time. Please wait...",
                                                     L"Interruption of dump generation..."},
                                                    DumpType::Medium}));
}

TEST(GenerateConfiguration, ProcessingModesAndSeverityWords)
{
    const std::pair<int, std::uint8_t> modes[] = {{0, 4}, {1, 5}, {2, 0}, {-1, 0}};
    for (const auto& [mode, expected] : modes) {
        Parameters parameters = hostParameters();
        parameters.processingMode = mode;
        EXPECT_EQ(generate(parameters).ProcessingMode, expected) << mode;
    }
    const std::pair<int, const wchar_t*> severities[] = {
        {0, L"Critical"}, {1, L"Major"}, {2, L"Minor"}, {7, L"[Unknown FailureSeverity]"}};
    for (const auto& [severity, word] : severities) {
        Parameters parameters = hostParameters();
        parameters.processFailureSeverity = static_cast<FailureSeverity>(severity);
        const auto& data = generate(parameters).ClientInformation.CustomClientData;
        ASSERT_EQ(data.size(), 2u);
        EXPECT_EQ(data[1], (std::pair<std::wstring, std::wstring>{L"process_failure_severity", word}));
    }
}

TEST(GenerateConfiguration, EmptyBaseDirectoryGivesRelativeFolders)
{
    Parameters parameters = hostParameters();
    parameters.baseDirectory.clear();
    const VESK::Configuration configuration = generate(parameters);
    EXPECT_EQ(configuration.ReportsWorkingFolder, L"vesk");
    EXPECT_EQ(configuration.Artifacts.at(L"tvx logs").Directory, L"logs");
    EXPECT_EQ(configuration.Artifacts.at(L"pelmar").Directory, L"");
}

} // namespace
