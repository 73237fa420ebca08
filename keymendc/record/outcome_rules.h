// The one place where a run's outcome and exit code are decided, from what
// the record says, by these rules in this order:
//  1. a registry keymendc loaded is still loaded: hive-left-loaded (170),
//     whatever else happened, which is kept beneath it;
//  2. the run stopped early: no rights (2), Windows Installer busy (1618),
//     the backup not written (29);
//  3. check: a damaged registration found (1) wins over unseen, since the
//     repair can help; repair: a tree that stayed (1) wins over unseen, as
//     the more urgent news;
//  4. something unseen: incomplete (1011), never clean;
//  5. clean (0): removed, or not found.
#pragma once

#include <cstddef>

#include "run_record.h"

struct OutcomeFacts {
    Command command = Command::Check;
    RunStop stop = RunStop::None;
    std::size_t found = 0;      // damaged registrations, of every kind
    std::size_t remaining = 0;  // of them, repair: not removed
    bool complete = true;       // everything was seen
    bool hiveLeftLoaded = false;
};

struct OutcomeDecision {
    RunOutcome outcome = RunOutcome::NotFound;
    int exitCode = 0;
    RunOutcome beneath = RunOutcome::NotFound;  // meaningful under hive-left-loaded
};

OutcomeDecision DecideOutcome(const OutcomeFacts& facts);

// The facts of a finished record.
OutcomeFacts FactsOf(const RunRecord& record);

// Fills the record's outcome, beneath and exit code.
void DecideOutcome(RunRecord* record);
