#include "installer_data_survey.h"

#include "ascii_case.h"
#include "candidate_walk.h"
#include "scoped_key.h"
#include "search_key.h"

namespace {

bool HidesNothing(RegResult code) {
    return code == REG_ERROR_FILE_NOT_FOUND || code == REG_ERROR_KEY_DELETED;
}

// A key the walk could not open for a candidate's values, it cannot open to
// walk it either: it is listed once.
void AddUnseen(RegKey root, const char* path, RegResult code, InstallerDataSurvey* survey) {
    if (!survey->unseen.empty() && survey->unseen.back().root == root &&
        EqualsIgnoreAsciiCase(survey->unseen.back().path.c_str(), path)) {
        return;
    }
    UnseenKey unseen;
    unseen.root = root;
    (void)unseen.path.Assign(path);
    unseen.code = code;
    survey->unseen.push_back(unseen);
}

class EveryTarget final : public CandidateVisitor {
  public:
    explicit EveryTarget(InstallerDataSurvey* survey) : survey_(survey) {}

    bool Offer(const char* candidatePath, const char* displayName,
               const char* displayVersion) override {
        SurveyCandidate(candidatePath, displayName, displayVersion, survey_);
        return false;
    }
    void Unseen(const char* path, RegResult code) override {
        if (!HidesNothing(code)) {
            AddUnseen(HKEY_LOCAL_MACHINE_ROOT, path, code, survey_);
        }
    }

  private:
    InstallerDataSurvey* survey_;
};

// The product registration could not be opened. Its absence settles the
// candidate only where the user's registry is loaded.
void SurveyUnopened(const CandidateExamination& examination, const char* candidatePath,
                    const char* displayName, const char* displayVersion,
                    InstallerDataSurvey* survey) {
    if (!HidesNothing(examination.code)) {
        AddUnseen(HKEY_USERS_ROOT, examination.productPath.c_str(), examination.code, survey);
        return;
    }
    ScopedKey user;
    RegResult loaded = user.Open(HKEY_USERS_ROOT, examination.sid.c_str(), ACCESS_KEY_READ);
    if (loaded == REG_OK) {
        return;
    }
    if (!HidesNothing(loaded)) {
        AddUnseen(HKEY_USERS_ROOT, examination.sid.c_str(), loaded, survey);
        return;
    }
    UnloadedCandidate unloaded;
    (void)unloaded.sid.Assign(examination.sid.c_str());
    (void)unloaded.dataKeyPath.Assign(candidatePath);
    (void)unloaded.displayName.Assign(displayName);
    (void)unloaded.displayVersion.Assign(displayVersion);
    survey->unloaded.push_back(unloaded);
}

}  // namespace

void SurveyCandidate(const char* candidatePath, const char* displayName, const char* displayVersion,
                     InstallerDataSurvey* survey) {
    CandidateExamination examination;
    switch (ExamineCandidate(HKEY_USERS_ROOT, candidatePath, displayName, displayVersion,
                             &examination)) {
        case CandidateVerdict::NotTarget:
            return;
        case CandidateVerdict::Target: {
            FoundRegistration found;
            (void)found.sid.Assign(examination.sid.c_str());
            (void)found.productKeyPath.Assign(examination.productPath.c_str());
            (void)found.dataKeyPath.Assign(candidatePath);
            (void)found.displayName.Assign(displayName);
            (void)found.displayVersion.Assign(displayVersion);
            survey->found.push_back(found);
            return;
        }
        case CandidateVerdict::ProductKeyUnopened:
            if (MayBeTarget(displayName, displayVersion)) {
                SurveyUnopened(examination, candidatePath, displayName, displayVersion, survey);
            }
            return;
        case CandidateVerdict::ProductNameUnread:
            if (MayBeTarget(displayName, displayVersion)) {
                AddUnseen(HKEY_USERS_ROOT, examination.productPath.c_str(), examination.code,
                          survey);
            }
            return;
    }
}

InstallerDataSurvey SurveyInstallerData() {
    InstallerDataSurvey survey;
    EveryTarget visitor(&survey);
    survey.walkResult = WalkCandidates(HKEY_LOCAL_MACHINE_ROOT, kInstallerUserDataPath, visitor);
    return survey;
}
