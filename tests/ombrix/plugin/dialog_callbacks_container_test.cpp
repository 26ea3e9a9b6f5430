#include "plugin/dialog_callbacks_container.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace {

struct Callback : HLXPlugins::IPluginDialogCallback {
    void onDialogFinish(std::int32_t) override {}
};

// After 2^32 requests the counter wraps: a dialog still waiting for its answer
// keeps its id, and a new one gets neither that id nor 0.
TEST(DialogCallbacksContainer, IdsStayUniqueWhenTheCounterWraps)
{
    Callback first, last, wrapped;
    DialogCallbacksContainer dialogs;
    continueDialogIdsAt(1);
    EXPECT_EQ(dialogs.add(&first), 1u);
    continueDialogIdsAt(std::numeric_limits<std::uint32_t>::max());
    EXPECT_EQ(dialogs.add(&last), std::numeric_limits<std::uint32_t>::max());
    EXPECT_EQ(dialogs.add(&wrapped), 2u);
    EXPECT_EQ(dialogs.find(1), &first);
    EXPECT_EQ(dialogs.find(std::numeric_limits<std::uint32_t>::max()), &last);
    EXPECT_EQ(dialogs.find(2), &wrapped);
    EXPECT_EQ(dialogs.find(0), nullptr);
}

} // namespace
