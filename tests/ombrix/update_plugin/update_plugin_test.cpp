// The host's object for one plug-in, in this process: path composition and
// the refusals before a plug-in was loaded. Whole sessions with real plug-in
// DLLs are in plugin_session_test.cpp.
#include "update_plugin/plugin_path.h"
#include "update_plugin/update_plugin.h"
#include "system/win32/com_scope.h"

#include <gtest/gtest.h>

#include <wrl/client.h>

#include <functional>

namespace {

using Microsoft::WRL::ComPtr;

struct PathCase {
    const wchar_t* workDir;
    const wchar_t* pluginPath;
    const wchar_t* fullPath;
};

class FullPluginPath : public testing::TestWithParam<PathCase> {};

TEST_P(FullPluginPath, IsTheWorkDirectoryAndThePluginPathBelowIt)
{
    EXPECT_EQ(composeFullPluginPath(GetParam().workDir, GetParam().pluginPath), GetParam().fullPath);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FullPluginPath,
    testing::Values(PathCase{L"C:\\Games\\X", L"\\plugins\\updater.dll", L"C:\\Games\\X\\plugins\\updater.dll"},
                    PathCase{L"C:\\Games\\X", L"plugins\\updater.dll", L"C:\\Games\\X\\plugins\\updater.dll"},
                    PathCase{L"C:\\Games\\X\\", L"/updater.dll", L"C:\\Games\\X\\updater.dll"},
                    // A lone separator is kept: the work directory with a trailing backslash.
                    PathCase{L"C:\\Games\\X", L"\\", L"C:\\Games\\X\\"},
                    PathCase{L"", L"updater.dll", L"updater.dll"}));

// Before initialize there is no plug-in object: every operation that would
// reach it is refused, and none touches the missing plug-in.
TEST(UpdatePluginWithoutPlugin, RefusesEveryOperationWithUnexpected)
{
    // The callbacks keep the launcher's sinks in the apartment's interface table.
    const ComScope apartment;
    ComPtr<IUpdatePlugin> plugin;
    ASSERT_EQ(CUpdatePlugin::CreateInstance(&plugin), S_OK);
    ComPtr<IPluginSystemEvents> events;
    ASSERT_EQ(plugin.As(&events), S_OK);
    BSTR text = nullptr;
    const std::vector<std::pair<const char*, std::function<HRESULT()>>> operations{
        {"name", [&] { return plugin->name(&text); }},
        {"description", [&] { return plugin->description(&text); }},
        {"versionString", [&] { return plugin->versionString(&text); }},
        {"error", [&] { return plugin->error(&text); }},
        {"getAdditionalProp", [&] { return plugin->getAdditionalProp(nullptr, &text); }},
        {"setAdditionalProp", [&] { return plugin->setAdditionalProp(nullptr, nullptr); }},
        {"start", [&] { return plugin->start(nullptr); }},
        {"stop", [&] { return plugin->stop(VARIANT_FALSE); }},
        {"deinitialize", [&] { return plugin->deinitialize(); }},
        {"onDialogFinish", [&] { return events->onDialogFinish(1, 1); }},
    };
    for (const auto& [name, call] : operations) {
        EXPECT_EQ(call(), E_UNEXPECTED) << name;
        EXPECT_EQ(text, nullptr) << name;
    }
    EXPECT_EQ(plugin->initialize(nullptr, 1), E_INVALIDARG);
    // deinitialize asked this thread's loop to end; later tests run loops of their own.
    MSG quit;
    while (::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
}

} // namespace
