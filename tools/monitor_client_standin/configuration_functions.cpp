// The library's 136 configuration functions, family by family. Every call is
// recorded with its values; a handle shows as #id, marked when it is of another
// family or already freed. OMBRIX_STANDIN_FAIL names a setter that answers 0.
#include "recorder.h"
#include "structure.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>

namespace {

std::atomic<int> lastId{0};

std::string handle(const Structure* structure, const char* family)
{
    if (structure == nullptr)
        return "(null)";
    std::string text = "#" + std::to_string(structure->id);
    if (!structure->alive)
        text += "(freed)";
    else if (std::strcmp(structure->family, family) != 0)
        text += "(" + std::string(structure->family) + ")";
    return text;
}

int answer(const char* setter, const char* family, const Structure* structure, const std::string& values)
{
    const std::wstring refused = Standin::environment(L"OMBRIX_STANDIN_FAIL");
    const bool refuse = !refused.empty() && refused == std::wstring(setter, setter + std::strlen(setter));
    Standin::record(std::string(setter) + " " + handle(structure, family) + values + (refuse ? " -> 0" : ""));
    return refuse ? 0 : 1;
}

// Never deleted, so that a use after free shows in the record instead of crashing.
Structure* create(const char* family)
{
    auto* structure = new Structure{++lastId, family, true};
    Standin::record(std::string("Create") + family + " -> #" + std::to_string(structure->id));
    return structure;
}

void destroy(Structure* structure, const char* family)
{
    Standin::record(std::string("Free") + family + " " + handle(structure, family));
    if (structure != nullptr)
        structure->alive = false;
}

std::string text(const char* value)
{
    return " " + Standin::quoted(value);
}

std::string numbers(std::initializer_list<std::uint64_t> values)
{
    std::string text;
    for (const std::uint64_t value : values)
        text += " " + std::to_string(value);
    return text;
}

} // namespace

#define STRUCTURE(Family)                                                                                          \
    STANDIN_EXPORT Structure* STANDIN_CALL Create##Family() { return create(#Family); }                            \
    STANDIN_EXPORT void STANDIN_CALL Free##Family(Structure* s) { destroy(s, #Family); }
#define SETTER(Name, Family, Parameters, Values)                                                                   \
    STANDIN_EXPORT int STANDIN_CALL Name(Structure* s, Parameters) { return answer(#Name, #Family, s, Values); }
#define COMMA ,
#define STRING(Name, Family) SETTER(Name, Family, const char* v, text(v))
#define FLAG(Name, Family) SETTER(Name, Family, int v, " " + std::to_string(v))
#define U32(Name, Family) SETTER(Name, Family, std::uint32_t v, numbers({v}))
#define U64(Name, Family) SETTER(Name, Family, std::uint64_t v, numbers({v}))
#define CHILD(Name, Family, Child) SETTER(Name, Family, const Structure* c, " " + handle(c, #Child))
#define NAMED(Name, Family, Child)                                                                                 \
    SETTER(Name, Family, const char* n COMMA const Structure* c, text(n) + " " + handle(c, #Child))
#define PAIR(Name, Family) SETTER(Name, Family, const char* k COMMA const char* v, text(k) + text(v))
#define INTERVALS(Name, Family)                                                                                    \
    SETTER(Name, Family, std::uint32_t a COMMA std::uint32_t b COMMA std::uint32_t c COMMA std::uint32_t d,        \
           numbers({a, b, c, d}))

STRUCTURE(AbnormalTerminationHandling)
FLAG(ATH_SetHandleAbnormalTermination, AbnormalTerminationHandling)
INTERVALS(ATH_InsertExitCodesExceptionIntervals, AbnormalTerminationHandling)

STRUCTURE(ArtifactDefinitions)
NAMED(AD_InsertFileArtifacts, ArtifactDefinitions, FileArtifact)

STRUCTURE(ClientInfo)
STRING(CI_SetAppId, ClientInfo)
STRING(CI_SetAppVersion, ClientInfo)
STRING(CI_SetComponentId, ClientInfo)
STRING(CI_SetClientExecutable, ClientInfo)
STRING(CI_InsertRestartArguments, ClientInfo)
STRING(CI_SetLongDescr, ClientInfo)
PAIR(CI_InsertCustomClientData, ClientInfo)
STRING(CI_SetBuildCommitHash, ClientInfo)

STRUCTURE(Configuration)
CHILD(C_SetClientInformation, Configuration, ClientInfo)
CHILD(C_SetServerConnection, Configuration, ConnectionConfig)
FLAG(C_SetProcessingMode, Configuration)
STRING(C_SetReportsWorkingFolder, Configuration)
STRING(C_SetMonitorLogsFolderPath, Configuration)
U32(C_SetMonitorLogFilesMaxCount, Configuration)
STRING(C_SetMonitorDirPath, Configuration)
CHILD(C_SetArtifacts, Configuration, ArtifactDefinitions)
CHILD(C_InsertEvents, Configuration, EventConfig)
CHILD(C_SetMonitorLogsRestrictions, Configuration, FileCollectionRestrictions)
CHILD(C_SetCleanupPolicy, Configuration, ReportsCleanupPolicy)
CHILD(C_SetUploadConsentRulesDefinition, Configuration, ReportUploadConsent)
CHILD(C_SetQuestionRestartOrTerminateDialog, Configuration, QuestionDialog)
CHILD(C_SetNotificationTerminateDialog, Configuration, NotifyDialog)
CHILD(C_SetNotificationDialog, Configuration, NotifyDialog)
CHILD(C_SetNotificationAndTerminatePopup, Configuration, PopupNotification)
CHILD(C_SetNotificationPopup, Configuration, PopupNotification)
CHILD(C_SetDumpGenerationProgressSettings, Configuration, DumpGenerationProgressSettings)
CHILD(C_SetMonitorSelfCrashHandling, Configuration, MonitorsSelfCrashHandling)
CHILD(C_SetRecurringEventsSettings, Configuration, RecurringEventsSettings)
CHILD(C_InsertMonitorPlugins, Configuration, PluginPathWithArgument)
CHILD(C_SetAbnormalTerminationHandling, Configuration, AbnormalTerminationHandling)
FLAG(C_SetEnableUiFreezeDetection, Configuration)
FLAG(C_SetCollectPersonalData, Configuration)
FLAG(C_SetAnticheatEnabled, Configuration)
FLAG(C_SetCreateSessionFiles, Configuration)
FLAG(C_SetKeepLastProcessedReports, Configuration)

STRUCTURE(ConnectionConfig)
STRING(CC_SetServerUrl, ConnectionConfig)

STRUCTURE(CrashDumpArtifact)
FLAG(CDA_SetType, CrashDumpArtifact)
U32(CDA_SetTimeoutMs, CrashDumpArtifact)

STRUCTURE(DialogContent)
STRING(DC_SetCaption, DialogContent)
STRING(DC_SetHeader, DialogContent)
STRING(DC_SetDescription, DialogContent)
STRING(DC_SetHelpLinkText, DialogContent)
STRING(DC_SetHelpLinkUrl, DialogContent)

STRUCTURE(DumpGenerationProgressSettings)
CHILD(DGPS_SetDumpProgressDialog, DumpGenerationProgressSettings, ProgressDialogContent)
FLAG(DGPS_SetShowProgressStartingFromDump, DumpGenerationProgressSettings)

STRUCTURE(EventConfig)
FLAG(EC_SetEventType, EventConfig)
STRING(EC_SetAssertType, EventConfig)
STRING(EC_SetCallstackHash, EventConfig)
CHILD(EC_SetDump, EventConfig, CrashDumpArtifact)
NAMED(EC_InsertFiles, EventConfig, FileCollectionRestrictions)
FLAG(EC_SetIncludeMonitorLogs, EventConfig)
FLAG(EC_SetIncludeDxDiag, EventConfig)
FLAG(EC_SetIncludeConfig, EventConfig)
CHILD(EC_SetPostEventPolicy, EventConfig, PostEventPolicy)

STRUCTURE(FileArtifact)
STRING(FA_SetDirectory, FileArtifact)
STRING(FA_SetFilenameMask, FileArtifact)
FLAG(FA_SetRecursiveLookup, FileArtifact)

STRUCTURE(FileCollectionRestrictions)
U32(FCR_SetMaxFilesCount, FileCollectionRestrictions)
U32(FCR_SetMaxFilesSizeKb, FileCollectionRestrictions)
U64(FCR_SetModifiedLessThanDays, FileCollectionRestrictions)

STRUCTURE(MonitorsSelfCrashHandling)
FLAG(MSCH_SetEnable, MonitorsSelfCrashHandling)
STRING(MSCH_SetReportsFolder, MonitorsSelfCrashHandling)
STRING(MSCH_SetServerUrl, MonitorsSelfCrashHandling)

STRUCTURE(NotifyDialog)
CHILD(ND_SetContent, NotifyDialog, DialogContent)
STRING(ND_SetOkButtonText, NotifyDialog)

STRUCTURE(PluginPathWithArgument)
STRING(PPWA_SetPath, PluginPathWithArgument)
STRING(PPWA_InsertPluginArguments, PluginPathWithArgument)

STRUCTURE(PopupNotification)
STRING(PN_SetTitle, PopupNotification)
STRING(PN_SetDescription, PopupNotification)
U64(PN_SetDemonstrationTimeoutSeconds, PopupNotification)

STRUCTURE(PostEventPolicy)
FLAG(PEP_SetAction, PostEventPolicy)
U32(PEP_SetTerminationExitCode, PostEventPolicy)
U32(PEP_SetMaxSequentialRestartCount, PostEventPolicy)
U32(PEP_SetSequentialRestartDetectionThresholdSeconds, PostEventPolicy)

STRUCTURE(ProgressDialogContent)
STRING(PDC_SetCaption, ProgressDialogContent)
STRING(PDC_SetHeader, ProgressDialogContent)
STRING(PDC_SetDescription, ProgressDialogContent)
STRING(PDC_SetCancelMessage, ProgressDialogContent)

STRUCTURE(QuestionDialog)
CHILD(QD_SetContent, QuestionDialog, DialogContent)
STRING(QD_SetYesButtonText, QuestionDialog)
STRING(QD_SetNoButtonText, QuestionDialog)
FLAG(QD_SetDefaultButton, QuestionDialog)
U32(QD_SetAutoDefaultTimeoutSeconds, QuestionDialog)

STRUCTURE(RecurringEventsSettings)
U64(RES_SetTimeoutThresholdMs, RecurringEventsSettings)
FLAG(RES_SetRegisterOnServer, RecurringEventsSettings)

STRUCTURE(ReportUploadConsent)
FLAG(RUC_SetShowDialogOption, ReportUploadConsent)
U32(RUC_SetReportArchiveSizeThresholdKb, ReportUploadConsent)
CHILD(RUC_SetConsentDialog, ReportUploadConsent, QuestionDialog)

STRUCTURE(ReportsCleanupPolicy)
U64(RCP_SetMaxSizeKb, ReportsCleanupPolicy)
U64(RCP_SetMaxCount, ReportsCleanupPolicy)
U64(RCP_SetMaxAgeDays, ReportsCleanupPolicy)
