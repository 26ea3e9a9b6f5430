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
};
} // namespace ExitCode
