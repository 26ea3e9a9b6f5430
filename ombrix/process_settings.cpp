#include "process_settings.h"

#include "command_line.h"
#include "log/log.h"

namespace {

ProcessSettings& settings()
{
    static ProcessSettings value;
    return value;
}

} // namespace

const ProcessSettings& processSettings()
{
    return settings();
}

void storeProcessSettings(const CommandLineOptions& options)
{
    settings().disableBlackList = options.disableBlackList;
    settings().logPath = options.logPath;
    setLogPath(options.logPath);
}
