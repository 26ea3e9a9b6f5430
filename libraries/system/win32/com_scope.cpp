#include "com_scope.h"

#include <objbase.h>

ComScope::ComScope() noexcept
    : result_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))
    , threadId_(::GetCurrentThreadId())
{
}

ComScope::~ComScope()
{
    // S_FALSE (already in an apartment) counts as success and is balanced too;
    // a scope that ends up on another thread must not leave that thread's apartment.
    if (FAILED(result_) || threadId_ != ::GetCurrentThreadId())
        return;
    ::CoUninitialize();
}
