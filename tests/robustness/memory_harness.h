// Runs RunRepair on an in-memory registry with every registry call recorded,
// and snapshots in-memory registries for the invariant check.
#pragma once

#include <vector>

#include "invariants.h"
#include "memory/memory_registry.h"

// The registry the recording provider forwards to; null fails every call.
void UseRecordedMemoryRegistry(MemoryRegistry* registry);

RegistrySnapshot SnapshotMemoryRegistry(const MemoryRegistry& registry);

// One RunRepair, as the main window makes it, with the diagnostic answers
// given (No once they run out). Leaves the process-wide state as it found it.
CheckedRun RunRecordedRepair(MemoryRegistry& registry, bool diagnostic,
                             const std::vector<bool>& answers);

// Snapshot, run, snapshot, check: the violations found (none when all held).
std::vector<std::string> RepairAndCheck(MemoryRegistry& registry, bool diagnostic,
                                        const std::vector<bool>& answers, CheckedRun* run = nullptr,
                                        RegistrySnapshot* after = nullptr);
