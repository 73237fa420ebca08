#include "diagnostics.h"
#include "installer_data_survey.h"
#include "record_survey.h"
#include "stages.h"

bool SurveyRegistrations(const Options&, RunRecord* record) {
    DiagnosticMode = true;
    InstallerDataSurvey survey = SurveyInstallerData();
    record->surveyed = true;
    RecordSurvey(survey, HiveState::LoadedByWindows, record);
    return true;
}
