// Every scenario against the real registry, through advapi32: under Wine on
// the build machine. A scenario that passes in memory and fails here exposes
// a fault in the in-memory registry or in the engine.
#include <gtest/gtest.h>

#include <cctype>

#include "scenario_run.h"
#include "support/win32_live_area.h"

namespace {

class WineScenario : public ::testing::TestWithParam<std::string> {};

TEST_P(WineScenario, RunsAsDescribed) {
    Scenario scenario;
    std::string error;
    ASSERT_TRUE(ReadScenario(GetParam(), &scenario, &error)) << error;
    if (scenario.memoryOnly) {
        GTEST_SKIP() << "platform: memory";
    }
    if (!scenario.injections.empty()) {
        GTEST_SKIP() << "failure injection exists in memory only";
    }
    MemoryRegistry seed;
    MemoryRegistry expected;
    ASSERT_TRUE(LoadScenarioRegistry(scenario, seed, &error)) << error;
    ASSERT_TRUE(BuildExpectedRegistry(scenario, expected, &error)) << error;

    LiveArea live;
    ASSERT_TRUE(live.Seed(seed, &error)) << error;
    ASSERT_TRUE(live.Restrict(scenario.access, &error)) << error;
    ScenarioRunResult run = RunScenarioCall(scenario);
    ExpectScenarioCallResults(scenario, run);
    EXPECT_EQ(RegistryOpenHandleCount(), 0u) << "a key was left open";

    ASSERT_TRUE(live.LiftRestrictions(&error)) << error;
    MemoryRegistry after;
    std::vector<std::string> orderErrors;
    ASSERT_TRUE(live.ReadBack(after, &orderErrors, &error)) << error;
    EXPECT_EQ(live.Text(after), live.Text(expected)) << "the registry afterwards";
    for (const std::string& message : orderErrors) {
        ADD_FAILURE() << message;
    }
    EXPECT_TRUE(live.Remove(&error)) << error;
}

INSTANTIATE_TEST_SUITE_P(Scenarios, WineScenario,
                         ::testing::ValuesIn(ListScenarioFiles(ScenarioDir())), ScenarioTestName);

}  // namespace
