#pragma once

#include "ombrix_interfaces.h"

#include <atomic>
#include <string>
#include <vector>

namespace TestSupport {

// An IUpdatePluginEvents object for tests: counts its references and records
// the calls it receives, so tests can check both.
class TestEvents : public IUpdatePluginEvents {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IUpdatePluginEvents)) {
            *object = static_cast<IUpdatePluginEvents*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }

    HRESULT STDMETHODCALLTYPE onStart(ULONG pluginId) override { return record(L"onStart " + std::to_wstring(pluginId)); }
    HRESULT STDMETHODCALLTYPE onProgress(ULONG pluginId, LONG value) override
    {
        return record(L"onProgress " + std::to_wstring(pluginId) + L" " + std::to_wstring(value));
    }
    HRESULT STDMETHODCALLTYPE onStatusInfo(ULONG pluginId, BSTR info) override
    {
        return record(L"onStatusInfo " + std::to_wstring(pluginId) + L" " +
                      (info ? std::wstring(info, ::SysStringLen(info)) : L"(null)"));
    }
    HRESULT STDMETHODCALLTYPE onFinish(ULONG pluginId, VARIANT_BOOL success) override
    {
        return record(L"onFinish " + std::to_wstring(pluginId) + L" " + std::to_wstring(success));
    }

    // The object lives on the test's stack; references only count.
    std::atomic<ULONG> references{0};
    std::atomic<int> calls{0};
    std::vector<std::wstring> transcript; // written only by the object's own apartment
    HRESULT result = S_OK;

private:
    HRESULT record(std::wstring line)
    {
        ++calls;
        transcript.push_back(std::move(line));
        return result;
    }
};

} // namespace TestSupport
