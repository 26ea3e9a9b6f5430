#include "own_proxy_stub.h"

#include "launcher_interfaces.h"

#include <wrl/client.h>

#include <stdexcept>
#include <string>

extern "C" {
extern CLSID CLSID_LauncherSimProxyStub;
HRESULT WINAPI LauncherSim_DllGetClassObject(REFCLSID clsid, REFIID iid, void** object);
}

namespace LauncherSim {

namespace {

void check(HRESULT hr, const char* what)
{
    if (FAILED(hr))
        throw std::runtime_error(std::string(what) + " failed: " + std::to_string(static_cast<unsigned long>(hr)));
}

} // namespace

OwnProxyStub::OwnProxyStub()
{
    Microsoft::WRL::ComPtr<IUnknown> factory;
    check(LauncherSim_DllGetClassObject(CLSID_LauncherSimProxyStub, IID_IUnknown,
                                        reinterpret_cast<void**>(factory.GetAddressOf())),
          "the simulator's proxy/stub factory");
    check(::CoRegisterClassObject(CLSID_LauncherSimProxyStub, factory.Get(), CLSCTX_INPROC_SERVER,
                                  REGCLS_MULTIPLEUSE, &cookie_),
          "CoRegisterClassObject of the simulator's proxy/stub factory");
    for (const IID& iid : {__uuidof(IPluginSystem), __uuidof(IUpdatePluginEvents)})
        if (const HRESULT hr = ::CoRegisterPSClsid(iid, CLSID_LauncherSimProxyStub); FAILED(hr)) {
            ::CoRevokeClassObject(cookie_);
            check(hr, "CoRegisterPSClsid");
        }
}

OwnProxyStub::~OwnProxyStub()
{
    ::CoRevokeClassObject(cookie_);
}

} // namespace LauncherSim
