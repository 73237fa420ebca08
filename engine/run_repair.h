#pragma once

// What a repair run achieved.
enum class RepairOutcome {
    Removed,     // the target was found and both of its key trees are gone
    NotRemoved,  // the target was found but a deletion failed or was declined
    NotFound,    // no target; nothing was deleted
};

// Searches the installer's per-user data for the damaged registration and
// deletes its product registration, then its installer data key; the second
// deletion is made whatever the first returned.
RepairOutcome RunRepair();
