// What one keymendc run met and did, as both output forms tell it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "command_line.h"
#include "registry.h"

enum class RunOutcome {
    Found,          // check: the damaged registration is present
    NotFound,       // nothing to remove; nothing changed
    Removed,        // repair: both key trees are gone
    NotRemoved,     // repair: a key tree remains
    NoRights,       // refused before anything was read
    InstallerBusy,  // refused before anything was read
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

struct KeyDeletion {
    std::wstring key;
    RegResult result = 0;
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
    bool found = false;
    Registration registration;
    std::vector<KeyDeletion> deletions;
    std::wstring backupFile;
    std::uint32_t backupError = 0;
    std::vector<Failure> failures;
};

// The outcome as the JSON and the tests spell it.
const char* OutcomeName(RunOutcome outcome);
