// The host's object for one plug-in, in this process: path composition and
// the refusals before a plug-in was loaded. Whole sessions with real plug-in
// DLLs are in plugin_session_test.cpp.
#include "support/test_support.h"
#include "update_plugin/plugin_path.h"
#include "update_plugin/process_values.h"
#include "update_plugin/update_plugin.h"
#include "system/win32/com_object.h"
#include "system/win32/com_scope.h"
#include "system/win32/unique_resource.h"

#include <gtest/gtest.h>

#include <wrl/client.h>

#include <functional>
#include <new>

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

// Owned from its creation with one reference and destroyed with the last: a
// reference too many keeps a host whose launcher let go alive for good.
TEST(UpdatePluginLifetime, HasOneReferenceFromCreationAndEndsWithTheLast)
{
    const ComScope apartment;
    UpdatePluginProcess::pluginObjectsReleased = false;
    IUpdatePlugin* plugin = nullptr;
    ASSERT_EQ(CUpdatePlugin::CreateInstance(&plugin), S_OK);
    EXPECT_EQ(plugin->AddRef(), 2u);
    EXPECT_EQ(plugin->Release(), 1u);
    EXPECT_FALSE(UpdatePluginProcess::pluginObjectsReleased);
    EXPECT_EQ(plugin->Release(), 0u);
    EXPECT_TRUE(UpdatePluginProcess::pluginObjectsReleased);
}

// A launcher in this process whose answer to getPluginPath runs out of memory
// the way the host's own first steps can: with std::bad_alloc.
class LauncherOutOfMemory : public System::Win32::ComObject<IPluginSystem> {
public:
    HRESULT STDMETHODCALLTYPE getPluginPath(ULONG, BSTR*) override { throw std::bad_alloc(); }
    // Nothing else is asked before it.
    HRESULT STDMETHODCALLTYPE language(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE mainWindow(LONGLONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE restartAgent(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE writeLog(BSTR, LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE registerAdminHost(IAdminHostProcess*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ombrixClosed(ULONG, ULONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE registerPlugin(IUpdatePlugin*, ULONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE unregisterPlugin(IUpdatePlugin*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE reserved9() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE reserved11() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE getGameWorkDir(ULONG, BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE setGameCanStart(ULONG, VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE setCurrentPartIntegrity(ULONG, VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE setCurrentPartVersion(ULONG, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE installationId(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE showDialogEx(ULONG, ULONG, DialogAutomation) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE setLanguageSubstitutions(ULONG, BSTR, LONG, LanguageSubstitutionAutomation*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE setMultiLanguageDictionary(ULONG, LONG, LanguageDictionaryAutomation*) override
    {
        return E_NOTIMPL;
    }
};

// Out of memory in the first steps of initialize is its failure, not an
// exception out of a COM method (which would end the binding with 3, not 6).
TEST(UpdatePluginInitialize, OutOfMemoryBeforeTheDllIsLoadedIsAFailure)
{
    const ComScope apartment;
    ComPtr<IUpdatePlugin> plugin;
    ASSERT_EQ(CUpdatePlugin::CreateInstance(&plugin), S_OK);
    const ComPtr<LauncherOutOfMemory> launcher = System::Win32::ComObject<IPluginSystem>::create<LauncherOutOfMemory>();
    HRESULT result = S_OK;
    EXPECT_NO_THROW(result = plugin->initialize(launcher.Get(), 1));
    EXPECT_EQ(result, E_FAIL);
    // Taken once, and refused ever after.
    EXPECT_EQ(plugin->initialize(launcher.Get(), 1), E_UNEXPECTED);
}

// Before initialize there is no plug-in object: every operation that would
// reach it is refused, and none touches the missing plug-in.
TEST(UpdatePluginWithoutPlugin, RefusesWhatNeedsAPluginOrALauncher)
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

    // The admin host side without a launcher: never registered, or released by deinitAdminHost.
    ComPtr<IAdminHostProcess> adminHost;
    ASSERT_EQ(plugin.As(&adminHost), S_OK);
    const System::Win32::UniqueBstr current(::SysAllocString(L"2.0")), legacy(::SysAllocString(L"1.0"));
    EXPECT_EQ(adminHost->initAdminHost(nullptr), E_INVALIDARG);
    EXPECT_EQ(adminHost->startElevated(nullptr, 4), E_FAIL);
    EXPECT_EQ(adminHost->startElevated(legacy.get(), 4), E_INVALIDARG);
    EXPECT_EQ(adminHost->startElevated(current.get(), 4), E_UNEXPECTED);
    EXPECT_EQ(adminHost->deinitAdminHost(), S_OK);
    EXPECT_EQ(adminHost->startElevated(current.get(), 4), E_UNEXPECTED);
    EXPECT_EQ(adminHost->startElevatedProcess(nullptr, nullptr, nullptr, nullptr, nullptr), E_INVALIDARG);

    // Only here can the process id be left out: COM's marshalling needs every out pointer.
    const System::Win32::UniqueBstr program(::SysAllocString((TestSupport::binDirectory() / L"ombrix.exe").c_str()));
    ULONG errorCode = 1;
    LONGLONG startTime = 1;
    EXPECT_EQ(adminHost->startElevatedProcess(program.get(), nullptr, &errorCode, nullptr, &startTime), S_OK);
    EXPECT_EQ(errorCode, 0u);
    EXPECT_EQ(startTime, 0);
    // deinitialize and deinitAdminHost asked this thread's loop to end; later tests run loops of their own.
    MSG quit;
    while (::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
}

} // namespace
