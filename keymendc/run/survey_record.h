// The engine's survey of the installer data, told in keymendc's record.
#pragma once

#include "installer_data_survey.h"
#include "run_record.h"

// Adds every found registration, unreadable key and unloaded user of survey
// to record, users once each, with their profile folders.
void RecordSurvey(const InstallerDataSurvey& survey, RunRecord* record);

// One found registration for the record, its texts read again through the
// wide calls.
Registration Describe(const FoundRegistration& found);

// The name regedit gives a predefined root key.
const wchar_t* RootName(RegKey root);
