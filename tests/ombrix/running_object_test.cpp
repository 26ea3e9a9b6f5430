#include "running_object.h"
#include "support/test_events.h"
#include "system/win32/com_scope.h"

#include <objbase.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

namespace {

using Microsoft::WRL::ComPtr;

// Publishes an object under "!" + name for the life of the registration.
class RotEntry {
public:
    RotEntry(IUnknown* object, const wchar_t* name)
    {
        ComPtr<IMoniker> moniker;
        ::CreateItemMoniker(L"!", name, &moniker);
        ::GetRunningObjectTable(0, &table_);
        table_->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, object, moniker.Get(), &cookie_);
    }
    ~RotEntry() { table_->Revoke(cookie_); }

private:
    ComPtr<IRunningObjectTable> table_;
    DWORD cookie_ = 0;
};

class LookupRunningObject : public testing::Test {
protected:
    ComScope apartment_;
    TestSupport::TestEvents object_;
};

TEST_F(LookupRunningObject, FindsTheObjectUnderItsItemName)
{
    {
        const RotEntry entry(&object_, kLauncherFallbackItemName);
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
