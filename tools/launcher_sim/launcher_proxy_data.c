/* The factory of the simulator's own proxies and stubs, under a class id of
   its own and an entry name that no DLL export can take. */
#define ENTRY_PREFIX LauncherSim_
#define PROXY_CLSID CLSID_LauncherSimProxyStub
#include "launcher_dlldata.c"

/* {5B0F7C2E-3D1A-4E6B-9C84-2A7F61D0B3E5} */
CLSID CLSID_LauncherSimProxyStub = {0x5b0f7c2e, 0x3d1a, 0x4e6b, {0x9c, 0x84, 0x2a, 0x7f, 0x61, 0xd0, 0xb3, 0xe5}};
