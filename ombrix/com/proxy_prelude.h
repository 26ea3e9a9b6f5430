/* Forced into the generated proxy code, which is C: MinGW's unknwnbase.h
   declares these three only for C++. rpcproxy.h must not come in from here,
   or the proxy layout comes out wrong without a warning. */
#include <objbase.h>
HRESULT STDMETHODCALLTYPE IUnknown_QueryInterface_Proxy(IUnknown* This, REFIID riid, void** ppvObject);
ULONG STDMETHODCALLTYPE IUnknown_AddRef_Proxy(IUnknown* This);
ULONG STDMETHODCALLTYPE IUnknown_Release_Proxy(IUnknown* This);
