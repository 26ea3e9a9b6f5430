#include "crash_reporting_parameters.h"

#include "system/win32/known_paths_win.h"

namespace {

constexpr wchar_t kAppVersion[] = L"26.00.02.1046";

std::wstring withoutLastComponent(const std::wstring& path)
{
    const auto separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator);
}

} // namespace

Diagnostics::Parameters crashReportingParameters()
{
    Diagnostics::Parameters parameters;
    try {
        parameters.applicationPath = System::Env::KnownPaths::applicationPath();
    } catch (const std::exception&) {
        // Crash reporting then looks beside the current directory; the host runs on.
    }
    parameters.appVersion = kAppVersion;
    // The library and the product files lie one level above the host's own folder.
    parameters.libraryDirectory = withoutLastComponent(withoutLastComponent(parameters.applicationPath));
    parameters.baseDirectory = parameters.libraryDirectory;
    parameters.processFailureSeverity = Diagnostics::FailureSeverity::Major;
    return parameters;
}
