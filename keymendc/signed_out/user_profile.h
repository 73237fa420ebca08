// Where the registry hive of a user who is not signed in lives, and whether
// keymendc may load it: <folder>\NTUSER.DAT, where <folder> is the expanded
// ProfileImagePath of HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion
// \ProfileList\<SID>.
//
// Only an ordinary, complete local profile is usable. Refused:
// - a string that is not a SID in the form Windows writes, letter case aside
//   (it would name another key than the user's, e.g. one holding a
//   backslash);
// - S-1-5-18, -19, -20: SYSTEM, LOCAL SERVICE, NETWORK SERVICE;
// - a SID without a ProfileList entry: it has no profile here, cannot sign in;
// - a ProfileList\<SID>.bak key beside it: Windows set the profile aside as
//   damaged, so which folder holds the user's data is in doubt;
// - State bit 0x0800 (temporary profile) or 0x0001 (mandatory profile). Not
//   documented by Microsoft; these two bits are as administrators' references
//   list them. No State bit marks a backup: the .bak key name does;
// - NTUSER.MAN in the folder: a mandatory profile, whose hive is not
//   NTUSER.DAT and whose changes Windows discards;
// - a folder or an NTUSER.DAT that does not exist.
//
// Nothing here creates, opens or locks a file: it only asks for attributes.
// That matters because RegLoadKeyW creates a hive file that is missing.
#pragma once

#include <windows.h>

#include <string>

enum class ProfileVerdict {
    Usable,
    NotASid,
    SpecialSid,
    NoProfileEntry,
    BackupEntry,
    TemporaryProfile,
    MandatoryProfile,
    FolderMissing,
    HiveFileMissing,
};

struct UserProfile {
    std::wstring sid;       // as Windows writes it, when it is a SID
    std::wstring folder;    // ProfileImagePath expanded; empty when not read
    std::wstring hiveFile;  // folder\NTUSER.DAT; empty when not read
    ProfileVerdict verdict = ProfileVerdict::NoProfileEntry;
};

// Returns 0 with the verdict, or the error code of a look that failed
// (ERROR_INVALID_DATA for a ProfileImagePath that is not REG_SZ or
// REG_EXPAND_SZ); the verdict is then the refusal of the step that failed,
// never Usable. Environment strings in
// ProfileImagePath are expanded in this process's environment, whichever of
// the two types holds them.
[[nodiscard]] DWORD LookUpUserProfile(const std::wstring& sid, UserProfile* profile);

// A stable name for output and JSON: "usable", "not-a-sid", "special-sid",
// "no-profile", "backup-profile", "temporary-profile", "mandatory-profile",
// "folder-missing", "hive-file-missing".
const wchar_t* ProfileVerdictName(ProfileVerdict verdict);

// A SID string as Windows writes it (canonical, letter case aside), other
// than the three service accounts: the only names a user's hive is loaded
// under.
[[nodiscard]] bool IsUserSidText(const std::wstring& text);
