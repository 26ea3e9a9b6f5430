#include "run_mode.h"

#include "command_line.h"

RunMode selectRunMode(const CommandLineOptions& options)
{
    if (options.unregServer)
        return RunMode::Unregistration;
    if (options.regServer)
        return RunMode::Registration;
    if (options.adminHost)
        return RunMode::AdminHost;
    return options.pluginId ? RunMode::PluginHost : RunMode::None;
}
