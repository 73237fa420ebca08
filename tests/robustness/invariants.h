// What must hold after any RunRepair on any registry, checked in one place
// for every robustness test, the fault-injection sweep, the fuzzer and the
// runs on the real registry:
// - no key that the engine opened is still open;
// - every difference between before and after is the removal of keys inside
//   the two trees that RepairTargets records; a key of those trees is left
//   behind only when a call about it (or the walk above it) was refused;
// - the outcome agrees: removed means both trees are gone, not-found means
//   nothing changed and nothing was deleted;
// - the diagnostic reports are the known texts under their captions, one for
//   each failed call that is reported, in the order of those calls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "call_log.h"
#include "detect_target.h"
#include "registry_snapshot.h"
#include "run_repair.h"
#include "support/outcome_name.h"
#include "support/recording_reporter.h"

struct CheckedRun {
    RepairOutcome outcome = RepairOutcome::NotFound;
    RepairTargetRecord targets;
    bool diagnostic = false;
    std::vector<RecordedReport> reports;
    std::vector<CallRecord> calls;
    std::uint32_t openHandlesAfter = 0;
};

struct InvariantOptions {
    // Trees that something other than the engine changes during the run;
    // their contents are not compared (the calls into them still are).
    std::vector<RegistryLocation> unwatched;
};

// Empty when every invariant held; otherwise one line per violation.
std::vector<std::string> CheckRepairInvariants(const RegistrySnapshot& before,
                                               const RegistrySnapshot& after, const CheckedRun& run,
                                               const InvariantOptions& options = {});

// The index of the first call that belongs to the deletions: the walk's last
// call before a find is the read of the target's ProductName. calls.size()
// when the run found nothing.
std::size_t FirstDeletionCall(const CheckedRun& run);

// text is an instance of the printf-style format (only %s and %d), or a cut
// of one at the report text's limit of 1023 characters.
bool MatchesReportFormat(const std::string& text, const std::string& format);
