#include "run_record.h"

bool LookedAt(const User& user) {
    switch (user.hive) {
        case HiveState::LoadedByWindows:
        case HiveState::LoadedByKeymendc:
        case HiveState::LoadedAndUnloaded:
        case HiveState::SignedInMeanwhile:
        case HiveState::LeftLoaded:
            return true;
        case HiveState::NotLoaded:
        case HiveState::NotLoadable:
            break;
    }
    return !user.hasProfile;
}

bool SawEverything(const RunRecord& record) {
    if (!record.surveyed || !record.unreadable.empty() || record.marks.code != 0) {
        return false;
    }
    for (const User& user : record.users) {
        if (!LookedAt(user)) {
            return false;
        }
    }
    return true;
}

bool LeftHiveLoaded(const RunRecord& record) {
    for (const User& user : record.users) {
        if (user.hive == HiveState::LeftLoaded) {
            return true;
        }
    }
    for (const LeftoverHiveRecord& leftover : record.leftovers) {
        if (leftover.stillLoaded) {
            return true;
        }
    }
    return false;
}

bool WasSignedOut(const User& user) {
    return user.hive != HiveState::LoadedByWindows;
}

bool SameSid(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) {
        return false;
    }
    // A SID is ASCII: folding A to Z is the registry's comparison for it.
    for (std::size_t i = 0; i < a.size(); ++i) {
        wchar_t x = a[i] >= L'a' && a[i] <= L'z' ? a[i] - L'a' + L'A' : a[i];
        wchar_t y = b[i] >= L'a' && b[i] <= L'z' ? b[i] - L'a' + L'A' : b[i];
        if (x != y) {
            return false;
        }
    }
    return true;
}

const char* OutcomeName(RunOutcome outcome) {
    switch (outcome) {
        case RunOutcome::Found:
            return "found";
        case RunOutcome::NotFound:
            return "not-found";
        case RunOutcome::Removed:
            return "removed";
        case RunOutcome::NotRemoved:
            return "not-removed";
        case RunOutcome::Incomplete:
            return "incomplete";
        case RunOutcome::NoRights:
            return "no-rights";
        case RunOutcome::InstallerBusy:
            return "installer-busy";
        case RunOutcome::BackupFailed:
            return "backup-failed";
        case RunOutcome::HiveLeftLoaded:
            return "hive-left-loaded";
    }
    return "?";
}

const char* HiveName(HiveState state) {
    switch (state) {
        case HiveState::LoadedByWindows:
            return "loaded";
        case HiveState::NotLoaded:
            return "not-loaded";
        case HiveState::LoadedByKeymendc:
            return "loaded-by-keymendc";
        case HiveState::LoadedAndUnloaded:
            return "loaded-and-unloaded";
        case HiveState::SignedInMeanwhile:
            return "signed-in-meanwhile";
        case HiveState::NotLoadable:
            return "not-loadable";
        case HiveState::LeftLoaded:
            return "left-loaded";
    }
    return "?";
}
