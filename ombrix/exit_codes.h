#pragma once

// The process exit codes the launcher watches for.
namespace ExitCode {
enum : int {
    Done = 0,
    BadCommandLine = 2,
    Failed = 3,
    ComSecurityFailed = 5,
    PluginBindingFailed = 6,
    AdminHostRegistrationFailed = 7,
    NotAdministrator = 8,
    // The host ended itself because the launcher can no longer drive it: its
    // process ended, or it let go of the host without deinitialize.
    LauncherGone = 9,
    LauncherReleased = 10,
    // deinitialize did not finish in time: the plug-in's deinitialize or the
    // launcher's unregisterPlugin (or a report the plug-in waited for) hung.
    DeinitializeTimedOut = 11,
};
} // namespace ExitCode
