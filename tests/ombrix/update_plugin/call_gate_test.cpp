// The rule for launcher calls that COM serves while the main thread is inside
// an operation: they see the gate busy, and what they defer runs after the
// outermost operation, in order, itself held the same way.
#include "update_plugin/call_gate.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(CallGate, DeferredWorkRunsInOrderAfterTheOutermostOperation)
{
    CallGate gate;
    std::vector<std::wstring> seen;
    const auto note = [&](const wchar_t* what) {
        seen.push_back(std::wstring(what) + L" busy=" + (gate.busy() ? L"1 in " + std::wstring(gate.running()) : L"0"));
    };
    const int result = gate.serve(L"name", [&] {
        note(L"name");
        gate.serve(L"nested stop", [&] { gate.defer(L"stop", [&] { note(L"stop"); }); });
        gate.defer(L"deinitialize", [&] {
            note(L"deinitialize");
            // Work deferred while deferred work runs waits for it too.
            gate.defer(L"onDialogFinish", [&] { note(L"onDialogFinish"); });
            note(L"deinitialize returns");
        });
        note(L"name returns");
        return 7;
    });
    EXPECT_EQ(result, 7);
    EXPECT_THAT(seen, testing::ElementsAre(L"name busy=1 in name", L"name returns busy=1 in name",
                                           L"stop busy=1 in stop", L"deinitialize busy=1 in deinitialize",
                                           L"deinitialize returns busy=1 in deinitialize",
                                           L"onDialogFinish busy=1 in onDialogFinish"));
    EXPECT_FALSE(gate.busy());

    seen.clear();
    gate.defer(L"idle", [&] { note(L"idle"); });
    EXPECT_THAT(seen, testing::ElementsAre(L"idle busy=1 in idle"));
}

TEST(CallGate, AThrowingPieceOfWorkLeavesTheGateUsable)
{
    CallGate gate;
    int ran = 0;
    gate.serve(L"outer", [&] {
        gate.defer(L"throws", [] { throw 1; });
        gate.defer(L"after", [&] { ++ran; });
        return 0;
    });
    EXPECT_EQ(ran, 1);
    EXPECT_FALSE(gate.busy());
    EXPECT_EQ(gate.running(), nullptr);
}

} // namespace
