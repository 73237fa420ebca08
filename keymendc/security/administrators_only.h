// Who besides administrators may change an object, read from its owner and
// DACL: the one rule for the folders keymendc writes backups into and for
// the registry key that holds the marks of the hives it loaded.
#pragma once

#include <windows.h>

#include <string>

// 0 when owner is trusted and no allow entry that applies to the object
// itself (inherit-only entries do not) grants anyone else any of rights;
// otherwise ERROR_ACCESS_DENIED with who. Who is trusted and which entries
// grant is protected_folder.def's, which the deployment scripts share: the
// user running keymendc besides. An owner may rewrite the DACL whenever it
// likes; a missing DACL (nullptr) lets everyone in; an entry of a kind not
// known there counts as granting all.
[[nodiscard]] DWORD CheckSecurityIsAdministrators(PSID owner, const ACL* dacl, DWORD rights,
                                                  std::wstring* who);

// "BUILTIN\Users (S-1-5-32-545)", or the SID alone.
std::wstring AccountName(PSID sid);
