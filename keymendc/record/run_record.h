// What one keymendc run met and did, as both output forms tell it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "command_line.h"

enum class RunOutcome {
    Found,           // check: at least one damaged registration is present
    NotFound,        // nothing to remove, and every key was seen; nothing changed
    Removed,         // repair: every damaged registration is gone, and every key was seen
    NotRemoved,      // repair: a key tree remains
    Incomplete,      // nothing left that was seen, but something could not be seen
    NoRights,        // refused before anything was read
    InstallerBusy,   // refused before anything was read, or before anything was deleted
    BackupFailed,    // repair: found, backup not written, nothing deleted
    HiveLeftLoaded,  // a user's registry that keymendc loaded could not be unloaded
};

struct Registration {
    std::wstring sid;
    std::wstring productCode;
    std::wstring displayName;
    std::wstring displayVersion;
    std::wstring productKey;  // with its root, as regedit writes it
    std::wstring dataKey;
    bool loadedByKeymendc = false;  // found in a hive keymendc loaded for it
};

// A key that could not be read, with the Windows error code.
struct UnreadableKey {
    std::wstring key;
    std::uint32_t code = 0;
};

// What became of the registry of a user who was not signed in.
enum class HiveState {
    NotLoaded,          // left alone: --include-signed-out was not given
    LoadedAndUnloaded,  // loaded by keymendc, looked at, unloaded again
    NotLoadable,        // refused or failed: refusal says why, code gives the error
    LeftLoaded,         // loaded by keymendc; the unload failed with code
};

// A user whose installer data holds a candidate for the damaged
// registration but whose registry is not loaded, so the check against the
// product registration cannot be made without loading it.
struct UnloadedUser {
    std::wstring sid;
    bool hasProfile = false;  // false: no profile on this machine, the user cannot sign in
    std::wstring profile;     // the profile folder, as ProfileList names it
    HiveState hive = HiveState::NotLoaded;
    std::wstring refusal;  // "mandatory-profile" and the like, or "load-failed"
    std::uint32_t code = 0;
};

// A hive that a killed run of keymendc left loaded, found by this one.
struct LeftoverHiveRecord {
    std::wstring sid;
    const char* action = "";  // "unloaded", "left-signed-in", "not-loaded", "unload-failed"
    std::uint32_t code = 0;
    bool stillLoaded = false;  // its unload failed again
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
    std::vector<LeftoverHiveRecord> leftovers;
    RunOutcome outcomeBeneath = RunOutcome::NotFound;  // when a hive was left loaded
    bool backupAsked = false;
    BackupRecord backup;
    std::vector<KeyDeletion> deletions;
    std::vector<Failure> failures;
};

// Users with a profile could sign in: their registration is unseen unless
// keymendc loaded their registry. A SID without a profile cannot, and leaves
// nothing unseen. False before the installer data was walked.
bool SawEverything(const RunRecord& record);

// A user's registry that keymendc loaded is still loaded: by this run, or by
// a killed one whose leftover this run could not unload.
bool LeftHiveLoaded(const RunRecord& record);

// The outcome as the JSON and the tests spell it.
const char* OutcomeName(RunOutcome outcome);
