// Loading the registry hive of a user who is not signed in under
// HKEY_USERS\<SID>, briefly, and unloading it again; and, at the start of a
// run, unloading what a killed run left loaded.
//
// Every hive loaded here bears a mark (hive_marker.h) from just before
// RegLoadKeyW until just after a successful unload. Only a marked hive is
// ever unloaded, so a hive that Windows loaded is never touched; and a marked
// hive whose HKEY_USERS\<SID>\Volatile Environment exists is left alone too:
// its user signed in meanwhile (a sign-in creates that key, a load does not),
// and Windows took it over. Unloads are never forced.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "user_profile.h"

// Whether HKEY_USERS\<SID> exists, i.e. some hive is loaded under it.
[[nodiscard]] DWORD IsHiveLoaded(const std::wstring& sid, bool* loaded);

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
// marked, for the next run. Returns 0 when the hive is unloaded (or was
// already gone), ERROR_NOT_FOUND for a hive without our mark (nothing done),
// ERROR_BUSY when its user has signed in meanwhile (left loaded, unmarked).
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
// error of reading the marks; each hive's own failure is in its entry.
[[nodiscard]] DWORD UnloadLeftoverHives(std::vector<LeftoverHive>* leftovers);
