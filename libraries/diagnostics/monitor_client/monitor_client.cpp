#include "monitor_client.h"

#include "api_tables.h"
#include "library_path.h"
#include "process_handlers.h"
#include "to_c_struct.h"

#include "err/utf.h"
#include "system/win32/known_paths_win.h"
#include "system/win32/unique_resource.h"

#include <atomic>
#include <cstdlib>
#include <mutex>

namespace MonitorClient {

namespace {

struct ClientState {
    std::mutex statusLock;
    StatusCallback statusCallback;
    std::mutex logLock;
    LogCallback logCallback;

    // Load, start, shutdown and the terminate path; release takes it again
    // during shutdown.
    std::recursive_mutex loaderLock;
    System::Win32::UniqueModule module;
    std::wstring loadError;
    std::shared_ptr<const VESK::MonitorAPIDynamicLibWrapper> core;

    std::atomic<std::uint64_t> beginId{0};
    std::atomic<std::uint64_t> endId{0};
    VESK::EventProcessHooker hooks;
    ProcessHandlers handlers;
};

// Never destroyed: the library's threads may call the relays while the
// process ends.
ClientState& state()
{
    static ClientState& instance = *new ClientState;
    return instance;
}

void log(LogSeverity severity, const std::wstring& text)
{
    ClientState& client = state();
    const std::lock_guard lock(client.logLock);
    if (client.logCallback)
        client.logCallback(severity, text);
}

std::wstring quoted(const std::wstring& text)
{
    return L"\"" + text + L"\"";
}

// The library calls these, possibly on its own threads; nothing may escape into it.
void VESK_CALL logRelay(int severity, const wchar_t* text) noexcept
{
    try {
        log(static_cast<LogSeverity>(severity), text ? text : L"");
    } catch (...) {
    }
}

void VESK_CALL statusRelay(int previous, int current) noexcept
{
    try {
        ClientState& client = state();
        const std::lock_guard lock(client.statusLock);
        if (client.statusCallback)
            client.statusCallback(previous, current);
    } catch (...) {
    }
}

void VESK_CALL beginRelay(std::uint8_t type, void* customData, std::uint8_t action, const char* text,
                          std::uint64_t value, void** customDataOut) noexcept
{
    try {
        VESK::CustomData out{customDataOut ? *customDataOut : nullptr};
        state().hooks.begin(static_cast<VESK::EventType>(type), VESK::CustomData{customData},
                            static_cast<VESK::PostEventAction>(action), text, value, out);
        if (customDataOut)
            *customDataOut = out.handle;
    } catch (...) {
    }
}

void VESK_CALL endRelay(std::uint8_t type, void* customData, std::uint8_t action, const char* text,
                        std::uint64_t value) noexcept
{
    try {
        state().hooks.end(static_cast<VESK::EventType>(type), VESK::CustomData{customData},
                          static_cast<VESK::PostEventAction>(action), text, value);
    } catch (...) {
    }
}

void reportTermination()
{
    ClientState& client = state();
    const std::lock_guard lock(client.loaderLock);
    if (client.core)
        client.core->ReportTermination();
}

void onTerminate()
{
    reportTermination();
    std::abort();
}

void onInvalidParameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int, std::uintptr_t)
{
    reportTermination();
    std::abort();
}

// After a failed load with status 1, at shutdown with status 0.
void release(int status)
{
    ClientState& client = state();
    {
        const std::lock_guard lock(client.logLock);
        client.logCallback = nullptr;
    }
    {
        const std::lock_guard lock(client.statusLock);
        if (status != 0 && client.statusCallback)
            client.statusCallback(0, status);
        client.statusCallback = nullptr;
    }
    client.handlers.restore();
    if (client.core) {
        client.core->UnregisterCallback(client.beginId.exchange(0));
        client.core->UnregisterCallback(client.endId.exchange(0));
    }
    client.hooks.clear();
    const std::lock_guard lock(client.loaderLock);
    client.module.reset();
    client.core.reset();
}

std::wstring executableDirectory()
{
    try {
        return System::Env::KnownPaths::applicationDirectory().str();
    } catch (const std::exception&) {
        return {};
    }
}

} // namespace

ClientLibStatus load(const wchar_t* directory)
{
    ClientState& client = state();
    const std::lock_guard lock(client.loaderLock);
    if (client.module && client.core)
        return ClientLibStatus::Loaded;

    const std::wstring path = libraryPath(directory ? std::wstring(directory) : executableDirectory());
    client.module.reset(::LoadLibraryW(path.c_str()));
    if (!client.module) {
        const DWORD error = ::GetLastError();
        client.loadError = L"Unable to load VESK library=" + quoted(path) + L". Error:" + std::to_wstring(error);
        log(LogSeverity::Warning, client.loadError);
        release(1);
        return isExistingFile(path) ? ClientLibStatus::LoadFailed : ClientLibStatus::NotFound;
    }
    try {
        client.core = VESK::bindCoreFunctions(client.module.get());
    } catch (const std::exception& e) {
        client.core.reset();
        client.loadError = Err::fromUtf8(e.what());
        log(LogSeverity::Error, L"Unable to load VESK library=" + quoted(path));
        release(1);
        return ClientLibStatus::LoadFailed;
    }
    log(LogSeverity::Info, L"VESK library=" + quoted(path) + L" was successfully loaded. API version = " +
                               std::to_wstring(client.core->GetApiVersion()));
    client.handlers.install(&onTerminate, &onInvalidParameter);
    return ClientLibStatus::Loaded;
}

ClientLibStatus start(VESK::Configuration configuration, LogCallback logCallback, StatusCallback statusCallback,
                      void* reserved, const wchar_t* directory)
{
    ClientState& client = state();
    {
        const std::lock_guard lock(client.logLock);
        client.logCallback = std::move(logCallback);
    }
    {
        const std::lock_guard lock(client.statusLock);
        client.statusCallback = std::move(statusCallback);
    }
    const std::lock_guard lock(client.loaderLock);
    const ClientLibStatus loaded = load(directory);
    if (loaded != ClientLibStatus::Loaded)
        return loaded;
    try {
        VESK::ConfigurationTable api;
        try {
            api = VESK::bindConfigurationFunctions(client.module.get());
        } catch (const std::runtime_error&) {
            return ClientLibStatus::LoadFailed;
        }
        const VESK::Handle<VESK_CONFIGURATION> handle = VESK::ToCStruct(api, configuration);
        const int result = client.core->InitLib_Dyn(handle.get(), &logRelay, &statusRelay, reserved, 0);
        client.beginId = client.core->RegisterOnEventBeginCallback_Dyn(&beginRelay);
        client.endId = client.core->RegisterOnEventEndCallback_Dyn(&endRelay);
        return static_cast<ClientLibStatus>(result);
    } catch (const std::exception&) {
        return ClientLibStatus::Exception;
    }
}

void shutdown()
{
    ClientState& client = state();
    const std::lock_guard lock(client.loaderLock);
    if (!client.core)
        return;
    client.core->TerminateLib();
    release(0);
}

bool raiseAssert(const char* text1, const char* text2, const char* text3, const char* text4, const char* text5,
                 std::uint64_t line)
{
    ClientState& client = state();
    const std::lock_guard lock(client.loaderLock);
    if (!client.core)
        return false;
    client.core->RaiseAssert(text1, text2, text3, text4, text5, line, 0);
    return true;
}

VESK::EventProcessHooker& eventHooks()
{
    return state().hooks;
}

} // namespace MonitorClient
