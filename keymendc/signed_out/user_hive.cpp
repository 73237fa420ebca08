#include "user_hive.h"

#include "hive_marker.h"
#include "hive_privileges.h"

namespace {

constexpr int kUnloadTries = 5;
constexpr DWORD kUnloadPauseMs = 150;

// Whether a key of that name, in any letter case, is directly under
// HKEY_USERS: only hives are, so no user can put one there.
DWORD HiveNamed(const std::wstring& name, bool* present) {
    *present = false;
    LONG result = ERROR_SUCCESS;
    for (DWORD index = 0; result == ERROR_SUCCESS && !*present; ++index) {
        wchar_t found[256];  // a key name holds at most 255 characters
        DWORD chars = 256;
        result =
            RegEnumKeyExW(HKEY_USERS, index, found, &chars, nullptr, nullptr, nullptr, nullptr);
        *present = result == ERROR_SUCCESS &&
                   CompareStringOrdinal(found, static_cast<int>(chars), name.c_str(),
                                        static_cast<int>(name.size()), TRUE) == CSTR_EQUAL;
    }
    return result == ERROR_SUCCESS || result == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS
                                                                    : static_cast<DWORD>(result);
}

// What cannot be told counts as signed in: the hive is then left alone.
bool UserSignedIn(const std::wstring& sid) {
    bool signedIn = true;
    return IsSignedIn(sid, &signedIn) != ERROR_SUCCESS || signedIn;
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
    return HiveNamed(sid, loaded);
}

DWORD IsSignedIn(const std::wstring& sid, bool* signedIn) {
    return HiveNamed(sid + L"_Classes", signedIn);
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

DWORD UnloadLeftoverHives(std::vector<LeftoverHive>* leftovers, std::wstring* who) {
    leftovers->clear();
    std::vector<std::wstring> sids;
    DWORD error = ListHiveMarkers(&sids, who);
    for (const std::wstring& sid : sids) {
        leftovers->push_back(Release(sid));
    }
    return error;
}
