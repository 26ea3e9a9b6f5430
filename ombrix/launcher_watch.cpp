#include "launcher_watch.h"

#include "host_end.h"
#include "log/log.h"
#include "system/win32/com_scope.h"

#include <wrl/client.h>

#include <thread>

using Microsoft::WRL::ComPtr;

namespace LauncherWatch {
namespace {

// A question only the launcher's process can answer, and that its own code
// never sees: table-strong marshalling of our proxy asks the launcher's COM
// runtime for a reference of its own (the release of the marshalled data
// gives it back). A QueryInterface would not do: the proxy answers a failed
// remote QueryInterface with E_NOINTERFACE, whatever the failure was.
HRESULT probe(IPluginSystem& launcher) noexcept
{
    ComPtr<IStream> stream;
    if (const HRESULT hr = ::CreateStreamOnHGlobal(nullptr, TRUE, &stream); FAILED(hr))
        return hr;
    const HRESULT hr = ::CoMarshalInterface(stream.Get(), __uuidof(IPluginSystem), &launcher, MSHCTX_INPROC, nullptr,
                                            MSHLFLAGS_TABLESTRONG);
    if (SUCCEEDED(hr)) {
        const LARGE_INTEGER start{};
        stream->Seek(start, STREAM_SEEK_SET, nullptr);
        ::CoReleaseMarshalData(stream.Get());
    }
    return hr;
}

void watch(IStream* marshalled) noexcept
{
    const ComScope apartment;
    ComPtr<IPluginSystem> launcher;
    if (const HRESULT hr = ::CoGetInterfaceAndReleaseStream(marshalled, IID_PPV_ARGS(&launcher)); FAILED(hr)) {
        HOST_LOG(LogLevel::Warning, L"cannot watch the launcher, HRESULT = 0x%x", static_cast<unsigned>(hr));
        return;
    }
    for (;;) {
        ::Sleep(kProbeIntervalMs);
        const HRESULT hr = probe(*launcher.Get());
        if (HostEnd::launcherGone(hr)) {
            HostEnd::request(HostEnd::Reason::LauncherGone, hr);
            return;
        }
        if (FAILED(hr)) {
            // A platform that cannot answer this way: failed reports still tell.
            HOST_LOG(LogLevel::Warning, L"cannot watch the launcher, HRESULT = 0x%x", static_cast<unsigned>(hr));
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
        ::CoReleaseMarshalData(marshalled);
        marshalled->Release();
        HOST_LOG(LogLevel::Warning, L"cannot watch the launcher: no thread");
    }
}

} // namespace LauncherWatch
