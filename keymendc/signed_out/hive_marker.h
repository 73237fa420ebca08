// The mark a loaded hive bears while this program is responsible for it:
// a volatile key HKLM\SOFTWARE\DUVA\KEYMEND\LoadedHives\<SID>, written
// before RegLoadKeyW and dropped after the unload. Volatile keys live in
// memory only, so the mark vanishes at reboot exactly as a hive left loaded
// by a killed run does: a mark without its hive, or a hive without its mark,
// never survives a restart.
//
// KEYMEND and LoadedHives are volatile too, so nothing of them outlives a
// reboot. SOFTWARE\DUVA is created stable when missing (it then stays, empty):
// a volatile DUVA would refuse every stable subkey, e.g. an installer's, with
// ERROR_CHILD_MUST_BE_VOLATILE until the next reboot. The keys inherit the
// DACL of HKLM\SOFTWARE (via DUVA): standard users may read, not write.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Below HKEY_LOCAL_MACHINE.
extern const wchar_t kHiveMarkerRoot[];

// The marks' names are SIDs; their keys hold nothing else.
[[nodiscard]] DWORD WriteHiveMarker(const std::wstring& sid);
[[nodiscard]] DWORD HiveMarkerExists(const std::wstring& sid, bool* exists);
// 0 also when there was none.
[[nodiscard]] DWORD DropHiveMarker(const std::wstring& sid);
// Every mark, in the registry's order; none when the root is missing.
[[nodiscard]] DWORD ListHiveMarkers(std::vector<std::wstring>* sids);
