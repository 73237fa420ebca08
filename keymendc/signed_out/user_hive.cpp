#include "user_hive.h"

#include "hive_marker.h"
#include "hive_privileges.h"
#include "scoped_hkey.h"

namespace {

constexpr int kUnloadTries = 5;
constexpr DWORD kUnloadPauseMs = 150;

// Open fails with ERROR_FILE_NOT_FOUND only when the key is not there.
DWORD UserKeyExists(const std::wstring& path, bool* exists) {
    ScopedHkey key;
    LONG result = RegOpenKeyExW(HKEY_USERS, path.c_str(), 0, KEY_QUERY_VALUE, key.receive());
    *exists = result != ERROR_FILE_NOT_FOUND;
    return (result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND) ? ERROR_SUCCESS
                                                                       : static_cast<DWORD>(result);
}

// What cannot be told counts as signed in: the hive is then left alone.
bool UserSignedIn(const std::wstring& sid) {
    bool exists = true;
    DWORD error = UserKeyExists(sid + L"\\Volatile Environment", &exists);
    return error != ERROR_SUCCESS || exists;
}

DWORD UnloadWithRetries(const std::wstring& sid) {
    HivePrivileges privileges;
    DWORD error = privileges.Enable();
    if (error != ERROR_SUCCESS) {
        return error;
    }
    for (int attempt = 1;; ++attempt) {
        error = static_cast<DWORD>(RegUnLoadKeyW(HKEY_USERS, sid.c_str()));
        if (error != ERROR_ACCESS_DENIED || attempt == kUnloadTries) {
            return error;
        }
        Sleep(kUnloadPauseMs);
    }
}

LeftoverHive Dropped(const std::wstring& sid, LeftoverAction action) {
    // A mark that cannot be dropped now names an unloaded hive: the next
    // run finds nothing loaded under it and drops it then.
    (void)DropHiveMarker(sid);
    return {sid, action, ERROR_SUCCESS};
}

// A marked hive: unloaded unless its user signed in. A mark whose name is no
// user's SID cannot be LoadUserHive's: it is only dropped, never followed.
LeftoverHive Release(const std::wstring& sid) {
    bool loaded = false;
    DWORD error = IsUserSidText(sid) ? IsHiveLoaded(sid, &loaded) : ERROR_SUCCESS;
    if (error != ERROR_SUCCESS) {
        return {sid, LeftoverAction::UnloadFailed, error};
    }
    if (!loaded) {
        return Dropped(sid, LeftoverAction::NotLoaded);
    }
    if (UserSignedIn(sid)) {
        return Dropped(sid, LeftoverAction::LeftSignedIn);
    }
    error = UnloadWithRetries(sid);
    if (error != ERROR_SUCCESS) {
        return {sid, LeftoverAction::UnloadFailed, error};
    }
    return Dropped(sid, LeftoverAction::Unloaded);
}

}  // namespace

DWORD IsHiveLoaded(const std::wstring& sid, bool* loaded) {
    return UserKeyExists(sid, loaded);
}

DWORD LoadUserHive(const UserProfile& profile) {
    if (profile.verdict != ProfileVerdict::Usable) {
        return ERROR_INVALID_PARAMETER;
    }
    bool loaded = true;
    DWORD error = IsHiveLoaded(profile.sid, &loaded);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    if (loaded) {
        return ERROR_ALREADY_EXISTS;
    }
    DWORD attributes = GetFileAttributesW(profile.hiveFile.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return ERROR_FILE_NOT_FOUND;
    }
    HivePrivileges privileges;
    error = privileges.Enable();
    if (error == ERROR_SUCCESS) {
        error = WriteHiveMarker(profile.sid);
    }
    if (error != ERROR_SUCCESS) {
        return error;
    }
    error =
        static_cast<DWORD>(RegLoadKeyW(HKEY_USERS, profile.sid.c_str(), profile.hiveFile.c_str()));
    if (error != ERROR_SUCCESS) {
        (void)DropHiveMarker(profile.sid);  // nothing of ours is loaded
    }
    return error;
}

DWORD UnloadUserHive(const std::wstring& sid) {
    bool marked = false;
    DWORD error = HiveMarkerExists(sid, &marked);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    if (!marked) {
        return ERROR_NOT_FOUND;
    }
    LeftoverHive released = Release(sid);
    switch (released.action) {
        case LeftoverAction::Unloaded:
        case LeftoverAction::NotLoaded:
            return ERROR_SUCCESS;
        case LeftoverAction::LeftSignedIn:
            return ERROR_BUSY;
        case LeftoverAction::UnloadFailed:
            break;
    }
    return released.error;
}

DWORD UnloadLeftoverHives(std::vector<LeftoverHive>* leftovers) {
    leftovers->clear();
    std::vector<std::wstring> sids;
    DWORD error = ListHiveMarkers(&sids);
    for (const std::wstring& sid : sids) {
        leftovers->push_back(Release(sid));
    }
    return error;
}
