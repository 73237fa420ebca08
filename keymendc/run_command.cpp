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
#include "survey_record.h"

namespace {

RunRecord& Finish(RunRecord& record, RunOutcome outcome, int exitCode) {
    record.outcome = outcome;
    record.exitCode = exitCode;
    record.failures = CollectedFailures();
    return record;
}

RunRecord& FinishWithNothingFound(RunRecord& record) {
    return SawEverything(record) ? Finish(record, RunOutcome::NotFound, kExitClean)
                                 : Finish(record, RunOutcome::Incomplete, kExitIncomplete);
}

std::vector<std::wstring> KeysToSave(const RunRecord& record) {
    std::vector<std::wstring> keys;
    for (const Registration& registration : record.registrations) {
        if (std::find(keys.begin(), keys.end(), registration.productKey) == keys.end()) {
            keys.push_back(registration.productKey);
        }
        keys.push_back(registration.dataKey);
    }
    return keys;
}

// Each registration as the window's repair deletes one: the product
// registration first, then the installer data, whatever the first returned.
// Two installer data keys may name one product registration; it goes once.
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
        if (user.hasProfile) {
            return false;
        }
    }
    return true;
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
    DiagnosticMode = true;
    InstallerDataSurvey survey = SurveyInstallerData();
    RecordSurvey(survey, &record);
    record.surveyed = true;
    if (record.registrations.empty()) {
        return FinishWithNothingFound(record);
    }
    if (options.command == Command::Check) {
        // Found wins over incomplete: the repair can help with what was found.
        return Finish(record, RunOutcome::Found, kExitDamaged);
    }
    if (record.backupAsked &&
        WriteBackupFile(options.backupDir, KeysToSave(record), &record.backup) != ERROR_SUCCESS) {
        return Finish(record, RunOutcome::BackupFailed, kExitBackupFailed);
    }
    // The search and the backup take seconds; an installation may have begun.
    if (InstallerIsBusy()) {
        return Finish(record, RunOutcome::InstallerBusy, kExitInstallerBusy);
    }
    if (!DeleteEvery(survey, &record)) {
        return Finish(record, RunOutcome::NotRemoved, kExitDamaged);
    }
    return SawEverything(record) ? Finish(record, RunOutcome::Removed, kExitClean)
                                 : Finish(record, RunOutcome::Incomplete, kExitIncomplete);
}
