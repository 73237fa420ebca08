// Every scenario against the in-memory registry.
#include <gtest/gtest.h>

#include "memory/reg_file.h"
#include "scenario_run.h"

namespace {

class MemoryScenario : public ::testing::TestWithParam<std::string> {};

TEST_P(MemoryScenario, RunsAsDescribed) {
    Scenario scenario;
    std::string error;
    ASSERT_TRUE(ReadScenario(GetParam(), &scenario, &error)) << error;
    MemoryRegistry registry;
    MemoryRegistry expected;
    ASSERT_TRUE(LoadScenarioRegistry(scenario, registry, &error)) << error;
    ASSERT_TRUE(BuildExpectedRegistry(scenario, expected, &error)) << error;
    for (const ScenarioAccess& access : scenario.access) {
        MemoryRegistry::NodeId node = registry.FindPath(access.key.root, access.key.path);
        ASSERT_NE(node, MemoryRegistry::kNoNode) << FormatRootedKey(access.key);
        registry.SetAllowedAccess(node, access.allowed);
    }
    for (const ScenarioInjection& injection : scenario.injections) {
        registry.InjectFailure(injection.op, injection.nth, injection.code);
    }

    UseMemoryRegistry(&registry);
    ScenarioRunResult run = RunScenarioCall(scenario);
    UseMemoryRegistry(nullptr);

    ExpectScenarioCallResults(scenario, run);
    EXPECT_EQ(registry.OpenHandleCount(), 0u) << "a key was left open";
    EXPECT_EQ(WriteRegFile(registry, RegFileFormat::Regedit4),
              WriteRegFile(expected, RegFileFormat::Regedit4))
        << "the registry afterwards";
}

INSTANTIATE_TEST_SUITE_P(Scenarios, MemoryScenario,
                         ::testing::ValuesIn(ListScenarioFiles(KEYMEND_SCENARIO_DIR)),
                         ScenarioTestName);

}  // namespace
