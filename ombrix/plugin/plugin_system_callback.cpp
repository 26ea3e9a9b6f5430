#include "plugin_system_callback.h"

#include "automation_structures.h"
#include "host_end.h"
#include "log/log.h"
#include "plugin_boundary.h"
#include "system/win32/com_scope.h"

#include <cstdint>
#include <cwchar>
#include <cwctype>
#include <string_view>

using Microsoft::WRL::ComPtr;
using PluginBoundary::failed;
using PluginBoundary::logAt;
using System::Win32::UniqueBstr;

namespace {

constexpr std::wstring_view kFailedCallback = L"failed plugin system callback, HRESULT = 0x%x";

VARIANT_BOOL variantBool(bool value)
{
    return value ? VARIANT_TRUE : VARIANT_FALSE;
}

const wchar_t* boolText(bool value)
{
    return value ? L"true" : L"false";
}

// Ids compare in any letter case; nothing else is normalised.
bool sameId(const wchar_t* given, std::wstring_view id)
{
    std::size_t i = 0;
    for (; given[i] != L'\0'; ++i)
        if (i >= id.size() || static_cast<wchar_t>(std::towupper(given[i])) != id[i])
            return false;
    return i == id.size();
}

// The first element whose own array cannot be read as its count says, or -1.
template <typename T, typename Array>
std::int32_t invalidElement(const T* items, std::int32_t count, Array T::*array)
{
    for (std::int32_t i = 0; i < count; ++i)
        if (items[i].count < 0 || (items[i].count > 0 && items[i].*array == nullptr))
            return i;
    return -1;
}

} // namespace

bool PluginSystemCallback::init(ComPtr<::IPluginSystem> system, std::uint32_t pluginId)
{
    try {
        system_.registerOnce(std::move(system));
    } catch (const std::exception&) {
        return false;
    }
    pluginId_ = pluginId;
    return true;
}

void PluginSystemCallback::setDialogCallbacks(std::shared_ptr<DialogCallbacksContainer> callbacks)
{
    dialogCallbacks_ = std::move(callbacks);
}

template <typename Call>
std::optional<HRESULT> PluginSystemCallback::callLauncher(Call&& call)
{
    const ComScope apartment;
    ComPtr<::IPluginSystem> system;
    if (const HRESULT fetched = system_.fetch(system); FAILED(fetched)) {
        HostEnd::launcherCallFailed(fetched);
        return std::nullopt;
    }
    if (!system)
        return std::nullopt;
    return call(*system.Get());
}

template <typename Call>
bool PluginSystemCallback::forward(Call&& call, const Here& where)
{
    const std::optional<HRESULT> result = callLauncher(std::forward<Call>(call));
    if (result && FAILED(*result) && !HostEnd::launcherCallFailed(*result))
        logAt(where, LogLevel::Error, pluginId_, kFailedCallback, static_cast<unsigned>(*result));
    return result && SUCCEEDED(*result);
}

template <typename Call>
std::int32_t PluginSystemCallback::fetchString(wchar_t* buffer, std::int32_t size, Call&& call,
                                               const wchar_t* gotLine, const Here& where) noexcept
try {
    UniqueBstr value;
    if (!forward([&](::IPluginSystem& system) { return call(system, value.put()); }, where))
        return 0;
    const auto length = static_cast<std::int32_t>(::SysStringLen(value.get()));
    if (buffer == nullptr || length >= size)
        return length + 1;
    std::wcsncpy(buffer, value ? value.get() : L"", static_cast<std::size_t>(size));
    if (gotLine != nullptr)
        logAt(where, LogLevel::Info, pluginId_, gotLine, value ? value.get() : L"");
    return length;
} catch (...) {
    return failed(pluginId_, 0, where);
}

std::int32_t PluginSystemCallback::language(wchar_t* buffer, std::int32_t size)
{
    return fetchString(
        buffer, size, [](::IPluginSystem& system, BSTR* value) { return system.language(value); },
        L"got language: %s");
}

std::int32_t PluginSystemCallback::installationId(wchar_t* buffer, std::int32_t size)
{
    return fetchString(
        buffer, size, [](::IPluginSystem& system, BSTR* value) { return system.installationId(value); },
        L"got installation Id: %s");
}

std::int32_t PluginSystemCallback::gameWorkDir(wchar_t* buffer, std::int32_t size)
{
    return fetchString(
        buffer, size, [this](::IPluginSystem& system, BSTR* value) { return system.getGameWorkDir(pluginId_, value); },
        nullptr);
}

void PluginSystemCallback::writeLog(const wchar_t* message, std::int32_t level)
try {
    if (message == nullptr)
        return;
    const std::optional<HRESULT> result = callLauncher([&](::IPluginSystem& system) {
        const UniqueBstr text = Automation::require(message);
        return system.writeLog(text.get(), level);
    });
    if (result && FAILED(*result) && !HostEnd::launcherCallFailed(*result))
        HOST_LOG(LogLevel::Error, withPluginId(pluginId_, L"failed plugin system callback, message: %s, HRESULT = 0x%x"),
                 message, static_cast<unsigned>(*result));
} catch (...) {
    failed(pluginId_);
}

std::int32_t PluginSystemCallback::queryInterface(const wchar_t* id, void** out)
{
    if (id == nullptr || out == nullptr)
        return -1;
    if (sameId(id, HLXPlugins::kIPluginSystemId)) {
        *out = static_cast<HLXPlugins::IPluginSystem*>(this);
        return 0;
    }
    if (sameId(id, HLXPlugins::kIPluginSystemInternalId)) {
        *out = static_cast<HLXPlugins::IPluginSystemInternal*>(this);
        return 0;
    }
    return -2;
}

void PluginSystemCallback::setGameCanStart(bool canStart)
try {
    HOST_LOG(LogLevel::Info, withPluginId(pluginId_, L"set game can start: %s"), boolText(canStart));
    forward([&](::IPluginSystem& system) { return system.setGameCanStart(pluginId_, variantBool(canStart)); });
} catch (...) {
    failed(pluginId_);
}

void PluginSystemCallback::setCurrentPartIntegrity(bool intact)
try {
    HOST_LOG(LogLevel::Info, withPluginId(pluginId_, L"set current part integrity: %s"), boolText(intact));
    forward([&](::IPluginSystem& system) { return system.setCurrentPartIntegrity(pluginId_, variantBool(intact)); });
} catch (...) {
    failed(pluginId_);
}

void PluginSystemCallback::setCurrentPartVersion(const wchar_t* version)
try {
    if (version == nullptr) {
        HOST_LOG(LogLevel::Error, withPluginId(pluginId_, L"error: invalid argument"));
        return;
    }
    HOST_LOG(LogLevel::Info, withPluginId(pluginId_, L"set current part version: %s"), version);
    forward([&](::IPluginSystem& system) {
        const UniqueBstr text = Automation::require(version);
        return system.setCurrentPartVersion(pluginId_, text.get());
    });
} catch (...) {
    failed(pluginId_);
}

std::int32_t PluginSystemCallback::uiSystem(HLXPlugins::IPluginUISystem** out)
{
    if (out == nullptr)
        return -1;
    *out = this;
    return 0;
}

std::int32_t PluginSystemCallback::langSystem(HLXPlugins::IPluginLangSystem** out)
{
    if (out == nullptr)
        return -1;
    *out = this;
    return 0;
}

std::uint64_t PluginSystemCallback::mainWindow()
try {
    LONGLONG window = 0;
    forward([&](::IPluginSystem& system) { return system.mainWindow(&window); });
    return static_cast<std::uint64_t>(window);
} catch (...) {
    return failed(pluginId_, std::uint64_t{0});
}

void PluginSystemCallback::restartAgent()
try {
    forward([](::IPluginSystem& system) { return system.restartAgent(VARIANT_TRUE); });
} catch (...) {
    failed(pluginId_);
}

void PluginSystemCallback::ombrixClosed(std::uint32_t pluginId, std::uint32_t exitCode)
try {
    forward([&](::IPluginSystem& system) { return system.ombrixClosed(pluginId, exitCode); });
} catch (...) {
    failed(pluginId_);
}

std::int32_t PluginSystemCallback::showDialog(const wchar_t* message, const wchar_t* caption,
                                              std::uint32_t buttonCount, const HLXPlugins::DialogButton* buttons,
                                              std::uint32_t type, HLXPlugins::IPluginDialogCallback* callback)
{
    return showShortDialog(message, caption, buttonCount, buttons, 0, type, callback);
}

std::int32_t PluginSystemCallback::showStyledDialog(const wchar_t* message, const wchar_t* caption,
                                                    std::uint32_t buttonCount, const HLXPlugins::DialogButton* buttons,
                                                    std::uint32_t type, HLXPlugins::IPluginDialogCallback* callback)
{
    return showShortDialog(message, caption, buttonCount, buttons, 1, type, callback);
}

std::int32_t PluginSystemCallback::showShortDialog(const wchar_t* message, const wchar_t* caption,
                                                   std::uint32_t buttonCount, const HLXPlugins::DialogButton* buttons,
                                                   std::uint32_t style, std::uint32_t type,
                                                   HLXPlugins::IPluginDialogCallback* callback)
{
    if (buttons == nullptr)
        return -1;
    // No buttons, no default one: there is no first button to read.
    const std::int32_t defaultButton = buttonCount > 0 ? buttons[0].id : 0;
    const HLXPlugins::DialogInfo info{caption, message, 0, nullptr, buttonCount, buttons, defaultButton,
                                      style, type, nullptr, false, false};
    return showDialogEx(&info, callback);
}

std::int32_t PluginSystemCallback::showDialogEx(const HLXPlugins::DialogInfo* info,
                                                HLXPlugins::IPluginDialogCallback* callback)
try {
    if (info == nullptr) {
        HOST_LOG(LogLevel::Error, withPluginId(pluginId_, L"error: invalid argument"));
        return -1;
    }
    HOST_LOG(LogLevel::Info, withPluginId(pluginId_, L"Show message: caption=\"%s\", message=\"%s\""),
             info->caption != nullptr ? info->caption : L"(null)", info->message != nullptr ? info->message : L"(null)");
    if (info->caption == nullptr || info->message == nullptr || callback == nullptr ||
        (info->buttons == nullptr) != (info->buttonCount == 0) ||
        (info->messageArgs == nullptr && info->messageArgCount != 0)) {
        HOST_LOG(LogLevel::Error, withPluginId(pluginId_, L"error: invalid argument"));
        return -1;
    }
    const ComScope apartment;
    ComPtr<::IPluginSystem> system;
    if (const HRESULT fetched = system_.fetch(system); FAILED(fetched) || !system) {
        HostEnd::launcherCallFailed(fetched);
        return -1;
    }
    Automation::ConvertedDialog converted = Automation::convertDialog(*info);
    if (converted.failure != Automation::DialogFailure::None) {
        HOST_LOG(LogLevel::Error, withPluginId(pluginId_, Automation::failureText(converted.failure)));
        return -1;
    }
    const std::uint32_t dialogId = dialogCallbacks_ ? dialogCallbacks_->add(callback) : nextDialogId();
    const HRESULT result = system->showDialogEx(pluginId_, dialogId, converted.dialog.get());
    if (FAILED(result)) {
        if (!HostEnd::launcherCallFailed(result))
            HOST_LOG(LogLevel::Error, withPluginId(pluginId_, kFailedCallback), static_cast<unsigned>(result));
        return -1;
    }
    return 0;
} catch (...) {
    return failed(pluginId_, -1);
}

std::int32_t PluginSystemCallback::setLanguageSubstitutions(const wchar_t* defaultLanguage, std::int32_t languagesCount,
                                                          const HLXPlugins::LanguageSubstitution* substitutions)
try {
    HOST_LOG(LogLevel::Info, withPluginId(pluginId_, L"Set languages subs: defaultLanguage=%s, languagesCount=%d"),
             defaultLanguage != nullptr ? defaultLanguage : L"(null)", languagesCount);
    if (languagesCount <= 0) {
        HOST_LOG(LogLevel::Error, withPluginId(pluginId_, L"Invalid argument: languagesCount=%d"), languagesCount);
        return -1;
    }
    if (substitutions == nullptr) {
        HOST_LOG(LogLevel::Error, withPluginId(pluginId_, L"Invalid argument: substitutions=(null), languagesCount=%d"),
                 languagesCount);
        return -1;
    }
    if (const std::int32_t bad = invalidElement(substitutions, languagesCount, &HLXPlugins::LanguageSubstitution::substitutes);
        bad >= 0) {
        HOST_LOG(LogLevel::Error, withPluginId(pluginId_, L"Invalid argument: substitution %d has count=%d"), bad,
                 substitutions[bad].count);
        return -1;
    }
    const bool sent = forward([&](::IPluginSystem& system) {
        const UniqueBstr language = Automation::require(defaultLanguage);
        auto converted = Automation::convertSubstitutions(substitutions, static_cast<std::uint32_t>(languagesCount));
        return system.setLanguageSubstitutions(pluginId_, language.get(), languagesCount, converted.get());
    });
    return sent ? 0 : -1;
} catch (...) {
    return failed(pluginId_, -1);
}

std::int32_t PluginSystemCallback::setMultiLanguageDictionary(std::int32_t languagesCount,
                                                            const HLXPlugins::LanguageDictionary* dictionaries)
try {
    HOST_LOG(LogLevel::Info, withPluginId(pluginId_, L"Set languages dictionaries: languagesCount=%d"), languagesCount);
    if (languagesCount <= 0 || dictionaries == nullptr) {
        HOST_LOG(LogLevel::Error, withPluginId(pluginId_, L"Invalid argument: languagesCount=%d, languageDictionary=%d"),
                 languagesCount, static_cast<int>(reinterpret_cast<std::uintptr_t>(dictionaries)));
        return -1;
    }
    if (const std::int32_t bad = invalidElement(dictionaries, languagesCount, &HLXPlugins::LanguageDictionary::entries);
        bad >= 0) {
        HOST_LOG(LogLevel::Error, withPluginId(pluginId_, L"Invalid argument: dictionary %d has count=%d"), bad,
                 dictionaries[bad].count);
        return -1;
    }
    const bool sent = forward([&](::IPluginSystem& system) {
        auto converted = Automation::convertDictionaries(dictionaries, static_cast<std::uint32_t>(languagesCount));
        return system.setMultiLanguageDictionary(pluginId_, languagesCount, converted.get());
    });
    return sent ? 0 : -1;
} catch (...) {
    return failed(pluginId_, -1);
}
