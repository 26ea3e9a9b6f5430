#include "diagnostics.h"

#include <atomic>

namespace Diagnostics {

namespace {
std::atomic<AssertionHandler> assertionHandler{nullptr};
}

// The crash-reporting library is not bound yet: nothing starts, nothing to shut down.
ScopeGuard init(const Parameters&, std::uint64_t& beginHookId)
{
    beginHookId = 0;
    return ScopeGuard(std::function<void()>([] {}));
}

AssertionHandler setAssertionHandler(AssertionHandler handler)
{
    return assertionHandler.exchange(handler);
}

void reportAssertion(const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*, unsigned, const wchar_t*)
{
}

} // namespace Diagnostics
