// A survey of the installer data, whole or of one user's candidates, added
// to the record: each registration with its user, each key unseen, each
// user whose registry is not loaded with the candidates to look at.
#pragma once

#include "installer_data_survey.h"
#include "run_record.h"

// hive: the state of the registries the found registrations were read from.
void RecordSurvey(const InstallerDataSurvey& survey, HiveState hive, RunRecord* record);
