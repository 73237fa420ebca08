#include "signed_out_users.h"

#include "backup_file.h"
#include "console_output.h"
#include "delete_key_repeat.h"
#include "survey_record.h"
#include "user_hive.h"

namespace {

UnloadedUser* UserOf(RunRecord* record, const std::wstring& sid) {
    for (UnloadedUser& user : record->unloaded) {
        if (user.sid == sid) {
            return &user;
        }
    }
    return nullptr;
}

void Refuse(UnloadedUser* user, const wchar_t* refusal, DWORD code) {
    user->hive = HiveState::NotLoadable;
    user->refusal = refusal;
    user->code = code;
}

// Loads the user's hive; false, with the user's state recorded, when it may
// not or cannot be loaded.
bool Load(UnloadedUser* user) {
    UserProfile profile;
    DWORD looked = LookUpUserProfile(user->sid, &profile);
    if (looked != ERROR_SUCCESS) {
        Refuse(user, L"profile-unreadable", looked);
        return false;
    }
    if (profile.verdict != ProfileVerdict::Usable) {
        Refuse(user, ProfileVerdictName(profile.verdict), ERROR_SUCCESS);
        return false;
    }
    DWORD loaded = LoadUserHive(profile);
    if (loaded != ERROR_SUCCESS) {
        // 183: the user signed in since the walk; the next run sees them.
        Refuse(user, L"load-failed", loaded);
        return false;
    }
    return true;
}

void Unload(UnloadedUser* user, HiveState whenUnloaded) {
    DWORD unloaded = UnloadUserHive(user->sid);
    user->hive = unloaded == ERROR_SUCCESS ? whenUnloaded : HiveState::LeftLoaded;
    user->code = unloaded;
}

std::wstring Rooted(const wchar_t* root, const char* path) {
    return std::wstring(root) + L"\\" + AnsiToWide(path);
}

}  // namespace

void ExamineSignedOutUsers(const InstallerDataSurvey& survey, RunRecord* record,
                           std::vector<SignedOutFinding>* findings, std::wstring* backupTrees) {
    for (std::size_t u = 0; u < record->unloaded.size(); ++u) {
        UnloadedUser* user = &record->unloaded[u];
        if (!user->hasProfile || !Load(user)) {
            if (!user->hasProfile) {
                Refuse(user, L"no-profile", ERROR_SUCCESS);
            }
            continue;
        }
        InstallerDataSurvey seen;
        for (const UnloadedCandidate& candidate : survey.unloaded) {
            if (AnsiToWide(candidate.sid.c_str()) == user->sid) {
                SurveyCandidate(candidate.dataKeyPath.c_str(), candidate.displayName.c_str(),
                                candidate.displayVersion.c_str(), &seen);
            }
        }
        SignedOutFinding finding{user->sid, seen.found};
        std::vector<std::wstring> trees;
        for (const FoundRegistration& found : seen.found) {
            Registration registration = Describe(found);
            registration.loadedByKeymendc = true;
            trees.push_back(registration.productKey);
            trees.push_back(registration.dataKey);
            record->registrations.push_back(registration);
        }
        for (const UnseenKey& unseen : seen.unseen) {
            record->unreadable.push_back(
                {Rooted(RootName(unseen.root), unseen.path.c_str()), unseen.code});
        }
        if (backupTrees != nullptr && record->backup.error == ERROR_SUCCESS) {
            (void)AppendBackupTrees(trees, backupTrees, &record->backup);
        }
        Unload(user, HiveState::LoadedAndUnloaded);
        if (!finding.found.empty()) {
            findings->push_back(finding);
        }
    }
}

bool DeleteSignedOutRegistrations(const std::vector<SignedOutFinding>& findings,
                                  RunRecord* record) {
    bool allGone = true;
    for (const SignedOutFinding& finding : findings) {
        UnloadedUser* user = UserOf(record, finding.sid);
        if (user == nullptr) {
            continue;
        }
        bool loaded = Load(user);
        for (const FoundRegistration& found : finding.found) {
            Registration told = Describe(found);
            InstallerDataSurvey again;
            if (loaded) {
                SurveyCandidate(found.dataKeyPath.c_str(), found.displayName.c_str(),
                                found.displayVersion.c_str(), &again);
            }
            // Deleted only while it still passes every test; else it stays,
            // and says why.
            RegResult product = loaded ? ERROR_INVALID_DATA
                                       : (user->code != 0 ? user->code : ERROR_INVALID_FUNCTION);
            RegResult data = product;
            if (!again.found.empty()) {
                product = DeleteKeyRepeat(HKEY_USERS_ROOT, found.productKeyPath.c_str());
                data = DeleteKeyRepeat(HKEY_LOCAL_MACHINE_ROOT, found.dataKeyPath.c_str());
            }
            record->deletions.push_back({told.productKey, product});
            record->deletions.push_back({told.dataKey, data});
            allGone = allGone && product == REG_OK && data == REG_OK;
        }
        if (loaded) {
            Unload(user, HiveState::LoadedAndUnloaded);
        }
    }
    return allGone;
}
