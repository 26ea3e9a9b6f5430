#pragma once

// Deployment data. The release configuration supplies the real values; these
// placeholders name nothing that exists.
namespace Diagnostics::Deployment {

// Base address of the crash-report server.
inline constexpr wchar_t kCrashReportServerUrl[] = L"https://crash-reports.placeholder.invalid";

// Host of the player-support web site.
inline constexpr wchar_t kSupportSiteHost[] = L"support.placeholder.invalid";

} // namespace Diagnostics::Deployment
