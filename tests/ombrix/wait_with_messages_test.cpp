#include "support/test_events.h"
#include "system/win32/com_global_interface_table.h"
#include "system/win32/com_scope.h"
#include "system/win32/unique_resource.h"
#include "wait_with_messages.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using System::Win32::UniqueHandle;

UniqueHandle newEvent(bool signalled)
{
    return UniqueHandle(::CreateEventW(nullptr, FALSE, signalled, nullptr));
}

TEST(WaitWithMessages, NullHandle)
{
    EXPECT_EQ(waitWithMessages(nullptr), -1);
}

TEST(WaitWithMessages, SignalledHandleReturnsAtOnce)
{
    const auto event = newEvent(true);
    EXPECT_EQ(waitWithMessages(event.get()), 0);
}

TEST(WaitWithMessages, TimesOutWithoutInput)
{
    const auto event = newEvent(false);
    EXPECT_EQ(waitWithMessages(event.get(), 200), static_cast<int>(WAIT_TIMEOUT));
}

TEST(WaitWithMessages, TimesOutWhileMessagesKeepArriving)
{
    const auto event = newEvent(false);
    const DWORD waiter = ::GetCurrentThreadId();
    std::atomic<bool> stop{false};
    std::thread poster([&] {
        while (!stop) {
            ::PostThreadMessageW(waiter, WM_USER, 0, 0);
            ::Sleep(5);
        }
    });
    EXPECT_EQ(waitWithMessages(event.get(), 300), static_cast<int>(WAIT_TIMEOUT));
    stop = true;
    poster.join();
}

TEST(WaitWithMessages, InvalidHandleEndsTheWait)
{
    EXPECT_EQ(waitWithMessages(reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x7FFF0)), 500), -1);
}

// The acknowledgement comes while COM calls into the waiting apartment are
// pending: they are served, and the signal is still seen.
TEST(WaitWithMessages, ServesComCallsAndSeesTheSignal)
{
    const ComScope apartment;
    TestSupport::TestEvents events;
    GlobalInterfaceHolder<IUpdatePluginEvents> holder;
    holder.registerOnce(&events);
    const auto event = newEvent(false);
    std::thread caller([&] {
        {
            const ComScope scope;
            for (int i = 0; i < 5; ++i)
                if (auto proxy = holder.get())
                    proxy->onProgress(1, i);
        }
        // Only now: leaving the apartment releases proxies, which calls into the waiter.
        ::SetEvent(event.get());
    });
    EXPECT_EQ(waitWithMessages(event.get(), 20000), 0);
    caller.join();
    EXPECT_EQ(events.calls, 5);
}

} // namespace
