#pragma once

#include <string>

// Where the plug-in DLL is: the launcher names it relative to the game's work
// directory, with or without a leading separator.
std::wstring composeFullPluginPath(const std::wstring& workDir, const std::wstring& pluginPath);

// Whether the DLL at `path` may be loaded. Every path is accepted: the launcher
// installs the plug-ins itself, and unsigned builds of plug-in authors must run.
bool verifyEmbeddedSignature(const std::wstring& path);
