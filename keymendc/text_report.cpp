#include <cstdio>

#include "reports.h"

namespace {

std::wstring Line(const wchar_t* label, const std::wstring& value) {
    wchar_t padded[32];
    std::swprintf(padded, 32, L"  %-22ls", label);
    return padded + value + L"\n";
}

std::wstring RegistrationBlock(const Registration& found) {
    return L"Damaged Brelix 1.11 registration:\n" + Line(L"User (SID):", found.sid) +
           Line(L"Product code:", found.productCode) + Line(L"DisplayName:", found.displayName) +
           Line(L"DisplayVersion:", found.displayVersion) +
           Line(L"Product registration:", found.productKey) +
           Line(L"Installer data:", found.dataKey);
}

std::wstring Number(long long value) {
    wchar_t digits[24];
    std::swprintf(digits, 24, L"%lld", value);
    return digits;
}

int Remaining(const RunRecord& record) {
    int remaining = 0;
    for (const KeyDeletion& deletion : record.deletions) {
        remaining += deletion.result != 0 ? 1 : 0;
    }
    return remaining;
}

}  // namespace

std::wstring SummaryLine(const RunRecord& record) {
    const std::wstring& sid = record.registration.sid;
    switch (record.outcome) {
        case RunOutcome::Found:
            return L"Found: the damaged Brelix 1.11 registration of user " + sid +
                   L"; keymendc repair removes it.";
        case RunOutcome::NotFound:
            return L"Not found: no damaged Brelix 1.11 registration; nothing was changed.";
        case RunOutcome::Removed:
            return L"Removed: the damaged Brelix 1.11 registration of user " + sid +
                   L"; Brelix 1.12 can be installed.";
        case RunOutcome::NotRemoved:
            return L"Not removed completely: " + Number(Remaining(record)) +
                   L" of 2 key trees remain; run keymendc repair --verbose as administrator.";
        case RunOutcome::NoRights:
            return L"Refused: keymendc needs administrator rights (run it elevated or as "
                   L"SYSTEM); nothing was changed.";
        case RunOutcome::InstallerBusy:
            return L"Busy: Windows Installer is running an installation; nothing was changed. "
                   L"Try again later.";
        case RunOutcome::BackupFailed:
            return L"Not repaired: the backup could not be written (error " +
                   Number(record.backupError) + L"); nothing was deleted.";
    }
    return std::wstring();
}

std::wstring TextReport(const RunRecord& record) {
    std::wstring text;
    if (record.found) {
        text += RegistrationBlock(record.registration);
    }
    if (!record.failures.empty()) {
        text += L"Failures met:\n";
        for (const Failure& failure : record.failures) {
            text += L"  " + failure.caption + L": " + failure.text + L"\n";
        }
    }
    if (!record.backupFile.empty()) {
        text += L"Backup written: " + record.backupFile + L"\n";
    }
    for (const KeyDeletion& deletion : record.deletions) {
        text += deletion.result == 0
                    ? L"Deleted: " + deletion.key + L"\n"
                    : L"Left (error " + Number(deletion.result) + L"): " + deletion.key + L"\n";
    }
    return text + SummaryLine(record) + L"\n";
}
