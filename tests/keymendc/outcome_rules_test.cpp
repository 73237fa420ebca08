// keymendc's outcome rules and their order, and what counts as seen, as
// rows: what a run met, and the outcome and exit code a tool reads.
#include "outcome_rules.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct OutcomeRow {
    const char* name;
    OutcomeFacts facts;
    const char* outcome;
    int exitCode;
    const char* beneath;
};

constexpr Command kCheck = Command::Check;
constexpr Command kRepair = Command::Repair;

const OutcomeRow kOutcomeRows[] = {
    {"check: nothing, all seen",
     {kCheck, RunStop::None, 0, 0, true, false},
     "not-found",
     0,
     "not-found"},
    {"check: nothing, something unseen",
     {kCheck, RunStop::None, 0, 0, false, false},
     "incomplete",
     1011,
     "incomplete"},
    {"check: found wins over unseen",
     {kCheck, RunStop::None, 2, 2, false, false},
     "found",
     1,
     "found"},
    {"repair: all removed, all seen",
     {kRepair, RunStop::None, 2, 0, true, false},
     "removed",
     0,
     "removed"},
    {"repair: nothing found",
     {kRepair, RunStop::None, 0, 0, true, false},
     "not-found",
     0,
     "not-found"},
    {"repair: removed, something unseen",
     {kRepair, RunStop::None, 1, 0, false, false},
     "incomplete",
     1011,
     "incomplete"},
    {"repair: a tree stayed wins over unseen",
     {kRepair, RunStop::None, 2, 1, false, false},
     "not-removed",
     1,
     "not-removed"},
    {"no rights", {kCheck, RunStop::NoRights, 0, 0, false, false}, "no-rights", 2, "no-rights"},
    {"busy before reading",
     {kCheck, RunStop::InstallerBusy, 0, 0, false, false},
     "installer-busy",
     1618,
     "installer-busy"},
    {"busy before deleting",
     {kRepair, RunStop::InstallerBusy, 1, 1, true, false},
     "installer-busy",
     1618,
     "installer-busy"},
    {"backup not written",
     {kRepair, RunStop::BackupFailed, 1, 1, true, false},
     "backup-failed",
     29,
     "backup-failed"},
    {"a hive left loaded over removed",
     {kRepair, RunStop::None, 1, 0, true, true},
     "hive-left-loaded",
     170,
     "removed"},
    {"a hive left loaded over found",
     {kCheck, RunStop::None, 1, 1, true, true},
     "hive-left-loaded",
     170,
     "found"},
    {"a hive left loaded over busy",
     {kCheck, RunStop::InstallerBusy, 0, 0, false, true},
     "hive-left-loaded",
     170,
     "installer-busy"},
};

TEST(OutcomeRules, EachRowDecidesItsOutcome) {
    for (const OutcomeRow& row : kOutcomeRows) {
        OutcomeDecision decision = DecideOutcome(row.facts);
        EXPECT_STREQ(OutcomeName(decision.outcome), row.outcome) << row.name;
        EXPECT_EQ(decision.exitCode, row.exitCode) << row.name;
        EXPECT_STREQ(OutcomeName(decision.beneath), row.beneath) << row.name;
    }
}

// The exit codes the docs show, from the table file, are those the rules give.
TEST(OutcomeRules, TheTableFileListsTheRulesExitCodes) {
    struct Listed {
        int code;
        const char* outcomes;
    };
    const Listed listed[] = {
#define EXIT(code, outcomes, check, repair, advice) {code, outcomes},
#include "deployment_table.def"
    };
    std::map<std::string, int> ruled;
    for (const OutcomeRow& row : kOutcomeRows) {
        OutcomeDecision decision = DecideOutcome(row.facts);
        ruled[OutcomeName(decision.outcome)] = decision.exitCode;
    }
    std::set<std::string> inTable;
    for (const Listed& row : listed) {
        std::istringstream words(row.outcomes);
        for (std::string outcome; words >> outcome;) {
            if (outcome != "-") {
                EXPECT_EQ(ruled[outcome], row.code) << outcome;
                inTable.insert(outcome);
            }
        }
    }
    for (const auto& [outcome, code] : ruled) {
        EXPECT_EQ(inTable.count(outcome), 1u) << outcome << " (" << code << ") is not in the table";
    }
}

// A record with one user of each listed kind, and what it says of the run.
struct SeenRow {
    const char* name;
    bool surveyed;
    bool unreadableKey;
    std::uint32_t marks;
    std::vector<std::pair<bool, HiveState>> users;  // has a profile, registry
    bool leftover;                                  // a killed run's hive still loaded
    bool complete;
    bool leftLoaded;
};

const SeenRow kSeenRows[] = {
    {"not surveyed: refused before", false, false, 0, {}, false, false, false},
    {"everything", true, false, 0, {{true, HiveState::LoadedByWindows}}, false, true, false},
    {"a key unread", true, true, 0, {}, false, false, false},
    {"the marks not trusted", true, false, 5, {}, false, false, false},
    {"signed out, not loaded", true, false, 0, {{true, HiveState::NotLoaded}}, false, false, false},
    {"no profile: cannot sign in",
     true,
     false,
     0,
     {{false, HiveState::NotLoaded}},
     false,
     true,
     false},
    {"not loadable", true, false, 0, {{true, HiveState::NotLoadable}}, false, false, false},
    {"loaded and unloaded",
     true,
     false,
     0,
     {{true, HiveState::LoadedAndUnloaded}},
     false,
     true,
     false},
    {"signed in meanwhile",
     true,
     false,
     0,
     {{true, HiveState::SignedInMeanwhile}},
     false,
     true,
     false},
    {"left loaded: seen, but left",
     true,
     false,
     0,
     {{true, HiveState::LeftLoaded}},
     false,
     true,
     true},
    {"a killed run's hive still loaded", true, false, 0, {}, true, true, true},
};

TEST(OutcomeRules, WhatCountsAsSeen) {
    for (const SeenRow& row : kSeenRows) {
        RunRecord record;
        record.surveyed = row.surveyed;
        if (row.unreadableKey) {
            record.unreadable.push_back({L"HKEY_LOCAL_MACHINE\\X", 5});
        }
        record.marks.code = row.marks;
        for (const auto& [hasProfile, hive] : row.users) {
            User user;
            user.hasProfile = hasProfile;
            user.hive = hive;
            record.users.push_back(user);
        }
        if (row.leftover) {
            record.leftovers.push_back({L"S-1-5-21-1-2-3-1000", "unload-failed", 5, true});
        }
        EXPECT_EQ(SawEverything(record), row.complete) << row.name;
        EXPECT_EQ(LeftHiveLoaded(record), row.leftLoaded) << row.name;
    }
}

// Only a registration that is gone leaves nothing behind; one installed for
// all users and not asked for stays, and the repair says so.
TEST(OutcomeRules, EveryFateButRemovedRemains) {
    const std::pair<RegistrationFate, const char*> rows[] = {
        {RegistrationFate::Removed, "removed"},
        {RegistrationFate::Remains, "not-removed"},
        {RegistrationFate::NotRequested, "not-removed"},
        {RegistrationFate::Found, "not-removed"},
    };
    for (const auto& [fate, outcome] : rows) {
        RunRecord record;
        record.command = Command::Repair;
        record.surveyed = true;
        record.registrations.emplace_back();
        record.registrations.back().fate = fate;
        DecideOutcome(&record);
        EXPECT_STREQ(OutcomeName(record.outcome), outcome);
    }
}

}  // namespace
