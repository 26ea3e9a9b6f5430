#include "diagnostics.h"

#include "event_handlers.h"
#include "generate_configuration.h"
#include "initialization_callback.h"
#include "log/log_level.h"
#include "log_sink.h"
#include "monitor_client/monitor_client.h"

#include "err/utf.h"

#include <atomic>
#include <chrono>
#include <optional>

namespace Diagnostics {

namespace {

std::atomic<AssertionHandler> installedAssertionHandler{nullptr};

// How long start-up waits for the library to confirm.
constexpr std::chrono::nanoseconds kStartupWait{2'500'000'000};

} // namespace

ScopeGuard init(const Parameters& parameters, std::uint64_t& beginHookId)
{
    Private::setLogSink(parameters.logSink);
    VESK::Configuration configuration = Private::generateConfiguration(parameters);
    beginHookId = MonitorClient::eventHooks().addBeginHook(&Private::routeEventBegin);

    const auto callback = std::make_shared<Private::InitializationCallback>(parameters);
    const MonitorClient::ClientLibStatus status = MonitorClient::start(
        std::move(configuration), &Private::bridgeLog, Private::InitializationCallback::statusCallback(callback),
        nullptr, parameters.libraryDirectory.empty() ? nullptr : parameters.libraryDirectory.c_str());
    if (status != MonitorClient::ClientLibStatus::Loaded && status != MonitorClient::ClientLibStatus::Started)
        Private::logMessage(LogLevel::Warning,
                            L"VESK monitor initialization failure, code: " + std::to_wstring(static_cast<int>(status)));

    // Also after a failed start: the library may still confirm, or release has
    // already reported status 1.
    if (!callback->waitUntil(std::chrono::steady_clock::now() + kStartupWait))
        Private::logMessage(LogLevel::Warning, L"Crash handling initialization timeout");

    return ScopeGuard(std::function<void()>([] { MonitorClient::shutdown(); }));
}

AssertionHandler setAssertionHandler(AssertionHandler handler)
{
    return installedAssertionHandler.exchange(handler);
}

AssertionHandler assertionHandler()
{
    return installedAssertionHandler.load();
}

void reportAssertion(const wchar_t* text1, const wchar_t* text2, const wchar_t* text3, const wchar_t* text4,
                     unsigned line, const wchar_t* text5)
{
    const auto utf8 = [](const wchar_t* text) {
        return text ? std::optional<std::string>(Err::toUtf8(std::wstring_view(text))) : std::nullopt;
    };
    const auto pointer = [](const std::optional<std::string>& text) { return text ? text->c_str() : nullptr; };
    const auto t1 = utf8(text1), t2 = utf8(text2), t3 = utf8(text3), t4 = utf8(text4), t5 = utf8(text5);
    MonitorClient::raiseAssert(pointer(t1), pointer(t2), pointer(t3), pointer(t4), pointer(t5),
                               static_cast<std::uint64_t>(line));
}

} // namespace Diagnostics
