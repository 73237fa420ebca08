// The mark a loaded hive bears while this program is responsible for it:
// a volatile key HKLM\SOFTWARE\DUVA\KEYMEND\LoadedHives\<SID>, written
// before RegLoadKeyW and dropped after the unload. Volatile keys live in
// memory only, so the mark vanishes at reboot exactly as a hive left loaded
// by a killed run does: a mark without its hive, or a hive without its mark,
// never survives a restart.
//
// A mark decides which hive keymendc unloads, so only a mark no one else can
// have written or removed counts: KEYMEND and LoadedHives are created
// volatile, owned by Administrators, with a protected DACL (SYSTEM and
// Administrators, nothing inherited, whatever SOFTWARE\DUVA passes on), and
// are trusted only while their owner is SYSTEM or Administrators and nobody
// else may change them. Each mark is read through them. SOFTWARE\DUVA is created stable when
// missing (it then stays, empty): a volatile DUVA would refuse every stable
// subkey, e.g. an installer's, with ERROR_CHILD_MUST_BE_VOLATILE.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Below HKEY_LOCAL_MACHINE.
extern const wchar_t kHiveMarkerRoot[];
// The protected DACL KEYMEND is created with.
extern const wchar_t kMarksKeySecurity[];

// Every call below returns ERROR_ACCESS_DENIED, with who may change the
// marks in *who where asked for, when KEYMEND or LoadedHives exists and is
// not trusted; nothing is written or read under it then.

// The marks' names are SIDs; their keys hold nothing else. Creates KEYMEND
// and LoadedHives as needed.
[[nodiscard]] DWORD WriteHiveMarker(const std::wstring& sid);
[[nodiscard]] DWORD HiveMarkerExists(const std::wstring& sid, bool* exists);
// 0 also when there was none.
[[nodiscard]] DWORD DropHiveMarker(const std::wstring& sid);
// Every mark, in the registry's order; none when there is no LoadedHives.
[[nodiscard]] DWORD ListHiveMarkers(std::vector<std::wstring>* sids, std::wstring* who);
