#include "running_object.h"
#include "support/test_events.h"
#include "system/win32/com_scope.h"

#include <gtest/gtest.h>

namespace {

using Microsoft::WRL::ComPtr;

class LookupRunningObject : public testing::Test {
protected:
    ComScope apartment_;
    TestSupport::TestEvents object_;
};

TEST_F(LookupRunningObject, FindsTheObjectUnderItsItemName)
{
    {
        RunningObjectRegistration entry;
        ASSERT_EQ(entry.publish(&object_, kLauncherFallbackItemName), S_OK);
        ComPtr<IUnknown> found;
        EXPECT_EQ(lookupRunningObject(::SysAllocString(kLauncherFallbackItemName), &found), S_OK);
        ComPtr<IUpdatePluginEvents> events;
        ASSERT_EQ(found.As(&events), S_OK);
        events->onStart(9);
        EXPECT_EQ(object_.calls, 1);

        ComPtr<IUnknown> other;
        EXPECT_EQ(lookupRunningObject(::SysAllocString(kLauncherItemName), &other), MK_E_UNAVAILABLE);
        EXPECT_EQ(other, nullptr);
    }
    EXPECT_EQ(object_.references, 0u);
}

TEST_F(LookupRunningObject, RefusesAnOutArgumentThatHoldsAPointer)
{
    IUnknown* occupied = &object_;
    EXPECT_EQ(lookupRunningObject(::SysAllocString(kLauncherItemName), &occupied), E_INVALIDARG);
    EXPECT_EQ(occupied, &object_);
}

} // namespace
