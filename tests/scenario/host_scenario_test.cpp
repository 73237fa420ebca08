// Every scenario against the in-memory registry.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "diagnostics.h"
#include "installer_data_survey.h"
#include "memory/reg_file.h"
#include "scenario_run.h"

namespace {

class MemoryScenario : public ::testing::TestWithParam<std::string> {};

constexpr char kLiveOnly[] = "a registry link exists on the live registry only";

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

// The scenario's registry with its restrictions and injected failures.
void PrepareRegistry(const Scenario& scenario, MemoryRegistry& registry) {
    std::string error;
    ASSERT_TRUE(LoadScenarioRegistry(scenario, registry, &error)) << error;
    for (const ScenarioAccess& access : scenario.access) {
        MemoryRegistry::NodeId node = registry.FindPath(access.key.root, access.key.path);
        ASSERT_NE(node, MemoryRegistry::kNoNode) << FormatRootedKey(access.key);
        registry.SetAllowedAccess(node, access.allowed);
    }
    for (const ScenarioInjection& injection : scenario.injections) {
        registry.InjectFailure(injection.op, injection.nth, injection.code);
    }
}

TEST_P(MemoryScenario, RunsAsDescribed) {
    Scenario scenario;
    std::string error;
    ASSERT_TRUE(ReadScenario(GetParam(), &scenario, &error)) << error;
    if (!scenario.links.empty()) {
        GTEST_SKIP() << kLiveOnly;
    }
    MemoryRegistry registry;
    MemoryRegistry expected;
    ASSERT_NO_FATAL_FAILURE(PrepareRegistry(scenario, registry));
    ASSERT_TRUE(BuildExpectedRegistry(scenario, expected, &error)) << error;

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

// The survey keymendc reports from, run to the end of the same registry:
// the keys it could not look into, the users whose registry is not loaded,
// whether it found anything; and it changes nothing.
TEST_P(MemoryScenario, SurveySeesWhatKeymendcReports) {
    Scenario scenario;
    std::string error;
    ASSERT_TRUE(ReadScenario(GetParam(), &scenario, &error)) << error;
    if (scenario.run != ScenarioRun::Repair) {
        GTEST_SKIP() << "not a repair";
    }
    if (!scenario.links.empty()) {
        GTEST_SKIP() << kLiveOnly;
    }
    MemoryRegistry registry;
    ASSERT_NO_FATAL_FAILURE(PrepareRegistry(scenario, registry));
    std::string before = WriteRegFile(registry, RegFileFormat::Regedit4);
    DiagnosticMode = false;
    UseMemoryRegistry(&registry);
    InstallerDataSurvey survey = SurveyInstallerData();
    UseMemoryRegistry(nullptr);

    std::string unseen;
    for (const UnseenKey& key : survey.unseen) {
        unseen +=
            FormatRootedKey({key.root, key.path.c_str()}) + " | " + std::to_string(key.code) + "\n";
    }
    std::string expectedUnseen;
    for (const auto& [key, code] : scenario.unseen) {
        expectedUnseen += FormatRootedKey(key) + " | " + std::to_string(code) + "\n";
    }
    EXPECT_EQ(unseen, expectedUnseen);
    std::vector<std::string> users;
    for (const UnloadedCandidate& candidate : survey.unloaded) {
        if (std::find(users.begin(), users.end(), candidate.sid.c_str()) == users.end()) {
            users.push_back(candidate.sid.c_str());
        }
    }
    std::vector<std::string> expectedUsers;
    for (const auto& user : scenario.notLoaded) {
        expectedUsers.push_back(user.first);
    }
    EXPECT_EQ(users, expectedUsers);
    std::string check =
        scenario.keymendcCheck.empty()
            ? (scenario.outcome == "removed" || scenario.outcome == "not-removed" ? "found"
                                                                                  : "not-found")
            : scenario.keymendcCheck;
    EXPECT_EQ(!survey.found.empty(), check == "found");
    EXPECT_EQ(registry.OpenHandleCount(), 0u) << "a key was left open";
    EXPECT_EQ(WriteRegFile(registry, RegFileFormat::Regedit4), before);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, MemoryScenario,
                         ::testing::ValuesIn(ListScenarioFiles(ScenarioDir())), ScenarioTestName);

}  // namespace
