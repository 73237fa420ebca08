// Every repair scenario again, through keymendc.exe on the live registry:
// check first (exit code, text summary, nothing changed), then repair --json
// (exit code, the JSON read back by a parser, the registry afterwards).
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "keymendc_run.h"
#include "scenario/scenario_run.h"
#include "support/win32_live_area.h"

namespace {

struct Expectation {
    const char* outcome;
    DWORD checkExit;
    const char* checkSummary;
    DWORD repairExit;
    const char* repairSummary;
};

constexpr Expectation kExpectations[] = {
    {"removed", 1, "Found: ", 0, "Removed: "},
    {"not-removed", 1, "Found: ", 1, "Not removed completely: "},
    {"not-found", 0, "Not found: ", 0, "Not found: "},
};

const Expectation& ExpectationFor(const std::string& outcome) {
    for (const Expectation& expectation : kExpectations) {
        if (outcome == expectation.outcome) {
            return expectation;
        }
    }
    return kExpectations[2];
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

// The engine's reports as keymendc's JSON lists them; questions are
// answered, not failures.
std::string ExpectedFailures(const Scenario& scenario) {
    std::string text;
    for (const RecordedReport& report : scenario.reports) {
        if (!report.question) {
            text += AnsiToUtf8(report.caption + " | " + report.text) + "\n";
        }
    }
    return text;
}

std::string Failures(const nlohmann::json& report) {
    std::string text;
    for (const nlohmann::json& failure : report["failures"]) {
        text += failure["caption"].get<std::string>() + " | " + failure["text"].get<std::string>() +
                "\n";
    }
    return text;
}

bool IsDeleted(const Scenario& scenario, const std::string& key) {
    for (const ScenarioKey& deleted : scenario.deleted) {
        if (FormatRootedKey(deleted) == key) {
            return true;
        }
    }
    return false;
}

class KeymendcScenario : public ::testing::TestWithParam<std::string> {};

TEST_P(KeymendcScenario, CheckThenRepair) {
    Scenario scenario;
    std::string error;
    ASSERT_TRUE(ReadScenario(GetParam(), &scenario, &error)) << error;
    if (scenario.run != ScenarioRun::Repair || scenario.memoryOnly ||
        !scenario.injections.empty()) {
        GTEST_SKIP() << "not a repair on the live registry";
    }
    if (std::count(scenario.answers.begin(), scenario.answers.end(), false) > 0) {
        GTEST_SKIP() << "keymendc answers every question Yes";
    }
    MemoryRegistry seed;
    MemoryRegistry expected;
    ASSERT_TRUE(LoadScenarioRegistry(scenario, seed, &error)) << error;
    ASSERT_TRUE(BuildExpectedRegistry(scenario, expected, &error)) << error;
    std::string outcome = scenario.outcome.empty() ? "not-found" : scenario.outcome;
    const Expectation& expectation = ExpectationFor(outcome);

    LiveArea live;
    ASSERT_TRUE(live.Seed(seed, &error)) << error;
    ASSERT_TRUE(live.Restrict(scenario.access, &error)) << error;

    ProgramRun check = RunKeymendc(L"check");
    EXPECT_EQ(check.exitCode, expectation.checkExit) << check.out;
    EXPECT_PRED2(StartsWith, LastLine(check.out), expectation.checkSummary);
    EXPECT_EQ(check.err, "") << "standard error without --verbose";

    ProgramRun repair = RunKeymendc(L"repair --json");
    EXPECT_EQ(repair.exitCode, expectation.repairExit) << repair.out;
    EXPECT_EQ(repair.err, "");
    nlohmann::json report = nlohmann::json::parse(repair.out, nullptr, false);
    ASSERT_TRUE(report.is_object()) << "not one JSON object: " << repair.out;
    EXPECT_EQ(report["outcome"], outcome);
    EXPECT_EQ(report["exitCode"], expectation.repairExit);
    EXPECT_PRED2(StartsWith, report["summary"].get<std::string>(), expectation.repairSummary);
    if (scenario.diagnostic) {
        EXPECT_EQ(Failures(report), ExpectedFailures(scenario)) << "failures in order";
    }
    if (scenario.hasRecorded && scenario.recordedProduct.root != 0) {
        std::string product = FormatRootedKey(scenario.recordedProduct);
        std::string data = FormatRootedKey(scenario.recordedData);
        EXPECT_EQ(report["registration"]["productKey"], product);
        EXPECT_EQ(report["registration"]["dataKey"], data);
        ASSERT_EQ(report["deletions"].size(), 2u);
        EXPECT_EQ(report["deletions"][0]["key"], product);
        EXPECT_EQ(report["deletions"][1]["key"], data);
        for (const nlohmann::json& deletion : report["deletions"]) {
            EXPECT_EQ(deletion["deleted"], IsDeleted(scenario, deletion["key"])) << deletion["key"];
        }
    }

    ASSERT_TRUE(live.LiftRestrictions(&error)) << error;
    MemoryRegistry after;
    ASSERT_TRUE(live.ReadBack(after, nullptr, &error)) << error;
    EXPECT_EQ(live.Text(after), live.Text(expected)) << "the registry afterwards";
    EXPECT_TRUE(live.Remove(&error)) << error;
}

INSTANTIATE_TEST_SUITE_P(Scenarios, KeymendcScenario,
                         ::testing::ValuesIn(ListScenarioFiles(KEYMEND_SCENARIO_DIR)),
                         ScenarioTestName);

}  // namespace
