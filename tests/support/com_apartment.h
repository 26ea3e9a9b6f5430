#pragma once

#include "system/win32/com_scope.h"

#include <gtest/gtest.h>

#include <memory>

namespace TestSupport {

// Keeps the test program's main thread in one single-threaded apartment for
// its whole run, as the host's main thread is.
class MainApartment : public testing::Environment {
public:
    void SetUp() override { scope_ = std::make_unique<ComScope>(); }

private:
    std::unique_ptr<ComScope> scope_;
};

// Serves calls into this apartment until `done` holds or the limit passes.
// Threads that called in must be waited for this way, not with a bare join:
// leaving their apartment releases their proxies, which calls into this one.
template <typename Predicate>
bool pumpUntil(Predicate done, ULONGLONG limitMs = 10000)
{
    const ULONGLONG deadline = ::GetTickCount64() + limitMs;
    while (!done() && ::GetTickCount64() < deadline) {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            ::DispatchMessageW(&message);
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return done();
}

// Serves calls into this apartment until `handle` is signalled.
inline bool pumpUntilSignalled(HANDLE handle)
{
    return pumpUntil([handle] { return ::WaitForSingleObject(handle, 0) == WAIT_OBJECT_0; });
}

} // namespace TestSupport
