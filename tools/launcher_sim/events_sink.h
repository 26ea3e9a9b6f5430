#pragma once

#include "launcher_interfaces.h"
#include "session_state.h"
#include "sim_config.h"
#include "system/win32/com_object.h"
#include "transcript.h"

namespace LauncherSim {

// The launcher's events sink that it hands to IUpdatePlugin::start.
class EventsSink : public System::Win32::ComObject<IUpdatePluginEvents> {
public:
    EventsSink(const SimConfig& config, Transcript& transcript, SessionState& session)
        : config_(config), transcript_(transcript), session_(session)
    {
    }

    HRESULT STDMETHODCALLTYPE onStart(ULONG pluginId) override;
    HRESULT STDMETHODCALLTYPE onProgress(ULONG pluginId, LONG value) override;
    HRESULT STDMETHODCALLTYPE onStatusInfo(ULONG pluginId, BSTR info) override;
    HRESULT STDMETHODCALLTYPE onFinish(ULONG pluginId, VARIANT_BOOL success) override;

private:
    // Runs what the session armed for this operation (SessionState::enter; `text`
    // is onStatusInfo's), then records the call and returns its result.
    HRESULT record(const wchar_t* operation, const std::wstring& arguments, BSTR text = nullptr);

    const SimConfig& config_;
    Transcript& transcript_;
    SessionState& session_;
};

} // namespace LauncherSim
