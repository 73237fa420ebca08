#include "users.h"

#include "user_profile.h"

namespace {

void LookUpProfile(User* user) {
    UserProfile profile;
    DWORD looked = LookUpUserProfile(user->sid, &profile);
    user->sid = profile.sid;
    user->profile = profile.folder;
    // Only a SID with a profile here can sign in and so hide a registration;
    // one whose profile cannot be read might.
    user->hasProfile =
        looked != ERROR_SUCCESS || (profile.verdict != ProfileVerdict::NoProfileEntry &&
                                    profile.verdict != ProfileVerdict::NotASid);
    user->hiveFile = looked == ERROR_SUCCESS && profile.verdict == ProfileVerdict::Usable
                         ? profile.hiveFile
                         : std::wstring();
    user->profileRefusal =
        looked != ERROR_SUCCESS ? L"profile-unreadable" : ProfileVerdictName(profile.verdict);
    user->profileCode = looked;
}

}  // namespace

std::size_t UserFor(RunRecord* record, const std::wstring& sid, HiveState hive) {
    for (std::size_t index = 0; index < record->users.size(); ++index) {
        User& user = record->users[index];
        if (SameSid(user.sid, sid)) {
            if (user.hive == HiveState::LoadedByWindows && hive != HiveState::LoadedByWindows) {
                user.hive = hive;
                LookUpProfile(&user);
            }
            return index;
        }
    }
    User user;
    user.sid = sid;
    user.hive = hive;
    // A killed run's hive that this run could not unload is keymendc's, not
    // a sign-in's: it counts as left loaded until an unload succeeds.
    for (const LeftoverHiveRecord& leftover : record->leftovers) {
        if (hive == HiveState::LoadedByWindows && leftover.stillLoaded &&
            SameSid(leftover.sid, sid)) {
            user.hive = HiveState::LeftLoaded;
            user.code = leftover.code;
        }
    }
    if (user.hive != HiveState::LoadedByWindows) {
        LookUpProfile(&user);
    }
    record->users.push_back(user);
    return record->users.size() - 1;
}
