#include "run_command.h"

#include "console_reporter.h"
#include "outcome_rules.h"
#include "stages.h"

namespace {

using Stage = bool (*)(const Options& options, RunRecord* record);

constexpr Stage kStages[] = {
    RefuseWhileInstallerBusy,
    RefuseWithoutRights,
    ReleaseLeftoverHives,
    SurveyRegistrations,
    LookIntoSignedOutUsers,
    KeepOnlyWhatIsToBeDeleted,
    BackUpEveryTree,
    // The search and the backup take seconds; an installation may have begun.
    RefuseWhileInstallerBusy,
    DeleteEveryRegistration,
};

}  // namespace

RunRecord RunCommand(const Options& options) {
    RunRecord record;
    record.command = options.command;
    record.includeSignedOut = options.includeSignedOut;
    record.includePerMachine = options.includePerMachine;
    record.backupAsked = !options.backupDir.empty();
    for (Stage stage : kStages) {
        if (!stage(options, &record)) {
            break;
        }
    }
    UnloadLoadedHives(&record);
    record.failures = CollectedFailures();
    DecideOutcome(&record);
    return record;
}
