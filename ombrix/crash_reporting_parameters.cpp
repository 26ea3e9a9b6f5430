#include "crash_reporting_parameters.h"

#include "err/utf.h"
#include "log/log.h"
#include "stats/stats_utils.h"
#include "system/win32/known_paths_win.h"

namespace {
constexpr wchar_t kAppVersion[] = L"26.00.02.1046";
}

Diagnostics::Parameters crashReportingParameters()
{
    Diagnostics::Parameters parameters;
    System::Path application;
    try {
        application = System::Env::KnownPaths::applicationPath();
    } catch (const std::exception&) {
        // Crash reporting then looks in the current directory; the host runs on.
    }
    parameters.applicationPath = application.str();
    parameters.installationId = Err::fromUtf8(Stats::installationId());
    parameters.appVersion = kAppVersion;
    // The library and the product files lie one level above the host's own folder.
    parameters.libraryDirectory = application.parent().parent().str();
    parameters.baseDirectory = parameters.libraryDirectory;
    parameters.processFailureSeverity = Diagnostics::FailureSeverity::Major;
    // Crash reporting's own lines (the custom_config.xml override, the library's
    // start, the library's messages) go to the host's log at their levels.
    parameters.logSink = [](int level, const std::wstring& text) { HOST_LOG(level, L"%s", text.c_str()); };
    return parameters;
}
