#include "installer_data_survey.h"
#include "record_survey.h"
#include "stages.h"
#include "user_hive.h"

namespace {

void Refuse(User* user, const std::wstring& refusal, DWORD code) {
    user->hive = HiveState::NotLoadable;
    user->refusal = refusal;
    user->code = code;
}

// Loads the user's hive, which then stays loaded until the run ends; false,
// with the user's state recorded, when it may not or cannot be loaded. A
// user who signed in since the walk is looked at as any signed-in user.
bool Load(const MarksRecord& marks, User* user) {
    if (!user->hasProfile) {
        Refuse(user, L"no-profile", ERROR_SUCCESS);
        return false;
    }
    // A hive loaded without a trusted mark could never be told from
    // another program's after a killed run.
    if (marks.code != ERROR_SUCCESS) {
        Refuse(user, L"marks-untrusted", marks.code);
        return false;
    }
    if (user->hiveFile.empty()) {
        Refuse(user, user->profileRefusal, user->profileCode);
        return false;
    }
    UserProfile profile;
    profile.sid = user->sid;
    profile.folder = user->profile;
    profile.hiveFile = user->hiveFile;
    profile.verdict = ProfileVerdict::Usable;
    DWORD loaded = LoadUserHive(profile);
    if (loaded == ERROR_ALREADY_EXISTS) {
        user->hive = HiveState::LoadedByWindows;
        return true;
    }
    if (loaded != ERROR_SUCCESS) {
        Refuse(user, L"load-failed", loaded);
        return false;
    }
    user->hive = HiveState::LoadedByKeymendc;
    return true;
}

}  // namespace

bool LookIntoSignedOutUsers(const Options& options, RunRecord* record) {
    if (!options.includeSignedOut) {
        return true;
    }
    // By index: recording what a user's registry holds may add to the list.
    for (std::size_t index = 0; index < record->users.size(); ++index) {
        User& user = record->users[index];
        if (user.hive != HiveState::NotLoaded || !Load(record->marks, &user)) {
            continue;
        }
        std::vector<UnloadedCandidate> candidates = user.candidates;
        HiveState hive = user.hive;
        InstallerDataSurvey seen;
        for (const UnloadedCandidate& candidate : candidates) {
            SurveyCandidate(candidate.dataKeyPath.c_str(), candidate.displayName.c_str(),
                            candidate.displayVersion.c_str(), &seen);
        }
        RecordSurvey(seen, hive, record);
    }
    return true;
}

void UnloadLoadedHives(RunRecord* record) {
    for (User& user : record->users) {
        if (user.hive != HiveState::LoadedByKeymendc) {
            continue;
        }
        DWORD unloaded = UnloadUserHive(user.sid);
        user.hive = unloaded == ERROR_SUCCESS ? HiveState::LoadedAndUnloaded
                    : unloaded == ERROR_BUSY  ? HiveState::SignedInMeanwhile
                                              : HiveState::LeftLoaded;
        user.code = unloaded == ERROR_BUSY ? ERROR_SUCCESS : unloaded;
    }
}
