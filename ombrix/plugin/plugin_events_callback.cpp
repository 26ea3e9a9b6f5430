#include "plugin_events_callback.h"

#include "automation_structures.h"
#include "err/utf.h"
#include "host_end.h"
#include "log/log.h"
#include "plugin_boundary.h"
#include "system/win32/com_scope.h"

using Microsoft::WRL::ComPtr;

bool PluginEventsCallback::init(ComPtr<::IUpdatePluginEvents> events, std::uint32_t pluginId,
                                std::uint32_t mainThreadId)
{
    try {
        events_.registerOnce(std::move(events));
    } catch (const std::exception& e) {
        HOST_LOG(LogLevel::Error, withPluginId(pluginId, L"failed to marshall, HRESULT = %s"),
                 Err::fromUtf8(e.what()).c_str());
        return false;
    }
    pluginId_ = pluginId;
    mainThreadId_ = mainThreadId;
    return true;
}

template <typename Call>
void PluginEventsCallback::forward(Call&& call, const std::source_location& where) noexcept
try {
    if (HostEnd::dropIfLauncherGone())
        return;
    const ComScope apartment;
    ComPtr<::IUpdatePluginEvents> sink;
    if (const HRESULT fetched = events_.fetch(sink); FAILED(fetched)) {
        HostEnd::launcherCallFailed(fetched);
        return;
    }
    if (!sink)
        return;
    const HRESULT result = call(*sink.Get());
    if (FAILED(result) && !HostEnd::launcherCallFailed(result))
        PluginBoundary::logAt(where, LogLevel::Error, pluginId_, L"failed plugin events callback, HRESULT = 0x%x",
                              static_cast<unsigned>(result));
} catch (...) {
    PluginBoundary::failed(pluginId_, where);
}

void PluginEventsCallback::onStart()
{
    forward([&](::IUpdatePluginEvents& sink) { return sink.onStart(pluginId_); });
}

void PluginEventsCallback::onProgress(std::int32_t progress)
{
    forward([&](::IUpdatePluginEvents& sink) { return sink.onProgress(pluginId_, progress); });
}

void PluginEventsCallback::onStatusInfo(const wchar_t* text)
{
    if (text == nullptr)
        return;
    forward([&](::IUpdatePluginEvents& sink) {
        const System::Win32::UniqueBstr info = Automation::require(text);
        return sink.onStatusInfo(pluginId_, info.get());
    });
}

void PluginEventsCallback::onFinish(bool success)
{
    bool delivered = false;
    bool launcherGone = false;
    try {
        const ComScope apartment;
        ComPtr<::IUpdatePluginEvents> sink;
        HRESULT result = events_.fetch(sink);
        if (SUCCEEDED(result) && sink)
            result = sink->onFinish(pluginId_, success ? VARIANT_TRUE : VARIANT_FALSE);
        delivered = sink && SUCCEEDED(result);
        launcherGone = FAILED(result) && HostEnd::launcherCallFailed(result);
    } catch (...) {
        PluginBoundary::failed(pluginId_);
    }
    // The launcher can no longer learn that the plug-in is done: nothing is
    // left to wait for. A launcher that is gone ends the host its own way.
    if (!delivered && !launcherGone)
        ::PostThreadMessageW(mainThreadId_, WM_QUIT, static_cast<WPARAM>(0xFFFFFFFFu), 0);
}
