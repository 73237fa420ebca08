// The registrations of users who are not signed in: their registry is
// loaded under HKEY_USERS\<SID> for as short a time as the work allows, one
// user at a time, looked at with the survey's own tests, and unloaded.
#pragma once

#include <string>
#include <vector>

#include "installer_data_survey.h"
#include "run_record.h"

// The damaged registrations found in one user's loaded registry.
struct SignedOutFinding {
    std::wstring sid;
    std::vector<FoundRegistration> found;
};

// For each user of record->unloaded: refuses a profile that must not be
// loaded, else loads the hive, examines that user's candidates of survey,
// appends what it finds to record (and, with backupTrees, their key trees
// as a backup holds them), closes every key and unloads. Each user's hive
// state is recorded. A tree that cannot be read for the backup is recorded
// in backup.
void ExamineSignedOutUsers(const InstallerDataSurvey& survey, RunRecord* record,
                           std::vector<SignedOutFinding>* findings, std::wstring* backupTrees);

// Loads each user's hive again and deletes the registrations findings name
// that are still damaged, as the repair deletes any: the product
// registration, then the installer data. Each registration's two results go
// to record's deletions. False when anything stayed.
bool DeleteSignedOutRegistrations(const std::vector<SignedOutFinding>& findings, RunRecord* record);
