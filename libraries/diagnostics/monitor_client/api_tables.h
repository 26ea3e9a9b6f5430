#pragma once

// The functions of monitor_client_impl.dll, each named once: the two tables
// below are generated from these lists, and one loop looks them up in order.
#include "vesk_api.h"

#include <windows.h>

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

// X(name, type in VESK::Api)
#define VESK_CORE_FUNCTIONS(X)                                                                                     \
    X(GetApiVersion, GetApiVersion)                                                                                \
    X(GetStatus, GetStatus)                                                                                        \
    X(InitLib_Dyn, InitLib)                                                                                        \
    X(RaiseAssert, RaiseAssert)                                                                                    \
    X(RaiseAssertSync, RaiseAssert)                                                                                \
    X(TerminateLib, NoArguments)                                                                                   \
    X(StopOutprocessHandlingAndShutdownMonitor_Dyn, NoArguments)                                                   \
    X(ReportException, ReportException)                                                                            \
    X(ReportTermination, NoArguments)                                                                              \
    X(ReportSystemExceptionRecord, ReportSystemExceptionRecord)                                                    \
    X(RegisterOnEventEndCallback_Dyn, RegisterEnd)                                                                 \
    X(RegisterOnEventBeginCallback_Dyn, RegisterBegin)                                                             \
    X(UnregisterCallback, UnregisterCallback)

// Family by family: the structure's create function, its setters in the order
// conversion calls them, its free function.
#define VESK_CONFIGURATION_FUNCTIONS(X)                                                                            \
    X(CreateAbnormalTerminationHandling, Create<VESK_ABNORMAL_TERMINATION_HANDLING>)                               \
    X(ATH_SetHandleAbnormalTermination, SetInt<VESK_ABNORMAL_TERMINATION_HANDLING>)                                \
    X(ATH_InsertExitCodesExceptionIntervals, InsertInterval<VESK_ABNORMAL_TERMINATION_HANDLING>)                   \
    X(FreeAbnormalTerminationHandling, Free<VESK_ABNORMAL_TERMINATION_HANDLING>)                                   \
    X(CreateArtifactDefinitions, Create<VESK_ARTIFACT_DEFINITIONS>)                                                \
    X(AD_InsertFileArtifacts, InsertNamed<VESK_ARTIFACT_DEFINITIONS, VESK_FILE_ARTIFACT>)                          \
    X(FreeArtifactDefinitions, Free<VESK_ARTIFACT_DEFINITIONS>)                                                    \
    X(CreateClientInfo, Create<VESK_CLIENT_INFO>)                                                                  \
    X(CI_SetAppId, SetText<VESK_CLIENT_INFO>)                                                                      \
    X(CI_SetAppVersion, SetText<VESK_CLIENT_INFO>)                                                                 \
    X(CI_SetComponentId, SetText<VESK_CLIENT_INFO>)                                                                \
    X(CI_SetClientExecutable, SetText<VESK_CLIENT_INFO>)                                                           \
    X(CI_InsertRestartArguments, SetText<VESK_CLIENT_INFO>)                                                        \
    X(CI_SetLongDescr, SetText<VESK_CLIENT_INFO>)                                                                  \
    X(CI_InsertCustomClientData, InsertPair<VESK_CLIENT_INFO>)                                                     \
    X(CI_SetBuildCommitHash, SetText<VESK_CLIENT_INFO>)                                                            \
    X(FreeClientInfo, Free<VESK_CLIENT_INFO>)                                                                      \
    X(CreateConfiguration, Create<VESK_CONFIGURATION>)                                                             \
    X(C_SetClientInformation, SetStruct<VESK_CONFIGURATION, VESK_CLIENT_INFO>)                                     \
    X(C_SetServerConnection, SetStruct<VESK_CONFIGURATION, VESK_CONNECTION_CONFIG>)                                \
    X(C_SetProcessingMode, SetInt<VESK_CONFIGURATION>)                                                             \
    X(C_SetReportsWorkingFolder, SetText<VESK_CONFIGURATION>)                                                      \
    X(C_SetMonitorLogsFolderPath, SetText<VESK_CONFIGURATION>)                                                     \
    X(C_SetMonitorLogFilesMaxCount, SetU32<VESK_CONFIGURATION>)                                                    \
    X(C_SetMonitorDirPath, SetText<VESK_CONFIGURATION>)                                                            \
    X(C_SetArtifacts, SetStruct<VESK_CONFIGURATION, VESK_ARTIFACT_DEFINITIONS>)                                    \
    X(C_InsertEvents, SetStruct<VESK_CONFIGURATION, VESK_EVENT_CONFIG>)                                            \
    X(C_SetMonitorLogsRestrictions, SetStruct<VESK_CONFIGURATION, VESK_FILE_COLLECTION_RESTRICTIONS>)              \
    X(C_SetCleanupPolicy, SetStruct<VESK_CONFIGURATION, VESK_REPORTS_CLEANUP_POLICY>)                              \
    X(C_SetUploadConsentRulesDefinition, SetStruct<VESK_CONFIGURATION, VESK_REPORT_UPLOAD_CONSENT>)                \
    X(C_SetQuestionRestartOrTerminateDialog, SetStruct<VESK_CONFIGURATION, VESK_QUESTION_DIALOG>)                  \
    X(C_SetNotificationTerminateDialog, SetStruct<VESK_CONFIGURATION, VESK_NOTIFY_DIALOG>)                         \
    X(C_SetNotificationDialog, SetStruct<VESK_CONFIGURATION, VESK_NOTIFY_DIALOG>)                                  \
    X(C_SetNotificationAndTerminatePopup, SetStruct<VESK_CONFIGURATION, VESK_POPUP_NOTIFICATION>)                  \
    X(C_SetNotificationPopup, SetStruct<VESK_CONFIGURATION, VESK_POPUP_NOTIFICATION>)                              \
    X(C_SetDumpGenerationProgressSettings, SetStruct<VESK_CONFIGURATION, VESK_DUMP_GENERATION_PROGRESS_SETTINGS>)  \
    X(C_SetMonitorSelfCrashHandling, SetStruct<VESK_CONFIGURATION, VESK_MONITORS_SELF_CRASH_HANDLING>)             \
    X(C_SetRecurringEventsSettings, SetStruct<VESK_CONFIGURATION, VESK_RECURRING_EVENTS_SETTINGS>)                 \
    X(C_InsertMonitorPlugins, SetStruct<VESK_CONFIGURATION, VESK_PLUGIN_PATH_WITH_ARGUMENT>)                       \
    X(C_SetAbnormalTerminationHandling, SetStruct<VESK_CONFIGURATION, VESK_ABNORMAL_TERMINATION_HANDLING>)         \
    X(C_SetEnableUiFreezeDetection, SetInt<VESK_CONFIGURATION>)                                                    \
    X(C_SetCollectPersonalData, SetInt<VESK_CONFIGURATION>)                                                        \
    X(C_SetAnticheatEnabled, SetInt<VESK_CONFIGURATION>)                                                           \
    X(C_SetCreateSessionFiles, SetInt<VESK_CONFIGURATION>)                                                         \
    X(C_SetKeepLastProcessedReports, SetInt<VESK_CONFIGURATION>)                                                   \
    X(FreeConfiguration, Free<VESK_CONFIGURATION>)                                                                 \
    X(CreateConnectionConfig, Create<VESK_CONNECTION_CONFIG>)                                                      \
    X(CC_SetServerUrl, SetText<VESK_CONNECTION_CONFIG>)                                                            \
    X(FreeConnectionConfig, Free<VESK_CONNECTION_CONFIG>)                                                          \
    X(CreateCrashDumpArtifact, Create<VESK_CRASH_DUMP_ARTIFACT>)                                                   \
    X(CDA_SetType, SetInt<VESK_CRASH_DUMP_ARTIFACT>)                                                               \
    X(CDA_SetTimeoutMs, SetU32<VESK_CRASH_DUMP_ARTIFACT>)                                                          \
    X(FreeCrashDumpArtifact, Free<VESK_CRASH_DUMP_ARTIFACT>)                                                       \
    X(CreateDialogContent, Create<VESK_DIALOG_CONTENT>)                                                            \
    X(DC_SetCaption, SetText<VESK_DIALOG_CONTENT>)                                                                 \
    X(DC_SetHeader, SetText<VESK_DIALOG_CONTENT>)                                                                  \
    X(DC_SetDescription, SetText<VESK_DIALOG_CONTENT>)                                                             \
    X(DC_SetHelpLinkText, SetText<VESK_DIALOG_CONTENT>)                                                            \
    X(DC_SetHelpLinkUrl, SetText<VESK_DIALOG_CONTENT>)                                                             \
    X(FreeDialogContent, Free<VESK_DIALOG_CONTENT>)                                                                \
    X(CreateDumpGenerationProgressSettings, Create<VESK_DUMP_GENERATION_PROGRESS_SETTINGS>)                        \
    X(DGPS_SetDumpProgressDialog, SetStruct<VESK_DUMP_GENERATION_PROGRESS_SETTINGS, VESK_PROGRESS_DIALOG_CONTENT>) \
    X(DGPS_SetShowProgressStartingFromDump, SetInt<VESK_DUMP_GENERATION_PROGRESS_SETTINGS>)                        \
    X(FreeDumpGenerationProgressSettings, Free<VESK_DUMP_GENERATION_PROGRESS_SETTINGS>)                            \
    X(CreateEventConfig, Create<VESK_EVENT_CONFIG>)                                                                \
    X(EC_SetEventType, SetInt<VESK_EVENT_CONFIG>)                                                                  \
    X(EC_SetAssertType, SetText<VESK_EVENT_CONFIG>)                                                                \
    X(EC_SetCallstackHash, SetText<VESK_EVENT_CONFIG>)                                                             \
    X(EC_SetDump, SetStruct<VESK_EVENT_CONFIG, VESK_CRASH_DUMP_ARTIFACT>)                                          \
    X(EC_InsertFiles, InsertNamed<VESK_EVENT_CONFIG, VESK_FILE_COLLECTION_RESTRICTIONS>)                           \
    X(EC_SetIncludeMonitorLogs, SetInt<VESK_EVENT_CONFIG>)                                                         \
    X(EC_SetIncludeDxDiag, SetInt<VESK_EVENT_CONFIG>)                                                              \
    X(EC_SetIncludeConfig, SetInt<VESK_EVENT_CONFIG>)                                                              \
    X(EC_SetPostEventPolicy, SetStruct<VESK_EVENT_CONFIG, VESK_POST_EVENT_POLICY>)                                 \
    X(FreeEventConfig, Free<VESK_EVENT_CONFIG>)                                                                    \
    X(CreateFileArtifact, Create<VESK_FILE_ARTIFACT>)                                                              \
    X(FA_SetDirectory, SetText<VESK_FILE_ARTIFACT>)                                                                \
    X(FA_SetFilenameMask, SetText<VESK_FILE_ARTIFACT>)                                                             \
    X(FA_SetRecursiveLookup, SetInt<VESK_FILE_ARTIFACT>)                                                           \
    X(FreeFileArtifact, Free<VESK_FILE_ARTIFACT>)                                                                  \
    X(CreateFileCollectionRestrictions, Create<VESK_FILE_COLLECTION_RESTRICTIONS>)                                 \
    X(FCR_SetMaxFilesCount, SetU32<VESK_FILE_COLLECTION_RESTRICTIONS>)                                             \
    X(FCR_SetMaxFilesSizeKb, SetU32<VESK_FILE_COLLECTION_RESTRICTIONS>)                                            \
    X(FCR_SetModifiedLessThanDays, SetU64<VESK_FILE_COLLECTION_RESTRICTIONS>)                                      \
    X(FreeFileCollectionRestrictions, Free<VESK_FILE_COLLECTION_RESTRICTIONS>)                                     \
    X(CreateMonitorsSelfCrashHandling, Create<VESK_MONITORS_SELF_CRASH_HANDLING>)                                  \
    X(MSCH_SetEnable, SetInt<VESK_MONITORS_SELF_CRASH_HANDLING>)                                                   \
    X(MSCH_SetReportsFolder, SetText<VESK_MONITORS_SELF_CRASH_HANDLING>)                                           \
    X(MSCH_SetServerUrl, SetText<VESK_MONITORS_SELF_CRASH_HANDLING>)                                               \
    X(FreeMonitorsSelfCrashHandling, Free<VESK_MONITORS_SELF_CRASH_HANDLING>)                                      \
    X(CreateNotifyDialog, Create<VESK_NOTIFY_DIALOG>)                                                              \
    X(ND_SetContent, SetStruct<VESK_NOTIFY_DIALOG, VESK_DIALOG_CONTENT>)                                           \
    X(ND_SetOkButtonText, SetText<VESK_NOTIFY_DIALOG>)                                                             \
    X(FreeNotifyDialog, Free<VESK_NOTIFY_DIALOG>)                                                                  \
    X(CreatePluginPathWithArgument, Create<VESK_PLUGIN_PATH_WITH_ARGUMENT>)                                        \
    X(PPWA_SetPath, SetText<VESK_PLUGIN_PATH_WITH_ARGUMENT>)                                                       \
    X(PPWA_InsertPluginArguments, SetText<VESK_PLUGIN_PATH_WITH_ARGUMENT>)                                         \
    X(FreePluginPathWithArgument, Free<VESK_PLUGIN_PATH_WITH_ARGUMENT>)                                            \
    X(CreatePopupNotification, Create<VESK_POPUP_NOTIFICATION>)                                                    \
    X(PN_SetTitle, SetText<VESK_POPUP_NOTIFICATION>)                                                               \
    X(PN_SetDescription, SetText<VESK_POPUP_NOTIFICATION>)                                                         \
    X(PN_SetDemonstrationTimeoutSeconds, SetU64<VESK_POPUP_NOTIFICATION>)                                          \
    X(FreePopupNotification, Free<VESK_POPUP_NOTIFICATION>)                                                        \
    X(CreatePostEventPolicy, Create<VESK_POST_EVENT_POLICY>)                                                       \
    X(PEP_SetAction, SetInt<VESK_POST_EVENT_POLICY>)                                                               \
    X(PEP_SetTerminationExitCode, SetU32<VESK_POST_EVENT_POLICY>)                                                  \
    X(PEP_SetMaxSequentialRestartCount, SetU32<VESK_POST_EVENT_POLICY>)                                            \
    X(PEP_SetSequentialRestartDetectionThresholdSeconds, SetU32<VESK_POST_EVENT_POLICY>)                           \
    X(FreePostEventPolicy, Free<VESK_POST_EVENT_POLICY>)                                                           \
    X(CreateProgressDialogContent, Create<VESK_PROGRESS_DIALOG_CONTENT>)                                           \
    X(PDC_SetCaption, SetText<VESK_PROGRESS_DIALOG_CONTENT>)                                                       \
    X(PDC_SetHeader, SetText<VESK_PROGRESS_DIALOG_CONTENT>)                                                        \
    X(PDC_SetDescription, SetText<VESK_PROGRESS_DIALOG_CONTENT>)                                                   \
    X(PDC_SetCancelMessage, SetText<VESK_PROGRESS_DIALOG_CONTENT>)                                                 \
    X(FreeProgressDialogContent, Free<VESK_PROGRESS_DIALOG_CONTENT>)                                               \
    X(CreateQuestionDialog, Create<VESK_QUESTION_DIALOG>)                                                          \
    X(QD_SetContent, SetStruct<VESK_QUESTION_DIALOG, VESK_DIALOG_CONTENT>)                                         \
    X(QD_SetYesButtonText, SetText<VESK_QUESTION_DIALOG>)                                                          \
    X(QD_SetNoButtonText, SetText<VESK_QUESTION_DIALOG>)                                                           \
    X(QD_SetDefaultButton, SetInt<VESK_QUESTION_DIALOG>)                                                           \
    X(QD_SetAutoDefaultTimeoutSeconds, SetU32<VESK_QUESTION_DIALOG>)                                               \
    X(FreeQuestionDialog, Free<VESK_QUESTION_DIALOG>)                                                              \
    X(CreateRecurringEventsSettings, Create<VESK_RECURRING_EVENTS_SETTINGS>)                                       \
    X(RES_SetTimeoutThresholdMs, SetU64<VESK_RECURRING_EVENTS_SETTINGS>)                                           \
    X(RES_SetRegisterOnServer, SetInt<VESK_RECURRING_EVENTS_SETTINGS>)                                             \
    X(FreeRecurringEventsSettings, Free<VESK_RECURRING_EVENTS_SETTINGS>)                                           \
    X(CreateReportUploadConsent, Create<VESK_REPORT_UPLOAD_CONSENT>)                                               \
    X(RUC_SetShowDialogOption, SetInt<VESK_REPORT_UPLOAD_CONSENT>)                                                 \
    X(RUC_SetReportArchiveSizeThresholdKb, SetU32<VESK_REPORT_UPLOAD_CONSENT>)                                     \
    X(RUC_SetConsentDialog, SetStruct<VESK_REPORT_UPLOAD_CONSENT, VESK_QUESTION_DIALOG>)                           \
    X(FreeReportUploadConsent, Free<VESK_REPORT_UPLOAD_CONSENT>)                                                   \
    X(CreateReportsCleanupPolicy, Create<VESK_REPORTS_CLEANUP_POLICY>)                                             \
    X(RCP_SetMaxSizeKb, SetU64<VESK_REPORTS_CLEANUP_POLICY>)                                                       \
    X(RCP_SetMaxCount, SetU64<VESK_REPORTS_CLEANUP_POLICY>)                                                        \
    X(RCP_SetMaxAgeDays, SetU64<VESK_REPORTS_CLEANUP_POLICY>)                                                      \
    X(FreeReportsCleanupPolicy, Free<VESK_REPORTS_CLEANUP_POLICY>)

namespace VESK {

#define VESK_TABLE_SLOT(name, ...) Api::__VA_ARGS__ name = nullptr;

// The 13 core functions.
struct MonitorAPIDynamicLibWrapper {
    VESK_CORE_FUNCTIONS(VESK_TABLE_SLOT)
};

// The 136 configuration functions.
struct CConfigAPIDynamicLibWrapper {
    VESK_CONFIGURATION_FUNCTIONS(VESK_TABLE_SLOT)
};

#undef VESK_TABLE_SLOT

// Every slot of a table with its exported name, in table order.
template <class Table, class Visitor>
void forEachFunction(Table& table, Visitor&& visit)
{
#define VESK_VISIT_SLOT(name, ...) visit(#name, table.name);
    if constexpr (std::is_same_v<std::remove_const_t<Table>, MonitorAPIDynamicLibWrapper>) {
        VESK_CORE_FUNCTIONS(VESK_VISIT_SLOT)
    } else {
        VESK_CONFIGURATION_FUNCTIONS(VESK_VISIT_SLOT)
    }
#undef VESK_VISIT_SLOT
}

// Looks up every function of the table in its order; throws std::runtime_error
// "Unable to locate function "<name>". Error code: <code>" at the first missing one.
std::shared_ptr<const MonitorAPIDynamicLibWrapper> bindCoreFunctions(HMODULE module);
std::shared_ptr<const CConfigAPIDynamicLibWrapper> bindConfigurationFunctions(HMODULE module);

// The names of both tables, core first.
std::vector<std::string> functionNames();

} // namespace VESK
