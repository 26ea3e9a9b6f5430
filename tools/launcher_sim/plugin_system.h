#pragma once

#include "launcher_interfaces.h"
#include "session_state.h"
#include "sim_config.h"
#include "system/win32/com_object.h"
#include "transcript.h"

#include <wrl/client.h>

namespace LauncherSim {

// The launcher's plug-in system as the host sees it: answers from the
// configuration and writes every call into the transcript.
class PluginSystem : public System::Win32::ComObject<IPluginSystem> {
public:
    PluginSystem(const SimConfig& config, Transcript& transcript, SessionState& session)
        : config_(config), transcript_(transcript), session_(session)
    {
    }

    HRESULT STDMETHODCALLTYPE language(BSTR* val) override;
    HRESULT STDMETHODCALLTYPE mainWindow(LONGLONG* val) override;
    HRESULT STDMETHODCALLTYPE restartAgent(VARIANT_BOOL restart) override;
    HRESULT STDMETHODCALLTYPE writeLog(BSTR text, LONG level) override;
    HRESULT STDMETHODCALLTYPE registerAdminHost(IAdminHostProcess* adminHost) override;
    HRESULT STDMETHODCALLTYPE ombrixClosed(ULONG pluginId, ULONG exitCode) override;
    HRESULT STDMETHODCALLTYPE registerPlugin(IUpdatePlugin* plugin, ULONG pluginId) override;
    HRESULT STDMETHODCALLTYPE unregisterPlugin(IUpdatePlugin* plugin) override;
    HRESULT STDMETHODCALLTYPE reserved9() override;
    HRESULT STDMETHODCALLTYPE getPluginPath(ULONG pluginId, BSTR* path) override;
    HRESULT STDMETHODCALLTYPE reserved11() override;
    HRESULT STDMETHODCALLTYPE getGameWorkDir(ULONG pluginId, BSTR* path) override;
    HRESULT STDMETHODCALLTYPE setGameCanStart(ULONG pluginId, VARIANT_BOOL canStart) override;
    HRESULT STDMETHODCALLTYPE setCurrentPartIntegrity(ULONG pluginId, VARIANT_BOOL intact) override;
    HRESULT STDMETHODCALLTYPE setCurrentPartVersion(ULONG pluginId, BSTR version) override;
    HRESULT STDMETHODCALLTYPE installationId(BSTR* val) override;
    HRESULT STDMETHODCALLTYPE showDialogEx(ULONG pluginId, ULONG dialogId, DialogAutomation dialog) override;
    HRESULT STDMETHODCALLTYPE setLanguageSubstitutions(ULONG pluginId, BSTR defaultLanguage, LONG count,
                                                       LanguageSubstitutionAutomation* substitutions) override;
    HRESULT STDMETHODCALLTYPE setMultiLanguageDictionary(ULONG pluginId, LONG count,
                                                         LanguageDictionaryAutomation* dictionaries) override;

    // Forgets the dialog answers not yet sent, with the plug-in objects they hold.
    static void dropPendingDialogAnswers();

private:
    // Runs what the session armed for this operation (SessionState::enter; `text`
    // is writeLog's), then records "IPluginSystem::<call> -> <result>[ <answer>]"
    // and returns the result.
    HRESULT record(const wchar_t* operation, const std::wstring& arguments, HRESULT result,
                   const std::wstring& answer = {}, BSTR text = nullptr);
    HRESULT answerString(const wchar_t* operation, const std::wstring& arguments,
                         const std::optional<std::wstring>& value, BSTR* out);

    // Answers a dialog once the call that opened it has returned, as the
    // launcher does when the user closes it.
    void finishDialogLater(ULONG dialogId, long eventId);

    const SimConfig& config_;
    Transcript& transcript_;
    SessionState& session_;
};

} // namespace LauncherSim
