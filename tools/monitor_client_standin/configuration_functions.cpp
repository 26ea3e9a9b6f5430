// The library's 136 configuration functions, family by family. Every call is
// recorded with its values; a handle shows as #id, marked when it is of another
// family or already freed. OMBRIX_STANDIN_FAIL names a setter that answers 0.
#include "recorder.h"
#include "structure.h"

#include <atomic>
#include <cstdint>
#include <cstring>
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

} // namespace

#define STRUCTURE(Family)                                                                                          \
    STANDIN_EXPORT Structure* STANDIN_CALL Create##Family() { return create(#Family); }                            \
    STANDIN_EXPORT void STANDIN_CALL Free##Family(Structure* s) { destroy(s, #Family); }
#define TEXT(Name, Family)                                                                                         \
    STANDIN_EXPORT int STANDIN_CALL Name(Structure* s, const char* v) { return answer(#Name, #Family, s, " " + Standin::quoted(v)); }
#define FLAG(Name, Family)                                                                                         \
    STANDIN_EXPORT int STANDIN_CALL Name(Structure* s, int v) { return answer(#Name, #Family, s, " " + std::to_string(v)); }
#define U32(Name, Family)                                                                                          \
    STANDIN_EXPORT int STANDIN_CALL Name(Structure* s, std::uint32_t v) { return answer(#Name, #Family, s, " " + std::to_string(v)); }
#define U64(Name, Family)                                                                                          \
    STANDIN_EXPORT int STANDIN_CALL Name(Structure* s, std::uint64_t v) { return answer(#Name, #Family, s, " " + std::to_string(v)); }
#define CHILD(Name, Family, Child)                                                                                 \
    STANDIN_EXPORT int STANDIN_CALL Name(Structure* s, const Structure* c) { return answer(#Name, #Family, s, " " + handle(c, #Child)); }
#define NAMED(Name, Family, Child)                                                                                 \
    STANDIN_EXPORT int STANDIN_CALL Name(Structure* s, const char* n, const Structure* c)                          \
    {                                                                                                              \
        return answer(#Name, #Family, s, " " + Standin::quoted(n) + " " + handle(c, #Child));                      \
    }
#define PAIR(Name, Family)                                                                                         \
    STANDIN_EXPORT int STANDIN_CALL Name(Structure* s, const char* k, const char* v)                               \
    {                                                                                                              \
        return answer(#Name, #Family, s, " " + Standin::quoted(k) + " " + Standin::quoted(v));                     \
    }
#define INTERVALS(Name, Family)                                                                                    \
    STANDIN_EXPORT int STANDIN_CALL Name(Structure* s, std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) \
    {                                                                                                              \
        return answer(#Name, #Family, s, " " + std::to_string(a) + " " + std::to_string(b) + " " +                \
                                             std::to_string(c) + " " + std::to_string(d));                         \
    }

STRUCTURE(AbnormalTerminationHandling)
FLAG(ATH_SetHandleAbnormalTermination, AbnormalTerminationHandling)
INTERVALS(ATH_InsertExitCodesExceptionIntervals, AbnormalTerminationHandling)

STRUCTURE(ArtifactDefinitions)
NAMED(AD_InsertFileArtifacts, ArtifactDefinitions, FileArtifact)

STRUCTURE(ClientInfo)
TEXT(CI_SetAppId, ClientInfo)
TEXT(CI_SetAppVersion, ClientInfo)
TEXT(CI_SetComponentId, ClientInfo)
TEXT(CI_SetClientExecutable, ClientInfo)
TEXT(CI_InsertRestartArguments, ClientInfo)
TEXT(CI_SetLongDescr, ClientInfo)
PAIR(CI_InsertCustomClientData, ClientInfo)
TEXT(CI_SetBuildCommitHash, ClientInfo)

STRUCTURE(Configuration)
CHILD(C_SetClientInformation, Configuration, ClientInfo)
CHILD(C_SetServerConnection, Configuration, ConnectionConfig)
FLAG(C_SetProcessingMode, Configuration)
TEXT(C_SetReportsWorkingFolder, Configuration)
TEXT(C_SetMonitorLogsFolderPath, Configuration)
U32(C_SetMonitorLogFilesMaxCount, Configuration)
TEXT(C_SetMonitorDirPath, Configuration)
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
TEXT(CC_SetServerUrl, ConnectionConfig)

STRUCTURE(CrashDumpArtifact)
FLAG(CDA_SetType, CrashDumpArtifact)
U32(CDA_SetTimeoutMs, CrashDumpArtifact)

STRUCTURE(DialogContent)
TEXT(DC_SetCaption, DialogContent)
TEXT(DC_SetHeader, DialogContent)
TEXT(DC_SetDescription, DialogContent)
TEXT(DC_SetHelpLinkText, DialogContent)
TEXT(DC_SetHelpLinkUrl, DialogContent)

STRUCTURE(DumpGenerationProgressSettings)
CHILD(DGPS_SetDumpProgressDialog, DumpGenerationProgressSettings, ProgressDialogContent)
FLAG(DGPS_SetShowProgressStartingFromDump, DumpGenerationProgressSettings)

STRUCTURE(EventConfig)
FLAG(EC_SetEventType, EventConfig)
TEXT(EC_SetAssertType, EventConfig)
TEXT(EC_SetCallstackHash, EventConfig)
CHILD(EC_SetDump, EventConfig, CrashDumpArtifact)
NAMED(EC_InsertFiles, EventConfig, FileCollectionRestrictions)
FLAG(EC_SetIncludeMonitorLogs, EventConfig)
FLAG(EC_SetIncludeDxDiag, EventConfig)
FLAG(EC_SetIncludeConfig, EventConfig)
CHILD(EC_SetPostEventPolicy, EventConfig, PostEventPolicy)

STRUCTURE(FileArtifact)
TEXT(FA_SetDirectory, FileArtifact)
TEXT(FA_SetFilenameMask, FileArtifact)
FLAG(FA_SetRecursiveLookup, FileArtifact)

STRUCTURE(FileCollectionRestrictions)
U32(FCR_SetMaxFilesCount, FileCollectionRestrictions)
U32(FCR_SetMaxFilesSizeKb, FileCollectionRestrictions)
U64(FCR_SetModifiedLessThanDays, FileCollectionRestrictions)

STRUCTURE(MonitorsSelfCrashHandling)
FLAG(MSCH_SetEnable, MonitorsSelfCrashHandling)
TEXT(MSCH_SetReportsFolder, MonitorsSelfCrashHandling)
TEXT(MSCH_SetServerUrl, MonitorsSelfCrashHandling)

STRUCTURE(NotifyDialog)
CHILD(ND_SetContent, NotifyDialog, DialogContent)
TEXT(ND_SetOkButtonText, NotifyDialog)

STRUCTURE(PluginPathWithArgument)
TEXT(PPWA_SetPath, PluginPathWithArgument)
TEXT(PPWA_InsertPluginArguments, PluginPathWithArgument)

STRUCTURE(PopupNotification)
TEXT(PN_SetTitle, PopupNotification)
TEXT(PN_SetDescription, PopupNotification)
U64(PN_SetDemonstrationTimeoutSeconds, PopupNotification)

STRUCTURE(PostEventPolicy)
FLAG(PEP_SetAction, PostEventPolicy)
U32(PEP_SetTerminationExitCode, PostEventPolicy)
U32(PEP_SetMaxSequentialRestartCount, PostEventPolicy)
U32(PEP_SetSequentialRestartDetectionThresholdSeconds, PostEventPolicy)

STRUCTURE(ProgressDialogContent)
TEXT(PDC_SetCaption, ProgressDialogContent)
TEXT(PDC_SetHeader, ProgressDialogContent)
TEXT(PDC_SetDescription, ProgressDialogContent)
TEXT(PDC_SetCancelMessage, ProgressDialogContent)

STRUCTURE(QuestionDialog)
CHILD(QD_SetContent, QuestionDialog, DialogContent)
TEXT(QD_SetYesButtonText, QuestionDialog)
TEXT(QD_SetNoButtonText, QuestionDialog)
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
