#pragma once

#include "registry.h"

// What a repair run achieved.
enum class RepairOutcome {
    Removed,     // the target was found and both of its key trees are gone
    NotRemoved,  // the target was found but a deletion failed or was declined
    NotFound,    // no target; nothing was deleted
};

// The result of each of the two deletions, in the order they are made.
struct TargetDeletions {
    RegResult product = 0;
    RegResult data = 0;
};

// The search step alone: walks the installer's per-user data and returns
// SearchKey's result; SEARCH_FOUND means RepairTargets holds the target
// (unless the diagnostic question was answered No). Reads only.
[[nodiscard]] RegResult FindRepairTarget();

// The deletion step alone: deletes the product registration, then the
// installer data key of RepairTargets; the second deletion is made whatever
// the first returned.
[[nodiscard]] TargetDeletions DeleteRepairTargets();

RepairOutcome OutcomeOfDeletions(const TargetDeletions& deletions);

// Both steps: the search, and the deletions when it found the target.
RepairOutcome RunRepair();
