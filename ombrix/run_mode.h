#pragma once

struct CommandLineOptions;

enum class RunMode {
    Unregistration, // remove the COM registration and exit
    Registration,   // write the COM registration; with --adminhost continue as admin host
    AdminHost,      // serve the launcher as the elevated admin host
    PluginHost,     // serve the launcher for one plug-in
    None,           // nothing to do: exit without a word
};

// "--unregserver" wins over everything, "--regserver" over "--adminhost";
// the plug-in id matters only when no other mode is asked for.
RunMode selectRunMode(const CommandLineOptions& options);
