#pragma once

#include <string>

struct CommandLineOptions;

// Written once by the entry right after parsing, read by everything after it.
struct ProcessSettings {
    bool disableBlackList = false;
    std::wstring logPath;
};

const ProcessSettings& processSettings();

// Stores the settings and hands the log path to the log, before anything logs.
void storeProcessSettings(const CommandLineOptions& options);
