#include "command_line.h"
#include "run_mode.h"

#include <gtest/gtest.h>

namespace {

struct ModeCase {
    const char* name;
    bool unregServer, regServer, adminHost;
    std::optional<std::uint32_t> pluginId;
    RunMode expected;
};

class RunModeSelection : public testing::TestWithParam<ModeCase> {};

TEST_P(RunModeSelection, FollowsPrecedence)
{
    const ModeCase& c = GetParam();
    CommandLineOptions options;
    options.unregServer = c.unregServer;
    options.regServer = c.regServer;
    options.adminHost = c.adminHost;
    options.pluginId = c.pluginId;
    EXPECT_EQ(selectRunMode(options), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, RunModeSelection,
    testing::Values(ModeCase{"UnregisterBeatsAll", true, true, true, 7, RunMode::Unregistration},
                    ModeCase{"Unregister", true, false, false, std::nullopt, RunMode::Unregistration},
                    ModeCase{"RegisterBeatsAdminHost", false, true, true, 7, RunMode::Registration},
                    ModeCase{"Register", false, true, false, std::nullopt, RunMode::Registration},
                    ModeCase{"AdminHostIgnoresPluginId", false, false, true, 7, RunMode::AdminHost},
                    ModeCase{"PluginHost", false, false, false, 7, RunMode::PluginHost},
                    ModeCase{"PluginIdZeroIsAnId", false, false, false, 0, RunMode::PluginHost},
                    ModeCase{"Nothing", false, false, false, std::nullopt, RunMode::None}),
    [](const testing::TestParamInfo<ModeCase>& info) { return info.param.name; });

} // namespace
