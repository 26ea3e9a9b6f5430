#include "diagnostics/event_handlers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using namespace Diagnostics;
using VESK::EventType;
using VESK::PostEventAction;

struct RouteCase {
    int type;
    int action;
    const char* handler; // "fatal", "non-fatal" or "" (ignored)
};

TEST(EventRouting, ByTypeAndPostEventAction)
{
    std::string reached;
    setFatalEventHandler([&](auto...) { reached = "fatal"; });
    setNonFatalEventHandler([&](auto...) { reached = "non-fatal"; });
    const RouteCase cases[] = {{1, 0, "non-fatal"}, {1, 1, "fatal"}, {1, 2, "fatal"}, {1, 3, "fatal"},
                               {1, 4, "fatal"},     {1, 5, "non-fatal"}, {2, 0, "fatal"}, {2, 3, "fatal"},
                               {0, 1, ""},          {4, 1, ""}};
    for (const RouteCase& c : cases) {
        reached.clear();
        VESK::CustomData out;
        Private::routeEventBegin(static_cast<EventType>(c.type), {}, static_cast<PostEventAction>(c.action), "text", 1,
                                 out);
        EXPECT_EQ(reached, c.handler) << "type " << c.type << ", action " << c.action;
    }
    setFatalEventHandler({});
    setNonFatalEventHandler({});
}

} // namespace
