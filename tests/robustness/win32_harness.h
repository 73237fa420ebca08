// The invariant check on the real registry (Windows, or Wine): the engine's
// calls to advapi32 are recorded, and parts of the registry snapshotted.
#pragma once

#include <vector>

#include "invariants.h"

// The keys below each scope (missing scopes are left out), with their values.
RegistrySnapshot SnapshotLiveRegistry(const std::vector<RegistryLocation>& scopes);

// One RunRepair with the diagnostic answers given (No once they run out).
CheckedRun RunRecordedLiveRepair(bool diagnostic, const std::vector<bool>& answers);

// Snapshot the scopes, run, snapshot, check.
std::vector<std::string> LiveRepairAndCheck(const std::vector<RegistryLocation>& scopes,
                                            bool diagnostic, const std::vector<bool>& answers,
                                            const InvariantOptions& options = {},
                                            CheckedRun* run = nullptr);
