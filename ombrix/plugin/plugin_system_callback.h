#pragma once

#include "dialog_callbacks_container.h"
#include "hlx_plugins.h"
#include "ombrix_interfaces.h"
#include "system/win32/com_global_interface_table.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <source_location>

// The one host object behind the plug-in's IPluginSystem, IPluginUISystem,
// IPluginLangSystem and IPluginSystemInternal. Every operation forwards to the
// launcher's COM IPluginSystem from the calling plug-in thread, in an
// apartment of that thread, through a proxy of its own.
class PluginSystemCallback : public HLXPlugins::IPluginSystem,
                             public HLXPlugins::IPluginUISystem,
                             public HLXPlugins::IPluginLangSystem,
                             public HLXPlugins::IPluginSystemInternal {
public:
    PluginSystemCallback() = default;
    PluginSystemCallback(const PluginSystemCallback&) = delete;
    PluginSystemCallback& operator=(const PluginSystemCallback&) = delete;
    ~PluginSystemCallback() = default;

    // On the main thread before the plug-in is loaded. The first object stays.
    bool init(Microsoft::WRL::ComPtr<::IPluginSystem> system, std::uint32_t pluginId);
    void setDialogCallbacks(std::shared_ptr<DialogCallbacksContainer> callbacks);

    // For the host itself: an elevated process started for `pluginId` ended.
    void ombrixClosed(std::uint32_t pluginId, std::uint32_t exitCode);

    // IPluginSystem
    std::int32_t language(wchar_t* buffer, std::int32_t size) override;
    std::int32_t installationId(wchar_t* buffer, std::int32_t size) override;
    void writeLog(const wchar_t* message, std::int32_t level) override;
    std::int32_t queryInterface(const wchar_t* id, void** out) override;
    std::int32_t gameWorkDir(wchar_t* buffer, std::int32_t size) override;
    void setGameCanStart(bool canStart) override;
    void setCurrentPartIntegrity(bool intact) override;
    void setCurrentPartVersion(const wchar_t* version) override;
    std::int32_t uiSystem(HLXPlugins::IPluginUISystem** out) override;
    std::int32_t langSystem(HLXPlugins::IPluginLangSystem** out) override;

    // IPluginUISystem
    std::int32_t showDialog(const wchar_t* message, const wchar_t* caption, std::uint32_t buttonCount,
                            const HLXPlugins::DialogButton* buttons, std::uint32_t type,
                            HLXPlugins::IPluginDialogCallback* callback) override;
    std::int32_t showStyledDialog(const wchar_t* message, const wchar_t* caption, std::uint32_t buttonCount,
                                  const HLXPlugins::DialogButton* buttons, std::uint32_t type,
                                  HLXPlugins::IPluginDialogCallback* callback) override;
    std::int32_t showDialogEx(const HLXPlugins::DialogInfo* info, HLXPlugins::IPluginDialogCallback* callback) override;

    // IPluginLangSystem
    std::int32_t setMultiLanguageDictionary(std::int32_t languagesCount,
                                            const HLXPlugins::LanguageDictionary* dictionaries) override;
    std::int32_t setLanguageSubstitutions(const wchar_t* defaultLanguage, std::int32_t languagesCount,
                                          const HLXPlugins::LanguageSubstitution* substitutions) override;

    // IPluginSystemInternal
    std::uint64_t mainWindow() override;
    void restartAgent() override;

private:
    using Here = std::source_location;

    // The launcher's result, or nothing when there is no launcher object.
    template <typename Call>
    std::optional<HRESULT> callLauncher(Call&& call);
    // callLauncher with a failure logged as a failed callback; true on success.
    template <typename Call>
    bool forward(Call&& call, const Here& where = Here::current());
    // The buffer protocol over a launcher call that answers a string.
    template <typename Call>
    std::int32_t fetchString(wchar_t* buffer, std::int32_t size, Call&& call, const wchar_t* gotLine,
                             const Here& where = Here::current()) noexcept;
    std::int32_t showShortDialog(const wchar_t* message, const wchar_t* caption, std::uint32_t buttonCount,
                                 const HLXPlugins::DialogButton* buttons, std::uint32_t style, std::uint32_t type,
                                 HLXPlugins::IPluginDialogCallback* callback);

    std::uint32_t pluginId_ = 0;
    GlobalInterfaceHolder<::IPluginSystem> system_;
    std::shared_ptr<DialogCallbacksContainer> dialogCallbacks_;
};
