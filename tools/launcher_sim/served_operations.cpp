#include "served_operations.h"

#include <algorithm>
#include <array>

namespace LauncherSim {

namespace {

constexpr std::array<std::wstring_view, 23> kServed{
    // IPluginSystem
    L"language", L"mainWindow", L"restartAgent", L"writeLog", L"registerAdminHost", L"ombrixClosed",
    L"registerPlugin", L"unregisterPlugin", L"reserved9", L"getPluginPath", L"reserved11", L"getGameWorkDir",
    L"setGameCanStart", L"setCurrentPartIntegrity", L"setCurrentPartVersion", L"installationId", L"showDialogEx",
    L"setLanguageSubstitutions", L"setMultiLanguageDictionary",
    // IUpdatePluginEvents
    L"onStart", L"onProgress", L"onStatusInfo", L"onFinish"};

constexpr std::array<std::wstring_view, 2> kCarryText{L"writeLog", L"onStatusInfo"};

} // namespace

bool ServedCallFilter::matches(std::wstring_view served, BSTR servedText) const
{
    if (served != operation)
        return false;
    if (!text)
        return true;
    return servedText != nullptr && std::wstring_view(servedText, ::SysStringLen(servedText)) == *text;
}

std::optional<ServedCallFilter> parseServedCallFilter(const std::wstring& word)
{
    const std::size_t colon = word.find(L':');
    ServedCallFilter filter{word.substr(0, colon), std::nullopt};
    if (std::find(kServed.begin(), kServed.end(), filter.operation) == kServed.end())
        return std::nullopt;
    if (colon != std::wstring::npos) {
        if (std::find(kCarryText.begin(), kCarryText.end(), filter.operation) == kCarryText.end())
            return std::nullopt;
        filter.text = word.substr(colon + 1);
    }
    return filter;
}

} // namespace LauncherSim
