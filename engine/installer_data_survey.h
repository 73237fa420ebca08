// Every damaged registration on the machine, not only the first: the same
// walk and the same tests as the repair, run to the end, with everything that
// kept the walk from seeing the whole installer data. keymendc reports from
// it; the window's repair does not use it.
#pragma once

#include <vector>

#include "detect_target.h"
#include "read_text_value.h"

// A damaged registration: its two key trees, as RepairTargets would hold them.
// One installed for all users (its installer data under the SID of the
// system, S-1-5-18) has its product registration under HKEY_LOCAL_MACHINE
// instead, where the window's repair never looks.
struct FoundRegistration {
    RegistryPath sid;
    RegKey productRoot = HKEY_USERS_ROOT;
    RegistryPath productKeyPath;  // under productRoot
    RegistryPath dataKeyPath;     // under HKEY_LOCAL_MACHINE
    ValueText displayName;
    ValueText displayVersion;
    bool perMachine = false;
};

// A key that could not be looked into, with the Windows error code.
struct UnseenKey {
    RegKey root = 0;
    RegistryPath path;
    RegResult code = 0;
};

// A candidate that passes the tests made without its product registration,
// whose user's registry is not loaded, so that the cross-check could not be
// made.
struct UnloadedCandidate {
    RegistryPath sid;
    RegistryPath dataKeyPath;
    ValueText displayName;
    ValueText displayVersion;
};

struct InstallerDataSurvey {
    RegResult walkResult = 0;  // as SearchKey returns it, never SEARCH_FOUND
    std::vector<FoundRegistration> found;
    std::vector<UnseenKey> unseen;
    std::vector<UnloadedCandidate> unloaded;
};

// Walks the installer's per-user data under HKEY_LOCAL_MACHINE and examines
// every candidate. A key that is not there (2, or deleted meanwhile) hides
// nothing; every other failed open or enumeration is unseen, and so is a
// product registration that refused to be read where the candidate passes
// the tests that need none. Reads only.
InstallerDataSurvey SurveyInstallerData();

// The same tests for one candidate, as the survey makes them, adding what it
// found to survey. For a candidate whose user's registry has been loaded
// since the walk.
void SurveyCandidate(const char* candidatePath, const char* displayName, const char* displayVersion,
                     InstallerDataSurvey* survey);

// The tests made again on a found registration, its DisplayName and
// DisplayVersion read afresh: true while it is still the damaged
// registration. Otherwise *why holds the code of the open or read that
// failed (2 when a key is gone), or ERROR_INVALID_DATA (13) when a test no
// longer passes. Reads only.
[[nodiscard]] bool StillDamaged(const FoundRegistration& found, RegResult* why);

// The SID of the system itself, under which the installer keeps the data
// of a product installed for all users, and where that product's
// registration lives instead.
constexpr char kMachineSid[] = "S-1-5-18";
constexpr char kMachineProductsPath[] = "SOFTWARE\\Classes\\Installer\\Products";
