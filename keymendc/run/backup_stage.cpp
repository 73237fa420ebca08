#include <windows.h>

#include <algorithm>

#include "backup_file.h"
#include "stages.h"

namespace {

// A product registration that two installer data keys name goes in once.
void AddOnce(std::vector<std::wstring>* keys, const std::wstring& key) {
    bool present = std::any_of(keys->begin(), keys->end(), [&key](const std::wstring& kept) {
        return CompareStringOrdinal(kept.c_str(), -1, key.c_str(), -1, TRUE) == CSTR_EQUAL;
    });
    if (!present) {
        keys->push_back(key);
    }
}

}  // namespace

bool KeepOnlyWhatIsToBeDeleted(const Options& options, RunRecord* record) {
    if (options.command != Command::Repair) {
        return false;
    }
    bool anyToDelete = false;
    for (Registration& registration : record->registrations) {
        if (registration.found.perMachine && !options.includePerMachine) {
            registration.fate = RegistrationFate::NotRequested;
        } else {
            anyToDelete = true;
        }
    }
    return anyToDelete;
}

bool BackUpEveryTree(const Options& options, RunRecord* record) {
    if (options.backupDir.empty()) {
        return true;
    }
    std::vector<std::wstring> keys;
    for (const Registration& registration : record->registrations) {
        if (registration.fate == RegistrationFate::Found) {
            AddOnce(&keys, registration.productKey);
            AddOnce(&keys, registration.dataKey);
        }
    }
    std::wstring trees;
    if (AppendBackupTrees(keys, &trees, &record->backup) != ERROR_SUCCESS ||
        WriteBackupFile(options.backupDir, trees, &record->backup) != ERROR_SUCCESS) {
        record->stop = RunStop::BackupFailed;
        return false;
    }
    return true;
}
