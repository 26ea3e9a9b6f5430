#include "support/com_apartment.h"
#include "support/test_events.h"
#include "system/win32/com_global_interface_table.h"
#include "system/win32/com_scope.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using Microsoft::WRL::ComPtr;
using TestSupport::TestEvents;

TEST(HresultMessage, SystemTextWithoutItsLineEnd)
{
    const std::string text = System::Win32::hresultMessage(E_ACCESSDENIED);
    EXPECT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n');
    EXPECT_NE(text.back(), '\r');
}

TEST(HresultMessage, CodesWithoutSystemText)
{
    EXPECT_EQ(System::Win32::hresultMessage(static_cast<HRESULT>(0x80040201)), "IDispatch error #1");
    EXPECT_EQ(System::Win32::hresultMessage(static_cast<HRESULT>(0x8004FFFF)), "IDispatch error #65023");
    EXPECT_EQ(System::Win32::hresultMessage(static_cast<HRESULT>(0x80040200)), "Unknown error 0x80040200");
    EXPECT_EQ(System::Win32::hresultMessage(static_cast<HRESULT>(0xA0C0FFEE)), "Unknown error 0xA0C0FFEE");
}

const auto* const mainApartment = testing::AddGlobalTestEnvironment(new TestSupport::MainApartment);
using TestSupport::pumpUntil;

using GlobalInterfaceHolderTest = testing::Test;

TEST_F(GlobalInterfaceHolderTest, EmptyHolderGivesNullWithoutTheTable)
{
    GlobalInterfaceHolder<IUpdatePluginEvents> holder;
    EXPECT_EQ(holder.get(), nullptr);
}

TEST_F(GlobalInterfaceHolderTest, SecondRegistrationKeepsTheFirstAndReleasesTheSecond)
{
    TestEvents first, second;
    {
        GlobalInterfaceHolder<IUpdatePluginEvents> holder;
        holder.registerOnce(&first);
        holder.registerOnce(&second);
        EXPECT_EQ(second.references, 0u);
        EXPECT_GT(first.references, 0u);
        ComPtr<IUpdatePluginEvents> fetched = holder.get();
        ASSERT_NE(fetched, nullptr);
        fetched->onStart(7);
        EXPECT_EQ(first.calls, 1);
        EXPECT_EQ(second.calls, 0);
    }
    // The holder's end revokes the registration and every reference goes.
    EXPECT_EQ(first.references, 0u);
}

TEST_F(GlobalInterfaceHolderTest, ThreadsCallThroughTheirOwnProxies)
{
    TestEvents events;
    GlobalInterfaceHolder<IUpdatePluginEvents> holder;
    holder.registerOnce(&events);
    constexpr int kThreads = 8;
    constexpr int kCalls = 10;
    std::atomic<int> succeeded{0};
    std::atomic<int> finished{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            {
                const ComScope scope;
                for (int i = 0; i < kCalls; ++i)
                    if (ComPtr<IUpdatePluginEvents> proxy = holder.get(); proxy && SUCCEEDED(proxy->onProgress(t, i)))
                        ++succeeded;
            }
            ++finished;
        });
    // The object lives in this apartment: serve the calls, and the releases of the
    // threads' proxies, until every thread is done.
    EXPECT_TRUE(pumpUntil([&] { return finished == kThreads; }));
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(succeeded, kThreads * kCalls);
    EXPECT_EQ(events.calls, kThreads * kCalls);
}

TEST_F(GlobalInterfaceHolderTest, ThreadAlreadyInTheMultiThreadedApartment)
{
    TestEvents events;
    GlobalInterfaceHolder<IUpdatePluginEvents> holder;
    holder.registerOnce(&events);
    HRESULT scopeResult = S_OK;
    HRESULT callResult = E_FAIL;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        {
            const ComScope scope;
            scopeResult = scope.result();
            if (ComPtr<IUpdatePluginEvents> proxy = holder.get())
                callResult = proxy->onFinish(3, VARIANT_TRUE);
        }
        ::CoUninitialize();
        done = true;
    });
    EXPECT_TRUE(pumpUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_EQ(scopeResult, RPC_E_CHANGED_MODE);
    EXPECT_EQ(callResult, S_OK);
    ASSERT_EQ(events.transcript.size(), 1u);
    EXPECT_EQ(events.transcript[0], L"onFinish 3 -1");
}

TEST_F(GlobalInterfaceHolderTest, TableFailuresAreSystemFailedErrors)
{
    ComGlobalInterfaceTable table;
    try {
        table.getInterface<IUpdatePluginEvents>(0xDEAD);
        FAIL();
    } catch (const ComGlobalInterfaceTable::Failed& e) {
        EXPECT_EQ(e.name(), "Error.System.Failed");
        EXPECT_EQ(std::string(e.what()).rfind("[Error.System.Failed] ", 0), 0u) << e.what();
    }
}

} // namespace
