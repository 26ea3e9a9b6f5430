#include "to_c_struct.h"

#include "err/utf.h"

namespace VESK {

namespace {

template <class S>
Handle<S> create(const ConfigurationTable& api, Api::Create<S> create, Api::Free<S> free)
{
    Handle<S> handle(create(), HandleDeleter<S>{api, free});
    if (!handle)
        throw std::runtime_error("Unable to create a structure at VESK::ToCStruct");
    return handle;
}

void check(int result)
{
    if (result != 1)
        throw Error::UnableToSetProperty(result);
}

template <class S>
void set(Api::SetText<S> setter, const Handle<S>& handle, const std::wstring& text)
{
    check(setter(handle.get(), Err::toUtf8Replacing(text).c_str()));
}
template <class S>
void set(Api::SetText<S> setter, const Handle<S>& handle, const std::string& text)
{
    check(setter(handle.get(), text.c_str()));
}
template <class S>
void set(Api::SetInt<S> setter, const Handle<S>& handle, int value)
{
    check(setter(handle.get(), value));
}
template <class S>
void set(Api::SetU32<S> setter, const Handle<S>& handle, std::uint32_t value)
{
    check(setter(handle.get(), value));
}
template <class S>
void set(Api::SetU64<S> setter, const Handle<S>& handle, std::uint64_t value)
{
    check(setter(handle.get(), value));
}
// The library copies what it is given: the nested structure is freed as soon
// as the setter returns.
template <class S, class T>
void set(Api::SetStruct<S, T> setter, const Handle<S>& handle, const Handle<T>& nested)
{
    check(setter(handle.get(), nested.get()));
}
template <class S, class T>
void insert(Api::InsertNamed<S, T> setter, const Handle<S>& handle, const std::wstring& name, const Handle<T>& nested)
{
    check(setter(handle.get(), Err::toUtf8Replacing(name).c_str(), nested.get()));
}

template <class E>
int number(E value)
{
    return static_cast<int>(value);
}

} // namespace

Handle<VESK_ABNORMAL_TERMINATION_HANDLING> ToCStruct(const ConfigurationTable& api,
                                                     const AbnormalTerminationHandling& value)
{
    auto handle = create(api, api->CreateAbnormalTerminationHandling, api->FreeAbnormalTerminationHandling);
    set(api->ATH_SetHandleAbnormalTermination, handle, value.HandleAbnormalTermination);
    for (const ExitCodesInterval& interval : value.ExitCodesExceptionIntervals)
        check(api->ATH_InsertExitCodesExceptionIntervals(handle.get(), interval.value1, interval.value2,
                                                         interval.value3, interval.value4));
    return handle;
}

Handle<VESK_ARTIFACT_DEFINITIONS> ToCStruct(const ConfigurationTable& api, const ArtifactDefinitions& value)
{
    auto handle = create(api, api->CreateArtifactDefinitions, api->FreeArtifactDefinitions);
    for (const auto& [name, artifact] : value)
        insert(api->AD_InsertFileArtifacts, handle, name, ToCStruct(api, artifact));
    return handle;
}

Handle<VESK_CLIENT_INFO> ToCStruct(const ConfigurationTable& api, const ClientInfo& value)
{
    auto handle = create(api, api->CreateClientInfo, api->FreeClientInfo);
    set(api->CI_SetAppId, handle, value.AppId);
    set(api->CI_SetAppVersion, handle, value.AppVersion);
    set(api->CI_SetComponentId, handle, value.ComponentId);
    set(api->CI_SetClientExecutable, handle, value.ClientExecutable);
    for (const std::wstring& argument : value.RestartArguments)
        set(api->CI_InsertRestartArguments, handle, argument);
    set(api->CI_SetLongDescr, handle, value.LongDescr);
    for (const auto& [key, data] : value.CustomClientData)
        check(api->CI_InsertCustomClientData(handle.get(), Err::toUtf8Replacing(key).c_str(), Err::toUtf8Replacing(data).c_str()));
    set(api->CI_SetBuildCommitHash, handle, value.BuildCommitHash);
    return handle;
}

Handle<VESK_CONFIGURATION> ToCStruct(const ConfigurationTable& api, const Configuration& value)
{
    auto handle = create(api, api->CreateConfiguration, api->FreeConfiguration);
    set(api->C_SetClientInformation, handle, ToCStruct(api, value.ClientInformation));
    set(api->C_SetServerConnection, handle, ToCStruct(api, value.ServerConnection));
    set(api->C_SetProcessingMode, handle, value.ProcessingMode);
    set(api->C_SetReportsWorkingFolder, handle, value.ReportsWorkingFolder);
    set(api->C_SetMonitorLogsFolderPath, handle, value.MonitorLogsFolderPath);
    set(api->C_SetMonitorLogFilesMaxCount, handle, value.MonitorLogFilesMaxCount);
    set(api->C_SetMonitorDirPath, handle, value.MonitorDirPath);
    set(api->C_SetArtifacts, handle, ToCStruct(api, value.Artifacts));
    for (const EventConfig& event : value.Events)
        set(api->C_InsertEvents, handle, ToCStruct(api, event));
    set(api->C_SetMonitorLogsRestrictions, handle, ToCStruct(api, value.MonitorLogsRestrictions));
    set(api->C_SetCleanupPolicy, handle, ToCStruct(api, value.CleanupPolicy));
    set(api->C_SetUploadConsentRulesDefinition, handle, ToCStruct(api, value.UploadConsentRulesDefinition));
    set(api->C_SetQuestionRestartOrTerminateDialog, handle, ToCStruct(api, value.QuestionRestartOrTerminateDialog));
    set(api->C_SetNotificationTerminateDialog, handle, ToCStruct(api, value.NotificationTerminateDialog));
    set(api->C_SetNotificationDialog, handle, ToCStruct(api, value.NotificationDialog));
    set(api->C_SetNotificationAndTerminatePopup, handle, ToCStruct(api, value.NotificationAndTerminatePopup));
    set(api->C_SetNotificationPopup, handle, ToCStruct(api, value.NotificationPopup));
    set(api->C_SetDumpGenerationProgressSettings, handle, ToCStruct(api, value.DumpGenerationProgressSettings));
    set(api->C_SetMonitorSelfCrashHandling, handle, ToCStruct(api, value.MonitorSelfCrashHandling));
    set(api->C_SetRecurringEventsSettings, handle, ToCStruct(api, value.RecurringEventsSettings));
    for (const PluginPathWithArgument& plugin : value.MonitorPlugins)
        set(api->C_InsertMonitorPlugins, handle, ToCStruct(api, plugin));
    set(api->C_SetAbnormalTerminationHandling, handle, ToCStruct(api, value.AbnormalTerminationHandling));
    set(api->C_SetEnableUiFreezeDetection, handle, value.EnableUiFreezeDetection);
    set(api->C_SetCollectPersonalData, handle, value.CollectPersonalData);
    set(api->C_SetAnticheatEnabled, handle, value.AnticheatEnabled);
    set(api->C_SetCreateSessionFiles, handle, value.CreateSessionFiles);
    set(api->C_SetKeepLastProcessedReports, handle, value.KeepLastProcessedReports);
    return handle;
}

Handle<VESK_CONNECTION_CONFIG> ToCStruct(const ConfigurationTable& api, const ConnectionConfig& value)
{
    auto handle = create(api, api->CreateConnectionConfig, api->FreeConnectionConfig);
    set(api->CC_SetServerUrl, handle, value.ServerUrl);
    return handle;
}

Handle<VESK_CRASH_DUMP_ARTIFACT> ToCStruct(const ConfigurationTable& api, const CrashDumpArtifact& value)
{
    auto handle = create(api, api->CreateCrashDumpArtifact, api->FreeCrashDumpArtifact);
    set(api->CDA_SetType, handle, number(value.Type));
    set(api->CDA_SetTimeoutMs, handle, value.TimeoutMs);
    return handle;
}

Handle<VESK_DIALOG_CONTENT> ToCStruct(const ConfigurationTable& api, const DialogContent& value)
{
    auto handle = create(api, api->CreateDialogContent, api->FreeDialogContent);
    set(api->DC_SetCaption, handle, value.Caption);
    set(api->DC_SetHeader, handle, value.Header);
    set(api->DC_SetDescription, handle, value.Description);
    set(api->DC_SetHelpLinkText, handle, value.HelpLinkText);
    set(api->DC_SetHelpLinkUrl, handle, value.HelpLinkUrl);
    return handle;
}

Handle<VESK_DUMP_GENERATION_PROGRESS_SETTINGS> ToCStruct(const ConfigurationTable& api,
                                                         const DumpGenerationProgressSettings& value)
{
    auto handle = create(api, api->CreateDumpGenerationProgressSettings, api->FreeDumpGenerationProgressSettings);
    set(api->DGPS_SetDumpProgressDialog, handle, ToCStruct(api, value.DumpProgressDialog));
    set(api->DGPS_SetShowProgressStartingFromDump, handle, number(value.ShowProgressStartingFromDump));
    return handle;
}

Handle<VESK_EVENT_CONFIG> ToCStruct(const ConfigurationTable& api, const EventConfig& value)
{
    auto handle = create(api, api->CreateEventConfig, api->FreeEventConfig);
    set(api->EC_SetEventType, handle, number(value.EventType));
    set(api->EC_SetAssertType, handle, value.AssertType);
    set(api->EC_SetCallstackHash, handle, value.CallstackHash);
    set(api->EC_SetDump, handle, ToCStruct(api, value.Dump));
    for (const auto& [name, restrictions] : value.Files)
        insert(api->EC_InsertFiles, handle, name, ToCStruct(api, restrictions));
    set(api->EC_SetIncludeMonitorLogs, handle, value.IncludeMonitorLogs);
    set(api->EC_SetIncludeDxDiag, handle, value.IncludeDxDiag);
    set(api->EC_SetIncludeConfig, handle, value.IncludeConfig);
    set(api->EC_SetPostEventPolicy, handle, ToCStruct(api, value.PostEventPolicy));
    return handle;
}

Handle<VESK_FILE_ARTIFACT> ToCStruct(const ConfigurationTable& api, const FileArtifact& value)
{
    auto handle = create(api, api->CreateFileArtifact, api->FreeFileArtifact);
    set(api->FA_SetDirectory, handle, value.Directory);
    set(api->FA_SetFilenameMask, handle, value.FilenameMask);
    set(api->FA_SetRecursiveLookup, handle, value.RecursiveLookup);
    return handle;
}

Handle<VESK_FILE_COLLECTION_RESTRICTIONS> ToCStruct(const ConfigurationTable& api,
                                                    const FileCollectionRestrictions& value)
{
    auto handle = create(api, api->CreateFileCollectionRestrictions, api->FreeFileCollectionRestrictions);
    set(api->FCR_SetMaxFilesCount, handle, value.MaxFilesCount);
    set(api->FCR_SetMaxFilesSizeKb, handle, value.MaxFilesSizeKb);
    set(api->FCR_SetModifiedLessThanDays, handle, value.ModifiedLessThanDays);
    return handle;
}

Handle<VESK_MONITORS_SELF_CRASH_HANDLING> ToCStruct(const ConfigurationTable& api,
                                                    const MonitorsSelfCrashHandling& value)
{
    auto handle = create(api, api->CreateMonitorsSelfCrashHandling, api->FreeMonitorsSelfCrashHandling);
    set(api->MSCH_SetEnable, handle, value.Enable);
    set(api->MSCH_SetReportsFolder, handle, value.ReportsFolder);
    set(api->MSCH_SetServerUrl, handle, value.ServerUrl);
    return handle;
}

Handle<VESK_NOTIFY_DIALOG> ToCStruct(const ConfigurationTable& api, const NotifyDialog& value)
{
    auto handle = create(api, api->CreateNotifyDialog, api->FreeNotifyDialog);
    set(api->ND_SetContent, handle, ToCStruct(api, value.Content));
    set(api->ND_SetOkButtonText, handle, value.OkButtonText);
    return handle;
}

Handle<VESK_PLUGIN_PATH_WITH_ARGUMENT> ToCStruct(const ConfigurationTable& api, const PluginPathWithArgument& value)
{
    auto handle = create(api, api->CreatePluginPathWithArgument, api->FreePluginPathWithArgument);
    set(api->PPWA_SetPath, handle, value.Path);
    for (const std::wstring& argument : value.PluginArguments)
        set(api->PPWA_InsertPluginArguments, handle, argument);
    return handle;
}

Handle<VESK_POPUP_NOTIFICATION> ToCStruct(const ConfigurationTable& api, const PopupNotification& value)
{
    auto handle = create(api, api->CreatePopupNotification, api->FreePopupNotification);
    set(api->PN_SetTitle, handle, value.Title);
    set(api->PN_SetDescription, handle, value.Description);
    set(api->PN_SetDemonstrationTimeoutSeconds, handle, value.DemonstrationTimeoutSeconds);
    return handle;
}

Handle<VESK_POST_EVENT_POLICY> ToCStruct(const ConfigurationTable& api, const PostEventPolicy& value)
{
    auto handle = create(api, api->CreatePostEventPolicy, api->FreePostEventPolicy);
    set(api->PEP_SetAction, handle, number(value.Action));
    set(api->PEP_SetTerminationExitCode, handle, value.TerminationExitCode);
    set(api->PEP_SetMaxSequentialRestartCount, handle, value.MaxSequentialRestartCount);
    set(api->PEP_SetSequentialRestartDetectionThresholdSeconds, handle,
        value.SequentialRestartDetectionThresholdSeconds);
    return handle;
}

Handle<VESK_PROGRESS_DIALOG_CONTENT> ToCStruct(const ConfigurationTable& api, const ProgressDialogContent& value)
{
    auto handle = create(api, api->CreateProgressDialogContent, api->FreeProgressDialogContent);
    set(api->PDC_SetCaption, handle, value.Caption);
    set(api->PDC_SetHeader, handle, value.Header);
    set(api->PDC_SetDescription, handle, value.Description);
    set(api->PDC_SetCancelMessage, handle, value.CancelMessage);
    return handle;
}

Handle<VESK_QUESTION_DIALOG> ToCStruct(const ConfigurationTable& api, const QuestionDialog& value)
{
    auto handle = create(api, api->CreateQuestionDialog, api->FreeQuestionDialog);
    set(api->QD_SetContent, handle, ToCStruct(api, value.Content));
    set(api->QD_SetYesButtonText, handle, value.YesButtonText);
    set(api->QD_SetNoButtonText, handle, value.NoButtonText);
    set(api->QD_SetDefaultButton, handle, value.DefaultButton);
    set(api->QD_SetAutoDefaultTimeoutSeconds, handle, value.AutoDefaultTimeoutSeconds);
    return handle;
}

Handle<VESK_RECURRING_EVENTS_SETTINGS> ToCStruct(const ConfigurationTable& api, const RecurringEventsSettings& value)
{
    auto handle = create(api, api->CreateRecurringEventsSettings, api->FreeRecurringEventsSettings);
    set(api->RES_SetTimeoutThresholdMs, handle, value.TimeoutThresholdMs);
    set(api->RES_SetRegisterOnServer, handle, value.RegisterOnServer);
    return handle;
}

Handle<VESK_REPORT_UPLOAD_CONSENT> ToCStruct(const ConfigurationTable& api, const ReportUploadConsent& value)
{
    auto handle = create(api, api->CreateReportUploadConsent, api->FreeReportUploadConsent);
    set(api->RUC_SetShowDialogOption, handle, value.ShowDialogOption);
    set(api->RUC_SetReportArchiveSizeThresholdKb, handle, value.ReportArchiveSizeThresholdKb);
    set(api->RUC_SetConsentDialog, handle, ToCStruct(api, value.ConsentDialog));
    return handle;
}

Handle<VESK_REPORTS_CLEANUP_POLICY> ToCStruct(const ConfigurationTable& api, const ReportsCleanupPolicy& value)
{
    auto handle = create(api, api->CreateReportsCleanupPolicy, api->FreeReportsCleanupPolicy);
    set(api->RCP_SetMaxSizeKb, handle, value.MaxSizeKb);
    set(api->RCP_SetMaxCount, handle, value.MaxCount);
    set(api->RCP_SetMaxAgeDays, handle, value.MaxAgeDays);
    return handle;
}

} // namespace VESK
