#pragma once

// The crash-reporting library's configuration as plain values. The field names
// follow the library's setters; the defaults are what the library assumes when a
// field is left alone.
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace VESK {

// Passed through to the library unchanged; only the values the host routes on
// have names.
enum class EventType : std::uint8_t { Unspecified = 0, Assertion = 1, Crash = 2 };
enum class PostEventAction : std::uint8_t { Continue = 0, Terminate = 1, Restart = 3 };
enum class DumpType : std::uint8_t { None = 0, Micro = 1, Milli = 2, Mini = 3, Medium = 4, Full = 5 };

struct ClientInfo {
    std::wstring AppId;
    std::wstring AppVersion;
    std::wstring ComponentId;
    std::wstring ClientExecutable;
    std::vector<std::wstring> RestartArguments;
    std::wstring LongDescr;
    std::vector<std::pair<std::wstring, std::wstring>> CustomClientData;
    std::wstring BuildCommitHash;
    friend bool operator==(const ClientInfo&, const ClientInfo&) = default;
};

struct ConnectionConfig {
    std::wstring ServerUrl;
    friend bool operator==(const ConnectionConfig&, const ConnectionConfig&) = default;
};

struct FileArtifact {
    std::wstring Directory;
    std::wstring FilenameMask; // a regular expression
    bool RecursiveLookup = false;
    friend bool operator==(const FileArtifact&, const FileArtifact&) = default;
};

using ArtifactDefinitions = std::map<std::wstring, FileArtifact>;

struct FileCollectionRestrictions {
    std::uint32_t MaxFilesCount = 0;
    std::uint32_t MaxFilesSizeKb = 0;
    std::uint64_t ModifiedLessThanDays = 0;
    friend bool operator==(const FileCollectionRestrictions&, const FileCollectionRestrictions&) = default;
};

struct CrashDumpArtifact {
    DumpType Type = DumpType::Mini;
    std::uint32_t TimeoutMs = 5000;
    friend bool operator==(const CrashDumpArtifact&, const CrashDumpArtifact&) = default;
};

struct PostEventPolicy {
    PostEventAction Action = PostEventAction::Continue;
    std::uint32_t TerminationExitCode = 1;
    std::uint32_t MaxSequentialRestartCount = 5;
    std::uint32_t SequentialRestartDetectionThresholdSeconds = 20;
    friend bool operator==(const PostEventPolicy&, const PostEventPolicy&) = default;
};

struct EventConfig {
    VESK::EventType EventType = VESK::EventType::Unspecified;
    std::wstring AssertType;
    std::string CallstackHash;
    CrashDumpArtifact Dump;
    std::map<std::wstring, FileCollectionRestrictions> Files; // by artifact name
    bool IncludeMonitorLogs = false;
    bool IncludeDxDiag = false;
    bool IncludeConfig = false;
    VESK::PostEventPolicy PostEventPolicy;
    friend bool operator==(const EventConfig&, const EventConfig&) = default;
};

struct DialogContent {
    std::wstring Caption;
    std::wstring Header;
    std::wstring Description;
    std::wstring HelpLinkText;
    std::wstring HelpLinkUrl;
    friend bool operator==(const DialogContent&, const DialogContent&) = default;
};

struct NotifyDialog {
    DialogContent Content;
    std::wstring OkButtonText;
    friend bool operator==(const NotifyDialog&, const NotifyDialog&) = default;
};

struct QuestionDialog {
    DialogContent Content;
    std::wstring YesButtonText;
    std::wstring NoButtonText;
    std::uint8_t DefaultButton = 1;
    std::uint32_t AutoDefaultTimeoutSeconds = 0;
    friend bool operator==(const QuestionDialog&, const QuestionDialog&) = default;
};

struct PopupNotification {
    std::wstring Title;
    std::wstring Description;
    std::uint64_t DemonstrationTimeoutSeconds = 2;
    friend bool operator==(const PopupNotification&, const PopupNotification&) = default;
};

struct ProgressDialogContent {
    std::wstring Caption;
    std::wstring Header;
    std::wstring Description;
    std::wstring CancelMessage;
    friend bool operator==(const ProgressDialogContent&, const ProgressDialogContent&) = default;
};

struct DumpGenerationProgressSettings {
    ProgressDialogContent DumpProgressDialog;
    DumpType ShowProgressStartingFromDump = DumpType::None;
    friend bool operator==(const DumpGenerationProgressSettings&, const DumpGenerationProgressSettings&) = default;
};

struct ReportUploadConsent {
    std::uint8_t ShowDialogOption = 2;
    std::uint32_t ReportArchiveSizeThresholdKb = 0;
    QuestionDialog ConsentDialog{{}, {}, {}, 2, 15};
    friend bool operator==(const ReportUploadConsent&, const ReportUploadConsent&) = default;
};

struct ReportsCleanupPolicy {
    std::uint64_t MaxSizeKb = 0;
    std::uint64_t MaxCount = 10;
    std::uint64_t MaxAgeDays = 30;
    friend bool operator==(const ReportsCleanupPolicy&, const ReportsCleanupPolicy&) = default;
};

struct MonitorsSelfCrashHandling {
    bool Enable = true;
    std::wstring ReportsFolder;
    std::wstring ServerUrl;
    friend bool operator==(const MonitorsSelfCrashHandling&, const MonitorsSelfCrashHandling&) = default;
};

struct RecurringEventsSettings {
    std::uint64_t TimeoutThresholdMs = 2000;
    bool RegisterOnServer = true;
    friend bool operator==(const RecurringEventsSettings&, const RecurringEventsSettings&) = default;
};

struct PluginPathWithArgument {
    std::vector<std::wstring> PluginArguments;
    std::wstring Path;
    friend bool operator==(const PluginPathWithArgument&, const PluginPathWithArgument&) = default;
};

// Exit codes that do not count as abnormal, as the library's four-value records.
struct ExitCodesInterval {
    std::uint32_t value1 = 0;
    std::uint32_t value2 = 0;
    std::uint32_t value3 = 0;
    std::uint32_t value4 = 0;
    friend bool operator==(const ExitCodesInterval&, const ExitCodesInterval&) = default;
};

struct AbnormalTerminationHandling {
    bool HandleAbnormalTermination = false;
    std::vector<ExitCodesInterval> ExitCodesExceptionIntervals;
    friend bool operator==(const AbnormalTerminationHandling&, const AbnormalTerminationHandling&) = default;
};

struct Configuration {
    ClientInfo ClientInformation;
    ConnectionConfig ServerConnection;
    std::uint8_t ProcessingMode = 3;
    std::wstring ReportsWorkingFolder;
    std::wstring MonitorLogsFolderPath;
    std::uint32_t MonitorLogFilesMaxCount = 5;
    std::wstring MonitorDirPath;
    ArtifactDefinitions Artifacts;
    std::vector<EventConfig> Events;
    FileCollectionRestrictions MonitorLogsRestrictions;
    ReportsCleanupPolicy CleanupPolicy;
    ReportUploadConsent UploadConsentRulesDefinition;
    QuestionDialog QuestionRestartOrTerminateDialog;
    NotifyDialog NotificationTerminateDialog;
    NotifyDialog NotificationDialog;
    PopupNotification NotificationAndTerminatePopup;
    PopupNotification NotificationPopup;
    VESK::DumpGenerationProgressSettings DumpGenerationProgressSettings;
    MonitorsSelfCrashHandling MonitorSelfCrashHandling;
    VESK::RecurringEventsSettings RecurringEventsSettings;
    std::vector<PluginPathWithArgument> MonitorPlugins;
    VESK::AbnormalTerminationHandling AbnormalTerminationHandling;
    bool EnableUiFreezeDetection = false;
    bool CollectPersonalData = true;
    bool AnticheatEnabled = false;
    bool CreateSessionFiles = false;
    bool KeepLastProcessedReports = false;
    friend bool operator==(const Configuration&, const Configuration&) = default;
};

} // namespace VESK
