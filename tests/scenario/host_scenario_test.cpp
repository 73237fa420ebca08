// Every scenario against the in-memory registry.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "memory/reg_file.h"
#include "scenario_run.h"

namespace {

class MemoryScenario : public ::testing::TestWithParam<std::string> {};

// How often the search opened each key to enumerate it: once at most, or the
// walk went in circles. The deletion's opens come after its first delete.
struct WalkCount {
    bool deleting = false;
    std::map<MemoryRegistry::NodeId, int> enumerationOpens;
    int most = 0;
};

void CountWalk(void* context, const MemoryRegistry::Call& call) {
    auto& count = *static_cast<WalkCount*>(context);
    count.deleting = count.deleting || call.kind == MemoryRegistry::CallKind::Delete;
    if (!count.deleting && call.kind == MemoryRegistry::CallKind::Open && call.result == REG_OK &&
        call.detail == ACCESS_KEY_WRITE_ENUMERATE) {
        count.most = std::max(count.most, ++count.enumerationOpens[call.node]);
    }
}

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

    WalkCount walk;
    registry.SetCallObserver(CountWalk, &walk);
    UseMemoryRegistry(&registry);
    ScenarioRunResult run = RunScenarioCall(scenario);
    UseMemoryRegistry(nullptr);
    registry.SetCallObserver(nullptr, nullptr);
    EXPECT_LE(walk.most, 1) << "the search walked a key more than once";

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
