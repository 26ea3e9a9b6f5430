#include "crash_reporting_parameters.h"

#include "err/utf.h"
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
    return parameters;
}
