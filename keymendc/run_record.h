// What one keymendc run met and did, as both output forms tell it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "command_line.h"

enum class RunOutcome {
    Found,          // check: at least one damaged registration is present
    NotFound,       // nothing to remove, and every key was seen; nothing changed
    Removed,        // repair: every damaged registration is gone, and every key was seen
    NotRemoved,     // repair: a key tree remains
    Incomplete,     // nothing left that was seen, but something could not be seen
    NoRights,       // refused before anything was read
    InstallerBusy,  // refused before anything was read, or before anything was deleted
    BackupFailed,   // repair: found, backup not written, nothing deleted
};

struct Registration {
    std::wstring sid;
    std::wstring productCode;
    std::wstring displayName;
    std::wstring displayVersion;
    std::wstring productKey;  // with its root, as regedit writes it
    std::wstring dataKey;
};

// A key that could not be read, with the Windows error code.
struct UnreadableKey {
    std::wstring key;
    std::uint32_t code = 0;
};

// A user whose installer data holds a candidate for the damaged
// registration but whose registry is not loaded, so the check against the
// product registration could not be made.
struct UnloadedUser {
    std::wstring sid;
    bool hasProfile = false;  // false: no profile on this machine, the user cannot sign in
    std::wstring profile;     // the profile folder, as ProfileList names it
};

struct KeyDeletion {
    std::wstring key;
    std::uint32_t result = 0;
};

struct BackupRecord {
    std::wstring file;    // empty until written whole
    std::wstring sha256;  // of the file's bytes, lower-case hex
    std::uint32_t error = 0;
    std::wstring reason;  // why it failed, for people
};

// An engine report. code: the error code it names, -1 when it names none.
struct Failure {
    std::wstring caption;
    std::wstring text;
    std::int64_t code = -1;
};

struct RunRecord {
    Command command = Command::Check;
    RunOutcome outcome = RunOutcome::NotFound;
    int exitCode = 0;
    bool surveyed = false;  // the installer data was walked: not refused before
    std::vector<Registration> registrations;
    std::vector<UnreadableKey> unreadable;
    std::vector<UnloadedUser> unloaded;  // with and without a profile
    bool backupAsked = false;
    BackupRecord backup;
    std::vector<KeyDeletion> deletions;
    std::vector<Failure> failures;
};

// Users with a profile could sign in: their registration is unseen. A SID
// without a profile cannot, and leaves nothing unseen. False before the
// installer data was walked.
bool SawEverything(const RunRecord& record);

// The outcome as the JSON and the tests spell it.
const char* OutcomeName(RunOutcome outcome);
