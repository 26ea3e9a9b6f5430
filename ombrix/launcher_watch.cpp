#include "launcher_watch.h"

#include "host_end.h"
#include "log/log.h"
#include "system/win32/com_scope.h"

#include <wrl/client.h>

#include <thread>

using Microsoft::WRL::ComPtr;

namespace LauncherWatch {
namespace {

// No object implements it: the launcher's process answers E_NOINTERFACE for as
// long as it lives, and the proxy cannot answer it on its own.
constexpr IID kProbeIid = {0x9fc512da, 0xa0ec, 0x42fc, {0x8c, 0x46, 0x65, 0x82, 0x23, 0x22, 0x0a, 0x66}};

void watch(IStream* marshalled) noexcept
{
    const ComScope apartment;
    ComPtr<IUnknown> launcher;
    if (const HRESULT hr = ::CoGetInterfaceAndReleaseStream(marshalled, IID_PPV_ARGS(&launcher)); FAILED(hr)) {
        HOST_LOG(LogLevel::Warning, L"cannot watch the launcher, HRESULT = 0x%x", static_cast<unsigned>(hr));
        return;
    }
    for (;;) {
        ::Sleep(kProbeIntervalMs);
        ComPtr<IUnknown> answer;
        const HRESULT hr = launcher->QueryInterface(kProbeIid, reinterpret_cast<void**>(answer.GetAddressOf()));
        if (HostEnd::launcherGone(hr)) {
            HostEnd::request(HostEnd::Reason::LauncherGone, hr);
            return;
        }
    }
}

} // namespace

void start(IPluginSystem* launcher) noexcept
{
    IStream* marshalled = nullptr;
    if (const HRESULT hr = ::CoMarshalInterThreadInterfaceInStream(__uuidof(IPluginSystem), launcher, &marshalled);
        FAILED(hr)) {
        HOST_LOG(LogLevel::Warning, L"cannot watch the launcher, HRESULT = 0x%x", static_cast<unsigned>(hr));
        return;
    }
    try {
        std::thread(watch, marshalled).detach();
    } catch (...) {
        marshalled->Release();
        HOST_LOG(LogLevel::Warning, L"cannot watch the launcher: no thread");
    }
}

} // namespace LauncherWatch
