#include "diagnostics/monitor_client/event_process_hooker.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using testing::ElementsAre;

TEST(EventProcessHooker, RunsEachKindsHooksInIdOrder)
{
    VESK::EventProcessHooker hooker;
    std::vector<std::string> calls;
    const auto begin = [&](const char* name) {
        return hooker.addBeginHook([&calls, name](VESK::EventType, const VESK::CustomData& data, VESK::PostEventAction,
                                                  const char* text, std::uint64_t value, VESK::CustomData& out) {
            calls.push_back(std::string(name) + " " + text + " " + std::to_string(value));
            out.handle = data.handle;
        });
    };
    EXPECT_EQ(begin("first"), 1u);
    EXPECT_EQ(hooker.addEndHook([&](auto...) { calls.push_back("end"); }), 2u);
    EXPECT_EQ(begin("second"), 3u);

    int data = 0;
    VESK::CustomData out;
    hooker.begin(VESK::EventType::Assertion, {&data}, VESK::PostEventAction::Continue, "text", 9, out);
    hooker.end(VESK::EventType::Assertion, {&data}, VESK::PostEventAction::Continue, "text", 9);
    EXPECT_THAT(calls, ElementsAre("first text 9", "second text 9", "end"));
    EXPECT_EQ(out.handle, &data);

    hooker.clear();
    hooker.begin(VESK::EventType::Assertion, {}, VESK::PostEventAction::Continue, "text", 9, out);
    EXPECT_EQ(calls.size(), 3u);
    EXPECT_EQ(begin("after"), 4u);
}

} // namespace
