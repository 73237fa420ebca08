// Loading the registry hive of a user who is not signed in under
// HKEY_USERS\<SID>, briefly, and unloading it again; and, at the start of a
// run, unloading what a killed run left loaded.
//
// Every hive loaded here bears a mark (hive_marker.h) from just before
// RegLoadKeyW until just after a successful unload. Only a marked hive is
// ever unloaded, so a hive that Windows loaded is never touched; and a marked
// hive is left alone too once HKEY_USERS\<SID>_Classes is loaded beside it:
// Windows loads that hive (UsrClass.dat) for a sign-in and keymendc never
// does, and no user can put a key directly under HKEY_USERS, so that is a
// sign-in no user can fake from inside their own registry. Unloads are never
// forced. Whether a hive is loaded is read from the names under HKEY_USERS:
// nothing here opens a user's hive, whose root its user may close to SYSTEM.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "user_profile.h"

// Whether a hive is loaded under HKEY_USERS\<SID>, the SID in any letter case.
[[nodiscard]] DWORD IsHiveLoaded(const std::wstring& sid, bool* loaded);

// Whether Windows has loaded the user's profile: HKEY_USERS\<SID>_Classes.
[[nodiscard]] DWORD IsSignedIn(const std::wstring& sid, bool* signedIn);

// Loads profile.hiveFile under HKEY_USERS\<profile.sid>. Refuses with
// ERROR_INVALID_PARAMETER a profile whose verdict is not Usable, with
// ERROR_ALREADY_EXISTS a SID whose hive is loaded (by Windows or a leftover),
// with ERROR_FILE_NOT_FOUND a hive file that is gone: RegLoadKeyW would
// create it. Otherwise the error of the step that failed: the privileges
// (ERROR_PRIVILEGE_NOT_HELD), the mark, or RegLoadKeyW itself (e.g.
// ERROR_SHARING_VIOLATION when the user has just signed in, or the code of a
// damaged file). Nothing stays loaded or marked after a failure.
[[nodiscard]] DWORD LoadUserHive(const UserProfile& profile);

// Unloads a hive that LoadUserHive loaded, after every handle into it is
// closed. While RegUnLoadKeyW fails with ERROR_ACCESS_DENIED (a handle is
// still open, maybe briefly, by another program) it tries again, 5 tries
// 150 ms apart; then it returns that error and the hive stays loaded and
// marked: every later run reports it and tries again. Returns 0 when the
// hive is unloaded (or was already gone), ERROR_NOT_FOUND for a hive without
// our mark (nothing done), ERROR_BUSY when its user has signed in meanwhile
// (left loaded, unmarked: Windows has it now).
[[nodiscard]] DWORD UnloadUserHive(const std::wstring& sid);

enum class LeftoverAction {
    Unloaded,      // a killed run's hive: unloaded now
    LeftSignedIn,  // its user signed in meanwhile: left loaded, mark dropped
    NotLoaded,     // nothing loaded under the mark's name: mark dropped
    UnloadFailed,  // still loaded and marked; error says why
};

struct LeftoverHive {
    std::wstring sid;
    LeftoverAction action = LeftoverAction::UnloadFailed;
    DWORD error = ERROR_SUCCESS;
};

// For every mark a killed run left: what became of its hive. Returns the
// error of reading the marks, with *who naming whoever else may change them
// when they are not trusted (then nothing is unloaded); each hive's own
// failure is in its entry.
[[nodiscard]] DWORD UnloadLeftoverHives(std::vector<LeftoverHive>* leftovers, std::wstring* who);
