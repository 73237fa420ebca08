// Runs a scenario's call on whichever registry provider the test is linked
// with, and checks what every provider must agree on.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "scenario.h"

struct ScenarioRunResult {
    std::string outcome;   // for run: repair
    RegResult result = 0;  // for run: search and delete
};

// Sets diagnostic mode and the answers, clears RepairTargets and the
// recorder, then makes the scenario's one call.
ScenarioRunResult RunScenarioCall(const Scenario& scenario);

// Outcome or result, reports in order, RepairTargets. GoogleTest assertions.
void ExpectScenarioCallResults(const Scenario& scenario, const ScenarioRunResult& run);

// The registry the scenario expects afterwards: its files with the deleted
// trees removed, and with keymendc's own where it is keymendc that ran.
bool BuildExpectedRegistry(const Scenario& scenario, MemoryRegistry& expected, std::string* error,
                           bool byKeymendc = false);

// A test's name from its scenario file: the path below the scenario folder.
std::string ScenarioTestName(const ::testing::TestParamInfo<std::string>& info);
