#include "system/win32/com_scope.h"

#include <objbase.h>

#include <gtest/gtest.h>

#include <thread>

namespace {

// Whether the calling thread is in an apartment: a probe initialisation answers
// S_FALSE when it is, and is balanced at once.
bool inSingleThreadedApartment()
{
    const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(hr))
        ::CoUninitialize();
    return hr == S_FALSE;
}

template <typename F>
void onNewThread(F body)
{
    std::thread(body).join();
}

TEST(ComScope, EntersAndLeavesASingleThreadedApartment)
{
    onNewThread([] {
        {
            const ComScope scope;
            EXPECT_EQ(scope.result(), S_OK);
            EXPECT_TRUE(inSingleThreadedApartment());
        }
        EXPECT_FALSE(inSingleThreadedApartment());
    });
}

TEST(ComScope, ThreadAlreadyInASingleThreadedApartmentIsBalancedOnce)
{
    onNewThread([] {
        ASSERT_EQ(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        {
            const ComScope scope;
            EXPECT_EQ(scope.result(), S_FALSE);
        }
        EXPECT_TRUE(inSingleThreadedApartment());
        ::CoUninitialize();
    });
}

TEST(ComScope, ThreadInTheMultiThreadedApartmentKeepsIt)
{
    onNewThread([] {
        ASSERT_EQ(::CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        {
            const ComScope scope;
            EXPECT_EQ(scope.result(), RPC_E_CHANGED_MODE);
        }
        // Still in the multi-threaded apartment: a second MTA entry says S_FALSE.
        EXPECT_EQ(::CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
        ::CoUninitialize();
        ::CoUninitialize();
    });
}

TEST(ComScope, ScopesNest)
{
    onNewThread([] {
        {
            const ComScope outer;
            {
                const ComScope inner;
                EXPECT_EQ(inner.result(), S_FALSE);
            }
            EXPECT_TRUE(inSingleThreadedApartment());
        }
        EXPECT_FALSE(inSingleThreadedApartment());
    });
}

} // namespace
