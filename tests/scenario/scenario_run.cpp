#include "scenario_run.h"

#include <gtest/gtest.h>

#include <cctype>

#include "delete_key_repeat.h"
#include "detect_target.h"
#include "diagnostics.h"
#include "run_repair.h"
#include "search_key.h"
#include "support/outcome_name.h"

namespace {

std::string Describe(const RecordedReport& report) {
    return (report.question ? "ask: " : "report: ") + report.caption + " | " + report.text;
}

}  // namespace

ScenarioRunResult RunScenarioCall(const Scenario& scenario) {
    Recorder().Reset();
    Recorder().answers.assign(scenario.answers.begin(), scenario.answers.end());
    RepairTargets = RepairTargetRecord{};
    DiagnosticMode = scenario.diagnostic;
    ScenarioRunResult run;
    switch (scenario.run) {
        case ScenarioRun::Repair:
            run.outcome = OutcomeName(RunRepair());
            break;
        case ScenarioRun::Search:
            run.result = SearchKey(scenario.runKey.root, scenario.runKey.path.c_str());
            break;
        case ScenarioRun::Delete:
            run.result = DeleteKeyRepeat(scenario.runKey.root, scenario.runKey.path.c_str());
            break;
    }
    DiagnosticMode = false;
    return run;
}

void ExpectScenarioCallResults(const Scenario& scenario, const ScenarioRunResult& run) {
    if (scenario.run == ScenarioRun::Repair) {
        EXPECT_EQ(run.outcome, scenario.outcome.empty() ? "not-found" : scenario.outcome);
    }
    if (scenario.hasResult) {
        EXPECT_EQ(run.result, scenario.result);
    }
    std::string expected;
    for (const RecordedReport& report : scenario.reports) {
        expected += Describe(report) + "\n";
    }
    std::string actual;
    for (const RecordedReport& report : Recorder().reports) {
        actual += Describe(report) + "\n";
    }
    EXPECT_EQ(actual, expected) << "reports in order";
    EXPECT_EQ(Recorder().unansweredQuestions, 0) << "a question had no scripted answer";
    if (scenario.hasRecorded) {
        ScenarioKey product{RepairTargets.ProductKeyRoot, RepairTargets.ProductKeyPath.c_str()};
        ScenarioKey data{RepairTargets.DataKeyRoot, RepairTargets.DataKeyPath.c_str()};
        EXPECT_EQ(FormatRootedKey(product), FormatRootedKey(scenario.recordedProduct));
        EXPECT_EQ(FormatRootedKey(data), FormatRootedKey(scenario.recordedData));
    }
}

bool BuildExpectedRegistry(const Scenario& scenario, MemoryRegistry& expected, std::string* error,
                           bool byKeymendc) {
    if (!LoadScenarioRegistry(scenario, expected, error)) {
        return false;
    }
    for (const ScenarioKey& key : DeletedTrees(scenario, byKeymendc)) {
        MemoryRegistry::NodeId node = expected.FindPath(key.root, key.path);
        if (node == MemoryRegistry::kNoNode) {
            *error = "deleted: key not in the scenario: " + FormatRootedKey(key);
            return false;
        }
        expected.RemoveTree(node);
    }
    return true;
}

std::string ScenarioTestName(const ::testing::TestParamInfo<std::string>& info) {
    std::string name = info.param.substr(ScenarioDir().size() + 1);
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) {
            c = '_';
        }
    }
    return name.substr(0, name.size() - 4);
}
