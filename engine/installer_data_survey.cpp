#include "installer_data_survey.h"

#include <cstring>

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

namespace {

// Where the candidate's product registration is: under HKEY_USERS for a
// user's installation, under HKEY_LOCAL_MACHINE for one for all users.
CandidateVerdict Examine(const char* candidatePath, const char* displayName,
                         const char* displayVersion, CandidateExamination* examination,
                         RegKey* productRoot) {
    *productRoot = HKEY_USERS_ROOT;
    if (!DeriveProductRegistration(candidatePath, examination)) {
        return CandidateVerdict::NotTarget;
    }
    if (EqualsIgnoreAsciiCase(examination->sid.c_str(), kMachineSid)) {
        *productRoot = HKEY_LOCAL_MACHINE_ROOT;
        const char* productCode = std::strrchr(candidatePath, '\\') + 1;
        (void)examination->productPath.Format("%s\\%s", kMachineProductsPath, productCode);
    }
    return ExamineProductRegistration(*productRoot, displayName, displayVersion, examination);
}

}  // namespace

void SurveyCandidate(const char* candidatePath, const char* displayName, const char* displayVersion,
                     InstallerDataSurvey* survey) {
    CandidateExamination examination;
    RegKey productRoot = HKEY_USERS_ROOT;
    switch (Examine(candidatePath, displayName, displayVersion, &examination, &productRoot)) {
        case CandidateVerdict::NotTarget:
            return;
        case CandidateVerdict::Target: {
            FoundRegistration found;
            (void)found.sid.Assign(examination.sid.c_str());
            found.productRoot = productRoot;
            found.perMachine = productRoot == HKEY_LOCAL_MACHINE_ROOT;
            (void)found.productKeyPath.Assign(examination.productPath.c_str());
            (void)found.dataKeyPath.Assign(candidatePath);
            (void)found.displayName.Assign(displayName);
            (void)found.displayVersion.Assign(displayVersion);
            survey->found.push_back(found);
            return;
        }
        case CandidateVerdict::ProductKeyUnopened:
            if (!MayBeTarget(displayName, displayVersion)) {
                return;
            }
            if (productRoot == HKEY_USERS_ROOT) {
                SurveyUnopened(examination, candidatePath, displayName, displayVersion, survey);
            } else if (!HidesNothing(examination.code)) {
                AddUnseen(productRoot, examination.productPath.c_str(), examination.code, survey);
            }
            return;
        case CandidateVerdict::ProductNameUnread:
            if (MayBeTarget(displayName, displayVersion)) {
                AddUnseen(productRoot, examination.productPath.c_str(), examination.code, survey);
            }
            return;
    }
}

bool StillDamaged(const FoundRegistration& found, RegResult* why) {
    RegistryPath propertiesPath;
    ValueText displayName;
    ValueText displayVersion;
    {
        ScopedKey properties;
        *why =
            propertiesPath.Format("%s\\InstallProperties", found.dataKeyPath.c_str())
                ? properties.Open(HKEY_LOCAL_MACHINE_ROOT, propertiesPath.c_str(), ACCESS_KEY_READ)
                : REG_ERROR_FILENAME_EXCED_RANGE;
        if (*why != REG_OK) {
            return false;
        }
        (void)ReadTextValue(properties.get(), "DisplayName", displayName);
        (void)ReadTextValue(properties.get(), "DisplayVersion", displayVersion);
    }
    CandidateExamination examination;
    (void)examination.sid.Assign(found.sid.c_str());
    (void)examination.productPath.Assign(found.productKeyPath.c_str());
    switch (ExamineProductRegistration(found.productRoot, displayName.c_str(),
                                       displayVersion.c_str(), &examination)) {
        case CandidateVerdict::Target:
            *why = REG_OK;
            return true;
        case CandidateVerdict::NotTarget:
            *why = REG_ERROR_INVALID_DATA;
            return false;
        case CandidateVerdict::ProductKeyUnopened:
        case CandidateVerdict::ProductNameUnread:
            break;
    }
    *why = examination.code;
    return false;
}

InstallerDataSurvey SurveyInstallerData() {
    InstallerDataSurvey survey;
    EveryTarget visitor(&survey);
    survey.walkResult = WalkCandidates(HKEY_LOCAL_MACHINE_ROOT, kInstallerUserDataPath, visitor);
    return survey;
}
