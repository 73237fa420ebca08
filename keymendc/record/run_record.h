// What one keymendc run met and did, from the survey to the outcome: every
// registration with its user, and each user's registry as the run found it
// and left it. Both output forms tell it; the outcome is decided from it
// alone (outcome_rules.h). Portable, so that the rules are tested on the host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "command_line.h"
#include "installer_data_survey.h"

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

// Why the run went no further than it did; None when it ran to its end.
enum class RunStop { None, InstallerBusy, NoRights, BackupFailed };

// A user's registry as the run found it and left it.
enum class HiveState {
    LoadedByWindows,    // HKEY_USERS\<SID> was there when the run looked: signed in, or a service
    NotLoaded,          // not signed in, and --include-signed-out was not given
    LoadedByKeymendc,   // loaded for this run and not yet unloaded
    LoadedAndUnloaded,  // loaded by keymendc, looked at, unloaded
    SignedInMeanwhile,  // loaded by keymendc, looked at; its user signed in since, Windows keeps it
    NotLoadable,        // refused or failed: refusal says why, code gives the error
    LeftLoaded,         // loaded by keymendc; the unload failed with code
};

// One SID of the installer data, once, however it is spelt there.
struct User {
    std::wstring sid;               // as the installer data first spells it
    bool hasProfile = false;        // false: no profile on this machine, the user cannot sign in
    std::wstring profile;           // the profile folder, as ProfileList names it
    std::wstring hiveFile;          // <profile>\NTUSER.DAT, only when the profile may be loaded
    std::wstring profileRefusal;    // why it may not: "mandatory-profile" and the like
    std::uint32_t profileCode = 0;  // the error of a lookup that failed
    HiveState hive = HiveState::LoadedByWindows;
    std::wstring refusal;  // "mandatory-profile" and the like, or "load-failed"
    std::uint32_t code = 0;
    // Candidates that pass the tests made without a product registration,
    // to be looked at once this user's registry is loaded.
    std::vector<UnloadedCandidate> candidates;
};

constexpr std::size_t kNoUser = static_cast<std::size_t>(-1);

// What became of one registration.
enum class RegistrationFate {
    Found,         // looked at only: a check, or a repair that stopped before deleting
    Removed,       // both trees are gone
    Remains,       // a tree stayed; its deletions say why
    NotRequested,  // installed for all users, and --include-per-machine was not given
};

struct Registration {
    FoundRegistration found;     // the engine's paths, for the test again and the deletion
    std::size_t user = kNoUser;  // index into RunRecord::users; kNoUser for one for all users
    std::wstring sid;
    std::wstring productCode;
    std::wstring displayName;
    std::wstring displayVersion;
    std::wstring productKey;  // with its root, as regedit writes it
    std::wstring dataKey;
    RegistrationFate fate = RegistrationFate::Found;
};

// A key that could not be read, with the Windows error code.
struct UnreadableKey {
    std::wstring key;
    std::uint32_t code = 0;
};

// A hive that a killed run of keymendc left loaded, found by this one.
struct LeftoverHiveRecord {
    std::wstring sid;
    const char* action = "";  // "unloaded", "left-signed-in", "not-loaded", "unload-failed"
    std::uint32_t code = 0;
    bool stillLoaded = false;  // its unload failed again
};

// Why the marks of the hives keymendc loaded could not be read or trusted:
// which of its loads a killed run left behind is then unknown.
struct MarksRecord {
    std::uint32_t code = 0;  // 0: read and trusted, or there are none
    std::wstring reason;
};

// The result of one key tree's deletion: 0 when it is gone. Besides the
// deletion's own codes: kChangedSinceSurvey when the registration no longer
// passed its tests right before, or the code of the key that could not be
// read then; kKeptForProductRegistration for installer data left in place
// because its product registration stayed.
struct KeyDeletion {
    std::wstring key;
    std::uint32_t result = 0;
};
constexpr std::uint32_t kChangedSinceSurvey = 13;            // ERROR_INVALID_DATA
constexpr std::uint32_t kKeptForProductRegistration = 1223;  // ERROR_CANCELLED

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
    bool includeSignedOut = false;
    bool includePerMachine = false;
    bool backupAsked = false;
    RunStop stop = RunStop::None;
    bool surveyed = false;  // the installer data was walked: not refused before
    std::vector<User> users;
    std::vector<Registration> registrations;
    std::vector<UnreadableKey> unreadable;
    std::vector<LeftoverHiveRecord> leftovers;
    MarksRecord marks;
    BackupRecord backup;
    std::vector<KeyDeletion> deletions;
    std::vector<Failure> failures;
    RunOutcome outcome = RunOutcome::NotFound;
    RunOutcome outcomeBeneath = RunOutcome::NotFound;  // when a hive was left loaded
    int exitCode = 0;
};

// Whether the user's registry was looked into, or cannot hide anything (no
// profile: the user cannot sign in).
bool LookedAt(const User& user);

// Every key was read and every user who could sign in was looked at, and
// the marks of loaded hives were read and trusted. False before the
// installer data was walked.
bool SawEverything(const RunRecord& record);

// A user's registry that keymendc loaded is still loaded: by this run, or by
// a killed one whose leftover this run could not unload.
bool LeftHiveLoaded(const RunRecord& record);

// The registrations of users whose registry was not loaded when the run
// began: with and without a profile.
bool WasSignedOut(const User& user);

// SIDs compare as the registry compares key names: without regard to case.
bool SameSid(const std::wstring& a, const std::wstring& b);

// The outcome as the JSON and the tests spell it.
const char* OutcomeName(RunOutcome outcome);
const char* HiveName(HiveState state);
