#pragma once

// The one binding to monitor_client_impl.dll in the process: loads it, starts
// it with a configuration, relays its callbacks, and undoes all of it.
#include "event_process_hooker.h"
#include "vesk_configuration.h"

#include <cstdint>
#include <functional>
#include <string>

namespace MonitorClient {

// What loading and starting came to. The library's own start result (6 or 7:
// started) is passed on unchanged.
enum class ClientLibStatus : int { NotFound = 0, LoadFailed = 1, Exception = 5, Loaded = 6, Started = 7 };

// In rising gravity.
enum class LogSeverity : int { Debug = 0, Info = 1, Warning = 2, Error = 3 };

using LogCallback = std::function<void(LogSeverity, const std::wstring& text)>;
using StatusCallback = std::function<void(int previous, int current)>;

// Loads the library from a directory (null: the executable's own) and binds its
// core functions. Loaded already: Loaded at once.
ClientLibStatus load(const wchar_t* directory);

// Loads, converts the configuration and starts the library. The callbacks may
// be called from the library's threads at any time until shutdown.
ClientLibStatus start(VESK::Configuration configuration, LogCallback log, StatusCallback status, void* reserved,
                      const wchar_t* directory);

// Stops the library and releases everything; nothing happens when it is not loaded.
void shutdown();

// Reports an assertion (UTF-8 texts); false, and nothing done, when the library is not loaded.
bool raiseAssert(const char* text1, const char* text2, const char* text3, const char* text4, const char* text5,
                 std::uint64_t line);

// The hooks the library's event callbacks run.
VESK::EventProcessHooker& eventHooks();

} // namespace MonitorClient
