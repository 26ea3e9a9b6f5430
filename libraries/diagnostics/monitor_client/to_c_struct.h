#pragma once

// Conversion of the configuration into the library's own structures, one
// function per structure, calling the setters in the table's order.
#include "api_tables.h"
#include "vesk_configuration.h"
#include "vesk_error.h"

#include <memory>

namespace VESK {

using ConfigurationTable = std::shared_ptr<const CConfigAPIDynamicLibWrapper>;

// Frees a library structure; keeps the table, and so the module's functions, alive.
template <class S>
struct HandleDeleter {
    ConfigurationTable table;
    Api::Free<S> free = nullptr;
    void operator()(S* structure) const noexcept { free(structure); }
};

template <class S>
using Handle = std::unique_ptr<S, HandleDeleter<S>>;

// Each throws Error::UnableToSetProperty when the library refuses a value; what
// was made so far is freed.
Handle<VESK_ABNORMAL_TERMINATION_HANDLING> ToCStruct(const ConfigurationTable&, const AbnormalTerminationHandling&);
Handle<VESK_ARTIFACT_DEFINITIONS> ToCStruct(const ConfigurationTable&, const ArtifactDefinitions&);
Handle<VESK_CLIENT_INFO> ToCStruct(const ConfigurationTable&, const ClientInfo&);
Handle<VESK_CONFIGURATION> ToCStruct(const ConfigurationTable&, const Configuration&);
Handle<VESK_CONNECTION_CONFIG> ToCStruct(const ConfigurationTable&, const ConnectionConfig&);
Handle<VESK_CRASH_DUMP_ARTIFACT> ToCStruct(const ConfigurationTable&, const CrashDumpArtifact&);
Handle<VESK_DIALOG_CONTENT> ToCStruct(const ConfigurationTable&, const DialogContent&);
Handle<VESK_DUMP_GENERATION_PROGRESS_SETTINGS> ToCStruct(const ConfigurationTable&,
                                                         const DumpGenerationProgressSettings&);
Handle<VESK_EVENT_CONFIG> ToCStruct(const ConfigurationTable&, const EventConfig&);
Handle<VESK_FILE_ARTIFACT> ToCStruct(const ConfigurationTable&, const FileArtifact&);
Handle<VESK_FILE_COLLECTION_RESTRICTIONS> ToCStruct(const ConfigurationTable&, const FileCollectionRestrictions&);
Handle<VESK_MONITORS_SELF_CRASH_HANDLING> ToCStruct(const ConfigurationTable&, const MonitorsSelfCrashHandling&);
Handle<VESK_NOTIFY_DIALOG> ToCStruct(const ConfigurationTable&, const NotifyDialog&);
Handle<VESK_PLUGIN_PATH_WITH_ARGUMENT> ToCStruct(const ConfigurationTable&, const PluginPathWithArgument&);
Handle<VESK_POPUP_NOTIFICATION> ToCStruct(const ConfigurationTable&, const PopupNotification&);
Handle<VESK_POST_EVENT_POLICY> ToCStruct(const ConfigurationTable&, const PostEventPolicy&);
Handle<VESK_PROGRESS_DIALOG_CONTENT> ToCStruct(const ConfigurationTable&, const ProgressDialogContent&);
Handle<VESK_QUESTION_DIALOG> ToCStruct(const ConfigurationTable&, const QuestionDialog&);
Handle<VESK_RECURRING_EVENTS_SETTINGS> ToCStruct(const ConfigurationTable&, const RecurringEventsSettings&);
Handle<VESK_REPORT_UPLOAD_CONSENT> ToCStruct(const ConfigurationTable&, const ReportUploadConsent&);
Handle<VESK_REPORTS_CLEANUP_POLICY> ToCStruct(const ConfigurationTable&, const ReportsCleanupPolicy&);

} // namespace VESK
