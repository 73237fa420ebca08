#include "run_command.h"

#include <algorithm>

#include "ascii_case.h"
#include "backup_file.h"
#include "console_reporter.h"
#include "delete_key_repeat.h"
#include "diagnostics.h"
#include "exit_codes.h"
#include "installer_data_survey.h"
#include "may_write_driver_list.h"
#include "preconditions.h"
#include "signed_out_users.h"
#include "survey_record.h"
#include "user_hive.h"

namespace {

RunRecord& Finish(RunRecord& record, RunOutcome outcome, int exitCode) {
    record.outcome = outcome;
    record.exitCode = exitCode;
    // A user's next sign-in may suffer: that is said first, and decides the code.
    if (LeftHiveLoaded(record)) {
        record.outcomeBeneath = outcome;
        record.outcome = RunOutcome::HiveLeftLoaded;
        record.exitCode = kExitHiveLeftLoaded;
    }
    record.failures = CollectedFailures();
    return record;
}

RunRecord& FinishWithNothingFound(RunRecord& record) {
    return SawEverything(record) ? Finish(record, RunOutcome::NotFound, kExitClean)
                                 : Finish(record, RunOutcome::Incomplete, kExitIncomplete);
}

const char* ActionName(LeftoverAction action) {
    switch (action) {
        case LeftoverAction::Unloaded:
            return "unloaded";
        case LeftoverAction::LeftSignedIn:
            return "left-signed-in";
        case LeftoverAction::NotLoaded:
            return "not-loaded";
        case LeftoverAction::UnloadFailed:
            return "unload-failed";
    }
    return "?";
}

// What a run that was killed while a user's registry was loaded left: its
// hive is unloaded before anything is read, or that user would count as
// signed in.
void UnloadLeftovers(RunRecord* record) {
    std::vector<LeftoverHive> leftovers;
    (void)UnloadLeftoverHives(&leftovers);
    for (const LeftoverHive& leftover : leftovers) {
        record->leftovers.push_back({leftover.sid, ActionName(leftover.action), leftover.error,
                                     leftover.action == LeftoverAction::UnloadFailed});
    }
}

std::vector<std::wstring> KeysToSave(const RunRecord& record, std::size_t count) {
    std::vector<std::wstring> keys;
    for (std::size_t i = 0; i < count; ++i) {
        const Registration& registration = record.registrations[i];
        if (std::find(keys.begin(), keys.end(), registration.productKey) == keys.end()) {
            keys.push_back(registration.productKey);
        }
        keys.push_back(registration.dataKey);
    }
    return keys;
}

// The registrations of signed-in users, each as the window's repair deletes
// one: the product registration first, then the installer data, whatever
// the first returned. Two installer data keys may name one product
// registration; it goes once.
bool DeleteEvery(const InstallerDataSurvey& survey, RunRecord* record) {
    bool allGone = true;
    for (std::size_t i = 0; i < survey.found.size(); ++i) {
        const FoundRegistration& found = survey.found[i];
        const Registration& told = record->registrations[i];
        bool namedBefore = false;
        for (std::size_t j = 0; j < i; ++j) {
            namedBefore =
                namedBefore || EqualsIgnoreAsciiCase(survey.found[j].productKeyPath.c_str(),
                                                     found.productKeyPath.c_str());
        }
        RegResult product =
            namedBefore ? REG_OK : DeleteKeyRepeat(HKEY_USERS_ROOT, found.productKeyPath.c_str());
        RegResult data = DeleteKeyRepeat(HKEY_LOCAL_MACHINE_ROOT, found.dataKeyPath.c_str());
        if (!namedBefore) {
            record->deletions.push_back({told.productKey, product});
        }
        record->deletions.push_back({told.dataKey, data});
        allGone = allGone && product == REG_OK && data == REG_OK;
    }
    return allGone;
}

}  // namespace

bool SawEverything(const RunRecord& record) {
    if (!record.surveyed || !record.unreadable.empty()) {
        return false;
    }
    for (const UnloadedUser& user : record.unloaded) {
        bool looked =
            user.hive == HiveState::LoadedAndUnloaded || user.hive == HiveState::LeftLoaded;
        if (user.hasProfile && !looked) {
            return false;
        }
    }
    return true;
}

bool LeftHiveLoaded(const RunRecord& record) {
    for (const UnloadedUser& user : record.unloaded) {
        if (user.hive == HiveState::LeftLoaded) {
            return true;
        }
    }
    for (const LeftoverHiveRecord& leftover : record.leftovers) {
        if (leftover.stillLoaded) {
            return true;
        }
    }
    return false;
}

RunRecord RunCommand(const Options& options) {
    RunRecord record;
    record.command = options.command;
    record.backupAsked = !options.backupDir.empty();
    if (InstallerIsBusy()) {
        return Finish(record, RunOutcome::InstallerBusy, kExitInstallerBusy);
    }
    if (!MayWriteDriverList()) {
        return Finish(record, RunOutcome::NoRights, kExitNoRights);
    }
    UnloadLeftovers(&record);
    DiagnosticMode = true;
    InstallerDataSurvey survey = SurveyInstallerData();
    RecordSurvey(survey, &record);
    record.surveyed = true;
    std::size_t signedIn = record.registrations.size();
    bool repairing = options.command == Command::Repair;
    std::wstring trees;
    std::vector<SignedOutFinding> signedOut;
    if (options.includeSignedOut) {
        ExamineSignedOutUsers(survey, &record, &signedOut,
                              repairing && record.backupAsked ? &trees : nullptr);
    }
    if (record.registrations.empty()) {
        return FinishWithNothingFound(record);
    }
    if (!repairing) {
        // Found wins over incomplete: the repair can help with what was found.
        return Finish(record, RunOutcome::Found, kExitDamaged);
    }
    if (record.backupAsked) {
        std::wstring signedInTrees;
        if (record.backup.error != ERROR_SUCCESS ||
            AppendBackupTrees(KeysToSave(record, signedIn), &signedInTrees, &record.backup) !=
                ERROR_SUCCESS ||
            WriteBackupFile(options.backupDir, signedInTrees + trees, &record.backup) !=
                ERROR_SUCCESS) {
            return Finish(record, RunOutcome::BackupFailed, kExitBackupFailed);
        }
    }
    // The search and the backup take seconds; an installation may have begun.
    if (InstallerIsBusy()) {
        return Finish(record, RunOutcome::InstallerBusy, kExitInstallerBusy);
    }
    bool allGone = DeleteEvery(survey, &record);
    allGone = DeleteSignedOutRegistrations(signedOut, &record) && allGone;
    if (!allGone) {
        return Finish(record, RunOutcome::NotRemoved, kExitDamaged);
    }
    return SawEverything(record) ? Finish(record, RunOutcome::Removed, kExitClean)
                                 : Finish(record, RunOutcome::Incomplete, kExitIncomplete);
}
