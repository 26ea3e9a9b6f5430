#include "generate_configuration.h"

#include "custom_config.h"
#include "deployment.h"
#include "system/path.h"

namespace Diagnostics::Private {

namespace {

using VESK::DumpType;
using VESK::EventType;
using VESK::FileCollectionRestrictions;

// What an event's report carries.
enum class ArtifactSet { DumpAndFiles = 0, Files = 1, LauncherLog = 2, Nothing = 3 };

struct EventTemplate {
    ArtifactSet artifacts;
    bool fatal;
    const wchar_t* assertType;
    EventType type;
};

const EventTemplate kEventTemplates[] = {
    {ArtifactSet::DumpAndFiles, true, L"", EventType::Crash},
    {ArtifactSet::Files, false, L"", EventType{4}},
    {ArtifactSet::DumpAndFiles, false, L"assert_silent", EventType::Assertion},
    {ArtifactSet::DumpAndFiles, true, L"assert_fatal", EventType::Assertion},
    {ArtifactSet::DumpAndFiles, false, L"manual_report", EventType::Assertion},
    {ArtifactSet::Nothing, false, L"track", EventType::Assertion},
};

// Log artifacts: name and the prefix of their file names.
const std::pair<const wchar_t*, const wchar_t*> kLogArtifacts[] = {
    {L"tvx logs", L"tvx_"},         {L"lumet logs", L"lumet_"},     {L"brova logs", L"brova_"},
    {L"ombrix logs", L"ombrix"},    {L"vintrac logs", L"vintrac_"}, {L"vintest logs", L"vintest_"},
};

// Single files in the base directory: name and file name.
const std::pair<const wchar_t*, const wchar_t*> kProductFileArtifacts[] = {
    {L"pelmar", L"pelmar.xml"},
    {L"tolvex file", L"tolvex.xml"},
    {L"arv_info file", L"arv_info.xml"},
    {L"arv_info patch file", L"arv_info.patch"},
    {L"nerisk file", L"nerisk.xml"},
};

constexpr wchar_t kDxDiagArtifact[] = L"dxdiag.txt";

std::map<std::wstring, FileCollectionRestrictions> fullFileSet()
{
    std::map<std::wstring, FileCollectionRestrictions> files;
    for (const auto& [name, prefix] : kLogArtifacts)
        files[name] = {30, 3072, 0};
    for (const wchar_t* name : {L"pelmar", L"tolvex file", L"arv_info file", L"arv_info patch file"})
        files[name] = {1, 100, 0};
    files[L"nerisk file"] = {1, 512, 0};
    files[kDxDiagArtifact] = {1, 512, 0};
    return files;
}

VESK::ArtifactDefinitions artifacts(const std::wstring& baseDirectory, const std::wstring& tempFolder)
{
    VESK::ArtifactDefinitions definitions;
    const std::wstring logs = (System::Path(baseDirectory) / L"logs").str();
    for (const auto& [name, prefix] : kLogArtifacts)
        definitions[name] = {logs, std::wstring(prefix) + L".*" + L".log"};
    for (const auto& [name, file] : kProductFileArtifacts)
        definitions[name] = {baseDirectory, file};
    definitions[kDxDiagArtifact] = {tempFolder, kDxDiagArtifact};
    return definitions;
}

bool consentRequired(const VESK::Configuration& configuration)
{
    const VESK::ReportUploadConsent& consent = configuration.UploadConsentRulesDefinition;
    return !configuration.ServerConnection.ServerUrl.empty() &&
           (consent.ShowDialogOption == 1 || consent.ReportArchiveSizeThresholdKb != 0);
}

VESK::EventConfig makeEvent(const EventTemplate& source, bool consentRequired, bool restartOnFatal)
{
    // Until the user agrees, a report carries nothing; a fatal event that
    // restarts the process keeps its artifacts.
    ArtifactSet set = source.artifacts;
    if (set != ArtifactSet::Nothing && consentRequired && !(source.fatal && restartOnFatal))
        set = ArtifactSet::Nothing;

    VESK::EventConfig event;
    event.EventType = source.type;
    event.AssertType = source.assertType;
    event.Dump = set == ArtifactSet::DumpAndFiles ? VESK::CrashDumpArtifact{DumpType::Mini, 0}
                                                  : VESK::CrashDumpArtifact{DumpType::None, 0};
    if (set == ArtifactSet::LauncherLog)
        event.Files = {{L"tvx logs", {1, 3072, 0}}};
    else if (set != ArtifactSet::Nothing)
        event.Files = fullFileSet();
    event.IncludeMonitorLogs = set == ArtifactSet::DumpAndFiles;
    const VESK::PostEventAction action = !source.fatal    ? VESK::PostEventAction::Continue
                                         : restartOnFatal ? VESK::PostEventAction::Restart
                                                          : VESK::PostEventAction::Terminate;
    event.PostEventPolicy = {action, 1, 5, 20};
    return event;
}

std::wstring severityWord(FailureSeverity severity)
{
    switch (severity) {
    case FailureSeverity::Critical: return L"Critical";
    case FailureSeverity::Major: return L"Major";
    case FailureSeverity::Minor: return L"Minor";
    }
    return L"[Unknown FailureSeverity]";
}

std::uint8_t processingMode(int mode)
{
    switch (mode) {
    case 0: return 4;
    case 1: return 5;
    default: return 0;
    }
}

constexpr wchar_t kProductName[] = L"Tervane Arvenna";
constexpr wchar_t kHelpLinkText[] = L"Contact Player Support";
constexpr wchar_t kStoppedWorking[] = L"The application has stopped working";
constexpr wchar_t kReportCreated[] =
    L"A problem occurred during the program execution flow and a report has been created.";

VESK::DialogContent dialogContent(const wchar_t* header, const wchar_t* description)
{
    const std::wstring supportPage =
        std::wstring(L"https://") + Deployment::kSupportSiteHost + L"/support/products/tvx/";
    return {kProductName, header, description, kHelpLinkText, supportPage};
}

} // namespace

std::vector<VESK::EventConfig> generateEvents(const VESK::Configuration& configuration, const Parameters& parameters)
{
    std::vector<VESK::EventConfig> events;
    const bool consent = consentRequired(configuration);
    for (const EventTemplate& source : kEventTemplates)
        events.push_back(makeEvent(source, consent, parameters.restartOnFatal));
    VESK::EventConfig plain;
    plain.Dump = {DumpType::None, 0};
    events.push_back(plain);
    return events;
}

VESK::Configuration generateConfiguration(const Parameters& parameters, const std::wstring& tempFolder)
{
    VESK::Configuration configuration;

    VESK::ClientInfo& client = configuration.ClientInformation;
    client.AppId = L"tvx";
    client.AppVersion = parameters.appVersion;
    client.ClientExecutable = parameters.applicationPath;
    client.CustomClientData = {{L"installation_id", parameters.installationId},
                               {L"process_failure_severity", severityWord(parameters.processFailureSeverity)}};

    configuration.CleanupPolicy = {0, 10, 30};
    configuration.ReportsWorkingFolder = (System::Path(parameters.baseDirectory) / L"vesk").str();
    configuration.MonitorSelfCrashHandling.ReportsFolder = configuration.ReportsWorkingFolder;
    configuration.MonitorSelfCrashHandling.ServerUrl = Deployment::kCrashReportServerUrl;
    configuration.ServerConnection.ServerUrl = Deployment::kCrashReportServerUrl;
    configuration.AbnormalTerminationHandling = parameters.abnormalTerminationHandling;
    configuration.ProcessingMode = processingMode(parameters.processingMode);
    configuration.CollectPersonalData = true;

    configuration.UploadConsentRulesDefinition.ConsentDialog = {
        dialogContent(L"Error information has been collected",
                      L"Please click \"Upload\" to send an error report ($report_size$) to the server for further "
                      L"analysis."),
        L"Upload", L"Cancel", 1, 0};

    configuration.Events = generateEvents(configuration, parameters);
    configuration.Artifacts = artifacts(parameters.baseDirectory, tempFolder);
    configuration.MonitorLogsRestrictions = {30, 3072, 0};

    configuration.QuestionRestartOrTerminateDialog = {
        dialogContent(kStoppedWorking, L"A problem has caused the program to stop working correctly. To continue, "
                                       L"restart the application or close it."),
        L"Restart", L"Close", 1, 0};
    configuration.NotificationTerminateDialog = {
        dialogContent(kStoppedWorking, L"A problem has caused the program to stop working correctly. Click \"Ok\" "
                                       L"to close the program."),
        L"Ok"};
    configuration.NotificationDialog = {dialogContent(L"Application invariant check failed", kReportCreated), L"Ok"};
    configuration.NotificationAndTerminatePopup = {
        kStoppedWorking,
        L"A problem has caused the program to stop working correctly and a report has been created.", 2};
    configuration.NotificationPopup = {kStoppedWorking, kReportCreated, 2};

    configuration.DumpGenerationProgressSettings = {
        {L"Process dump generation", L"Dump generation is in progress",
         L"This operation may take some time. Please wait...", L"Interruption of dump generation..."},
        DumpType::Medium};

    applyCustomConfig(configuration, parameters);
    return configuration;
}

} // namespace Diagnostics::Private
