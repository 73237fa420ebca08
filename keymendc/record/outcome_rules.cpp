#include "outcome_rules.h"

#include "exit_codes.h"

namespace {

OutcomeDecision Decided(RunOutcome outcome, int exitCode) {
    return {outcome, exitCode, outcome};
}

OutcomeDecision Beneath(const OutcomeFacts& facts) {
    switch (facts.stop) {
        case RunStop::NoRights:
            return Decided(RunOutcome::NoRights, kExitNoRights);
        case RunStop::InstallerBusy:
            return Decided(RunOutcome::InstallerBusy, kExitInstallerBusy);
        case RunStop::BackupFailed:
            return Decided(RunOutcome::BackupFailed, kExitBackupFailed);
        case RunStop::None:
            break;
    }
    bool repair = facts.command == Command::Repair;
    if (!repair && facts.found > 0) {
        return Decided(RunOutcome::Found, kExitDamaged);
    }
    if (repair && facts.remaining > 0) {
        return Decided(RunOutcome::NotRemoved, kExitDamaged);
    }
    if (!facts.complete) {
        return Decided(RunOutcome::Incomplete, kExitIncomplete);
    }
    if (repair && facts.found > 0) {
        return Decided(RunOutcome::Removed, kExitClean);
    }
    return Decided(RunOutcome::NotFound, kExitClean);
}

}  // namespace

OutcomeDecision DecideOutcome(const OutcomeFacts& facts) {
    OutcomeDecision decision = Beneath(facts);
    if (facts.hiveLeftLoaded) {
        decision.outcome = RunOutcome::HiveLeftLoaded;
        decision.exitCode = kExitHiveLeftLoaded;
    }
    return decision;
}

OutcomeFacts FactsOf(const RunRecord& record) {
    OutcomeFacts facts;
    facts.command = record.command;
    facts.stop = record.stop;
    facts.found = record.registrations.size();
    for (const Registration& registration : record.registrations) {
        facts.remaining += registration.fate == RegistrationFate::Removed ? 0 : 1;
    }
    facts.complete = SawEverything(record);
    facts.hiveLeftLoaded = LeftHiveLoaded(record);
    return facts;
}

void DecideOutcome(RunRecord* record) {
    OutcomeDecision decision = DecideOutcome(FactsOf(*record));
    record->outcome = decision.outcome;
    record->outcomeBeneath = decision.beneath;
    record->exitCode = decision.exitCode;
}
