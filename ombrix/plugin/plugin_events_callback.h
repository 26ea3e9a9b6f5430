#pragma once

#include "hlx_plugins.h"
#include "ombrix_interfaces.h"
#include "system/win32/com_global_interface_table.h"

#include <atomic>
#include <cstdint>
#include <source_location>

// The host's IUpdatePluginEvents: every report of the plug-in, from any of its
// threads, goes to the launcher's sink with the plug-in id added.
class PluginEventsCallback : public HLXPlugins::IUpdatePluginEvents {
public:
    PluginEventsCallback() = default;
    virtual ~PluginEventsCallback() = default;
    PluginEventsCallback(const PluginEventsCallback&) = delete;
    PluginEventsCallback& operator=(const PluginEventsCallback&) = delete;

    // On the main thread before the plug-in is started. The first sink stays;
    // plug-in id and thread id are those of the latest successful call.
    bool init(Microsoft::WRL::ComPtr<::IUpdatePluginEvents> events, std::uint32_t pluginId,
              std::uint32_t mainThreadId);

    void onStart() override;
    void onProgress(std::int32_t progress) override;
    void onStatusInfo(const wchar_t* text) override;
    // When the launcher cannot be told, the host's main loop is ended.
    void onFinish(bool success) override;

private:
    template <typename Call>
    void forward(Call&& call, const std::source_location& where = std::source_location::current()) noexcept;

    // A later start rewrites them while plug-in threads read them.
    std::atomic<std::uint32_t> pluginId_{0};
    std::atomic<std::uint32_t> mainThreadId_{0};
    GlobalInterfaceHolder<::IUpdatePluginEvents> events_;
};
