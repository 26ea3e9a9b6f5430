#pragma once

#include <windows.h>

namespace LauncherSim {

// Puts the simulator's own proxies and stubs of the launcher's interfaces in
// front of ombrixPS.dll, which the manifest names for the same interface ids:
// from then on this apartment marshals IPluginSystem and IUpdatePluginEvents
// only with code generated from launcher_interfaces.idl. Construct it in the
// apartment that serves the launcher's objects, before any of them is handed
// out; the mapping ends with the apartment, the class object with the owner.
class OwnProxyStub {
public:
    OwnProxyStub();
    ~OwnProxyStub();
    OwnProxyStub(const OwnProxyStub&) = delete;
    OwnProxyStub& operator=(const OwnProxyStub&) = delete;

private:
    DWORD cookie_ = 0;
};

} // namespace LauncherSim
