// Every repair scenario again, through keymendc.exe on the live registry:
// check first (exit code, text summary, nothing changed), then repair --json
// (exit code, the JSON read back by a parser, the registry afterwards).
// keymendc looks at every registration where the window stops at the first;
// a scenario says where that makes a difference.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "keymendc_run.h"
#include "scenario/scenario_run.h"
#include "support/win32_live_area.h"

namespace {

struct Expectation {
    const char* outcome;
    DWORD exitCode;
    const char* summary;
};

constexpr Expectation kExpectations[] = {
    {"found", 1, "Found: "},
    {"not-found", 0, "Not found: "},
    {"incomplete", 1011, "Incomplete: "},
    {"removed", 0, "Removed: "},
    {"not-removed", 1, "Not removed completely: "},
};

const Expectation& ExpectationFor(const std::string& outcome) {
    for (const Expectation& expectation : kExpectations) {
        if (outcome == expectation.outcome) {
            return expectation;
        }
    }
    ADD_FAILURE() << "no such outcome: " << outcome;
    return kExpectations[1];
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

std::string ExpectedUnseen(const Scenario& scenario) {
    std::string text;
    for (const auto& [key, code] : scenario.unseen) {
        text += FormatRootedKey(key) + " | " + std::to_string(code) + "\n";
    }
    for (const auto& [sid, profile] : scenario.notLoaded) {
        text += "user " + sid + " | " + (profile.empty() ? "none" : profile) + "\n";
    }
    return text;
}

std::string Unseen(const nlohmann::json& report) {
    std::string text;
    for (const nlohmann::json& key : report["unreadableKeys"]) {
        text +=
            key["key"].get<std::string>() + " | " + std::to_string(key["code"].get<int>()) + "\n";
    }
    for (const nlohmann::json& user : report["usersNotLoaded"]) {
        text += "user " + user["sid"].get<std::string>() + " | " +
                (user["hasProfile"].get<bool>() ? user["profile"].get<std::string>() : "none") +
                "\n";
    }
    return text;
}

bool IsDeleted(const Scenario& scenario, const std::string& key) {
    for (const ScenarioKey& deleted : DeletedTrees(scenario, true)) {
        if (FormatRootedKey(deleted) == key) {
            return true;
        }
    }
    return false;
}

std::string CheckOutcome(const Scenario& scenario) {
    if (!scenario.keymendcCheck.empty()) {
        return scenario.keymendcCheck;
    }
    return scenario.outcome == "not-found" || scenario.outcome.empty() ? "not-found" : "found";
}

std::string RepairOutcome(const Scenario& scenario) {
    if (!scenario.keymendcRepair.empty()) {
        return scenario.keymendcRepair;
    }
    return scenario.outcome.empty() ? "not-found" : scenario.outcome;
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
    ASSERT_TRUE(BuildExpectedRegistry(scenario, expected, &error, true)) << error;
    const Expectation& check = ExpectationFor(CheckOutcome(scenario));
    const Expectation& repair = ExpectationFor(RepairOutcome(scenario));

    LiveArea live;
    ASSERT_TRUE(live.Seed(seed, &error)) << error;
    ASSERT_TRUE(live.Restrict(scenario.access, &error)) << error;

    ProgramRun checked = RunKeymendc(L"check");
    EXPECT_EQ(checked.exitCode, check.exitCode) << checked.out;
    EXPECT_PRED2(StartsWith, LastLine(checked.out), check.summary);
    EXPECT_EQ(checked.err, "") << "standard error without --verbose";

    ProgramRun repaired = RunKeymendc(L"repair --json");
    EXPECT_EQ(repaired.exitCode, repair.exitCode) << repaired.out;
    EXPECT_EQ(repaired.err, "");
    nlohmann::json report = nlohmann::json::parse(repaired.out, nullptr, false);
    ASSERT_TRUE(report.is_object()) << "not one JSON object: " << repaired.out;
    EXPECT_EQ(report["outcome"], repair.outcome);
    EXPECT_EQ(report["exitCode"], repair.exitCode);
    EXPECT_PRED2(StartsWith, report["summary"].get<std::string>(), repair.summary);
    EXPECT_EQ(Unseen(report), ExpectedUnseen(scenario)) << "keys and users unseen, in order";
    EXPECT_EQ(report["complete"],
              scenario.unseen.empty() &&
                  std::none_of(scenario.notLoaded.begin(), scenario.notLoaded.end(),
                               [](const auto& user) { return !user.second.empty(); }));
    if (scenario.diagnostic) {
        EXPECT_EQ(Failures(report), ExpectedFailures(scenario)) << "failures in order";
    }
    if (scenario.hasRecorded && scenario.recordedProduct.root != 0) {
        // The window's target is keymendc's first.
        EXPECT_EQ(report["registration"]["productKey"], FormatRootedKey(scenario.recordedProduct));
        EXPECT_EQ(report["registration"]["dataKey"], FormatRootedKey(scenario.recordedData));
    }
    // Two installer data keys may share a product registration, which goes once.
    EXPECT_LE(report["deletions"].size(), 2 * report["registrations"].size());
    for (const nlohmann::json& deletion : report["deletions"]) {
        EXPECT_EQ(deletion["deleted"], IsDeleted(scenario, deletion["key"])) << deletion["key"];
    }

    ASSERT_TRUE(live.LiftRestrictions(&error)) << error;
    MemoryRegistry after;
    ASSERT_TRUE(live.ReadBack(after, nullptr, &error)) << error;
    EXPECT_EQ(live.Text(after), live.Text(expected)) << "the registry afterwards";
    EXPECT_TRUE(live.Remove(&error)) << error;
}

INSTANTIATE_TEST_SUITE_P(Scenarios, KeymendcScenario,
                         ::testing::ValuesIn(ListScenarioFiles(ScenarioDir())), ScenarioTestName);

}  // namespace
