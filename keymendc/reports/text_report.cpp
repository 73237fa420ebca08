#include "reports.h"
#include "wide_digits.h"

namespace {

std::wstring Number(long long value) {
    return Decimal(value);
}

// "folder-missing" as "folder missing".
std::wstring Words(std::wstring name) {
    for (wchar_t& c : name) {
        c = c == L'-' ? L' ' : c;
    }
    return name;
}

// The JSON's ASCII words, as text.
std::wstring Utf8Word(const char* word) {
    return std::wstring(word, word + std::char_traits<char>::length(word));
}

std::wstring Line(const wchar_t* label, const std::wstring& value) {
    std::wstring padded = std::wstring(L"  ") + label;
    padded.resize(24, L' ');
    return padded + value + L"\n";
}

std::wstring RegistrationBlock(const Registration& found, std::size_t number, std::size_t count) {
    std::wstring heading = found.found.perMachine
                               ? L"Damaged Brelix 1.11 registration, installed for all users"
                               : L"Damaged Brelix 1.11 registration";
    if (count > 1) {
        heading += L" (" + Number(static_cast<long long>(number)) + L" of " +
                   Number(static_cast<long long>(count)) + L")";
    }
    return heading + L":\n" + Line(L"User (SID):", found.sid) +
           Line(L"Product code:", found.productCode) + Line(L"DisplayName:", found.displayName) +
           Line(L"DisplayVersion:", found.displayVersion) +
           Line(L"Product registration:", found.productKey) +
           Line(L"Installer data:", found.dataKey);
}

std::wstring Counted(std::size_t count, const wchar_t* one, const wchar_t* many) {
    return count == 1 ? one : Number(static_cast<long long>(count)) + L" " + many;
}

std::size_t UsersNotLoaded(const RunRecord& record) {
    std::size_t users = 0;
    for (const User& user : record.users) {
        users += LookedAt(user) ? 0 : 1;
    }
    return users;
}

// What kept the run from seeing everything, and what to do about it.
std::wstring Gaps(const RunRecord& record) {
    std::size_t keys = record.unreadable.size();
    std::size_t notLoaded = 0;
    std::size_t notLoadable = 0;
    for (const User& user : record.users) {
        notLoaded += !LookedAt(user) && user.hive == HiveState::NotLoaded ? 1 : 0;
        notLoadable += !LookedAt(user) && user.hive == HiveState::NotLoadable ? 1 : 0;
    }
    std::wstring gaps;
    auto add = [&gaps](const std::wstring& gap) { gaps += (gaps.empty() ? L"" : L" and ") + gap; };
    if (keys > 0) {
        add(Counted(keys, L"1 key", L"keys") + L" could not be read");
    }
    if (notLoaded > 0) {
        add(Counted(notLoaded, L"1 user's", L"users'") + L" registry is not loaded");
    }
    if (notLoadable > 0) {
        add(Counted(notLoadable, L"1 user's", L"users'") + L" registry could not be loaded");
    }
    if (record.marks.code != 0) {
        add(L"the marks of the registries keymendc loads could not be " +
            std::wstring(record.marks.reason.empty() ? L"read" : L"trusted"));
    }
    return gaps;
}

std::wstring GapAdvice(const RunRecord& record) {
    std::wstring advice;
    if (UsersNotLoaded(record) > 0) {
        bool optionHelps = false;
        for (const User& user : record.users) {
            optionHelps = optionHelps || (user.hasProfile && user.hive == HiveState::NotLoaded);
        }
        advice += optionHelps ? L" Run keymendc again while the users listed above are signed in, "
                                L"or with --include-signed-out."
                              : L" Run keymendc again while the users listed above are signed in.";
    }
    if (!record.unreadable.empty()) {
        advice += L" Run keymendc --verbose as administrator to see why a key could not be read.";
    }
    if (record.marks.code != 0) {
        advice +=
            L" Restart the machine, or as administrator delete "
            L"HKEY_LOCAL_MACHINE\\SOFTWARE\\DUVA\\KEYMEND once no registry keymendc loaded is "
            L"left under HKEY_USERS.";
    }
    return advice;
}

std::wstring Registrations(const RunRecord& record) {
    std::size_t count = record.registrations.size();
    if (count == 1 && record.registrations[0].found.perMachine) {
        return L"the damaged Brelix 1.11 registration installed for all users";
    }
    if (count == 1) {
        return L"the damaged Brelix 1.11 registration of user " + record.registrations[0].sid;
    }
    return Number(static_cast<long long>(count)) + L" damaged Brelix 1.11 registrations";
}

std::size_t Remaining(const RunRecord& record) {
    std::size_t remaining = 0;
    for (const KeyDeletion& deletion : record.deletions) {
        remaining += deletion.result != 0 ? 1 : 0;
    }
    return remaining;
}

// Registrations installed for all users; only those left for want of
// --include-per-machine when notRequested.
std::size_t ForAllUsers(const RunRecord& record, bool notRequested) {
    std::size_t count = 0;
    for (const Registration& registration : record.registrations) {
        bool counts = registration.found.perMachine &&
                      (!notRequested || registration.fate == RegistrationFate::NotRequested);
        count += counts ? 1 : 0;
    }
    return count;
}

std::wstring PerMachineAdvice(std::size_t count) {
    return L"keymendc repair --include-per-machine removes " +
           std::wstring(count == 1 ? L"it." : L"them.");
}

std::wstring IncompleteSummary(const RunRecord& record) {
    if (record.registrations.empty()) {
        return L"Incomplete: no damaged Brelix 1.11 registration was seen, but " + Gaps(record) +
               L"; nothing was changed." + GapAdvice(record);
    }
    return L"Incomplete: removed " + Registrations(record) + L", but " + Gaps(record) + L"." +
           GapAdvice(record);
}

// What became of one user's registry that was not loaded at the start.
std::wstring HiveLine(const User& user) {
    std::wstring line = L"  " + user.sid + L"  profile " + user.profile + L": ";
    switch (user.hive) {
        case HiveState::NotLoaded:
            return line + L"not loaded\n";
        case HiveState::LoadedAndUnloaded:
            return line + L"loaded by keymendc, looked at, unloaded\n";
        case HiveState::NotLoadable:
            return line + L"not loaded: " + Words(user.refusal) +
                   (user.code != 0 ? L" (error " + Number(user.code) + L")" : L"") + L"\n";
        case HiveState::LeftLoaded:
            return line + L"loaded by keymendc and STILL LOADED: the unload failed (error " +
                   Number(user.code) + L")\n";
        case HiveState::SignedInMeanwhile:
            return line +
                   L"loaded by keymendc, looked at; the user signed in meanwhile, so "
                   L"Windows keeps it loaded\n";
        case HiveState::LoadedByWindows:
            return line + L"signed in since the walk, looked at\n";
        case HiveState::LoadedByKeymendc:
            break;
    }
    return line + L"\n";
}

std::wstring UnloadedUsers(const RunRecord& record) {
    std::wstring withProfile;
    std::wstring without;
    for (const User& user : record.users) {
        if (!WasSignedOut(user)) {
            continue;
        }
        if (user.hasProfile) {
            withProfile += HiveLine(user);
        } else {
            without += L"  " + user.sid + L"\n";
        }
    }
    std::wstring text;
    if (!withProfile.empty()) {
        text +=
            L"Users who are not signed in, whose registration can be checked only while their "
            L"registry is loaded:\n" +
            withProfile;
    }
    if (!without.empty()) {
        text +=
            L"Users in the installer data without a profile on this machine (they cannot "
            L"sign in; not counted as unseen):\n" +
            without;
    }
    for (const LeftoverHiveRecord& leftover : record.leftovers) {
        text += L"Registry of user " + leftover.sid + L" left loaded by an earlier, killed run: " +
                Utf8Word(leftover.action) +
                (leftover.code != 0 ? L" (error " + Number(leftover.code) + L")" : L"") + L"\n";
    }
    if (record.marks.code != 0) {
        text += L"Marks of the registries keymendc loads (HKEY_LOCAL_MACHINE\\" +
                std::wstring(L"SOFTWARE\\DUVA\\KEYMEND): ") +
                (record.marks.reason.empty() ? L"cannot be read"
                                             : L"not trusted: " + record.marks.reason) +
                L" (error " + Number(record.marks.code) +
                L"); what an earlier, killed run left loaded is not known\n";
    }
    return text;
}

std::wstring DeletionLine(const KeyDeletion& deletion) {
    switch (deletion.result) {
        case 0:
            return L"Deleted: " + deletion.key + L"\n";
        case kChangedSinceSurvey:
            return L"Left (changed since it was found, error 13): " + deletion.key + L"\n";
        case kKeptForProductRegistration:
            return L"Kept, since its product registration stayed (error 1223): " + deletion.key +
                   L"\n";
    }
    return L"Left (error " + Number(deletion.result) + L"): " + deletion.key + L"\n";
}

std::wstring LeftLoadedSids(const RunRecord& record) {
    std::wstring sids;
    for (const User& user : record.users) {
        if (user.hive == HiveState::LeftLoaded) {
            sids += (sids.empty() ? L"" : L", ") + user.sid;
        }
    }
    for (const LeftoverHiveRecord& leftover : record.leftovers) {
        if (leftover.stillLoaded) {
            sids += (sids.empty() ? L"" : L", ") + leftover.sid;
        }
    }
    return sids;
}

}  // namespace

std::wstring SummaryLine(const RunRecord& record) {
    bool complete = SawEverything(record);
    switch (record.outcome) {
        case RunOutcome::HiveLeftLoaded: {
            RunRecord beneath = record;
            beneath.outcome = record.outcomeBeneath;
            return L"Hive left loaded: the registry of user " + LeftLoadedSids(record) +
                   L" that keymendc loaded could not be unloaded; until it is, that user's "
                   L"next sign-in may fail or get a temporary profile. keymendc unloads it on "
                   L"its next run, or restart the machine. Beside that: " +
                   SummaryLine(beneath);
        }
        case RunOutcome::Found: {
            std::size_t forAll = ForAllUsers(record, false);
            std::size_t count = record.registrations.size();
            std::wstring repair = forAll == 0 ? L"keymendc repair removes " +
                                                    std::wstring(count == 1 ? L"it." : L"them.")
                                  : forAll == count ? PerMachineAdvice(forAll)
                                                    : L"keymendc repair removes those of users, "
                                                      L"and with --include-per-machine also the " +
                                                          Number(static_cast<long long>(forAll)) +
                                                          L" installed for all users.";
            return L"Found: " + Registrations(record) + L"; " + repair +
                   (complete ? L"" : L" Not everything was seen: " + Gaps(record) + L".");
        }
        case RunOutcome::NotFound:
            return L"Not found: no damaged Brelix 1.11 registration; nothing was changed.";
        case RunOutcome::Removed:
            return L"Removed: " + Registrations(record) + L"; Brelix 1.12 can be installed.";
        case RunOutcome::NotRemoved: {
            std::size_t notAsked = ForAllUsers(record, true);
            std::wstring trees =
                record.deletions.empty()
                    ? std::wstring()
                    : L" " + Number(static_cast<long long>(Remaining(record))) + L" of " +
                          Number(static_cast<long long>(record.deletions.size())) +
                          L" key trees remain; run keymendc repair --verbose as administrator.";
            std::wstring forAll =
                notAsked == 0
                    ? std::wstring()
                    : L" " + Counted(notAsked, L"1 registration", L"registrations") +
                          L" installed for all users stayed: " + PerMachineAdvice(notAsked);
            return L"Not removed completely:" + trees + forAll +
                   (complete ? L"" : L" Not everything was seen either: " + Gaps(record) + L".");
        }
        case RunOutcome::Incomplete:
            return IncompleteSummary(record);
        case RunOutcome::NoRights:
            return L"Refused: keymendc needs administrator rights (run it elevated or as "
                   L"SYSTEM); nothing was changed.";
        case RunOutcome::InstallerBusy:
            return L"Busy: Windows Installer is running an installation; nothing was changed. "
                   L"Try again later.";
        case RunOutcome::BackupFailed:
            return L"Not repaired: the backup could not be written (error " +
                   Number(record.backup.error) + L": " + record.backup.reason +
                   L"); nothing was deleted.";
    }
    return std::wstring();
}

std::wstring TextReport(const RunRecord& record) {
    std::wstring text;
    for (std::size_t i = 0; i < record.registrations.size(); ++i) {
        text += RegistrationBlock(record.registrations[i], i + 1, record.registrations.size());
    }
    text += UnloadedUsers(record);
    if (!record.unreadable.empty()) {
        text += L"Keys that could not be read:\n";
        for (const UnreadableKey& key : record.unreadable) {
            text += L"  error " + Number(key.code) + L": " + key.key + L"\n";
        }
    }
    if (!record.failures.empty()) {
        text += L"Failures met:\n";
        for (const Failure& failure : record.failures) {
            text += L"  " + failure.caption + L": " + failure.text + L"\n";
        }
    }
    if (!record.backup.file.empty()) {
        text += L"Backup written: " + record.backup.file + L"\n";
        text += L"Backup SHA-256: " + record.backup.sha256 + L"\n";
    }
    for (const KeyDeletion& deletion : record.deletions) {
        text += DeletionLine(deletion);
    }
    return text + SummaryLine(record) + L"\n";
}
