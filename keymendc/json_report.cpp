#include <nlohmann/json.hpp>

#include "console_output.h"
#include "reports.h"

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
        case RunOutcome::NoRights:
            return "no-rights";
        case RunOutcome::InstallerBusy:
            return "installer-busy";
        case RunOutcome::BackupFailed:
            return "backup-failed";
    }
    return "?";
}

namespace {

using json = nlohmann::ordered_json;

json Text(const std::wstring& text) {
    return WideToUtf8(text);
}

json RegistrationObject(const RunRecord& record) {
    if (!record.found) {
        return nullptr;
    }
    const Registration& found = record.registration;
    return {{"sid", Text(found.sid)},
            {"productCode", Text(found.productCode)},
            {"displayName", Text(found.displayName)},
            {"displayVersion", Text(found.displayVersion)},
            {"productKey", Text(found.productKey)},
            {"dataKey", Text(found.dataKey)}};
}

json BackupObject(const RunRecord& record) {
    if (record.backupFile.empty() && record.backupError == 0) {
        return nullptr;
    }
    json file = record.backupFile.empty() ? json(nullptr) : Text(record.backupFile);
    return {{"file", file}, {"error", record.backupError}};
}

}  // namespace

std::wstring JsonReport(const RunRecord& record) {
    json deletions = json::array();
    for (const KeyDeletion& deletion : record.deletions) {
        deletions.push_back({{"key", Text(deletion.key)},
                             {"deleted", deletion.result == 0},
                             {"result", deletion.result}});
    }
    json failures = json::array();
    for (const Failure& failure : record.failures) {
        json entry = {{"caption", Text(failure.caption)}, {"text", Text(failure.text)}};
        if (failure.code >= 0) {
            entry["code"] = failure.code;
        }
        failures.push_back(entry);
    }
    json report = {{"command", record.command == Command::Check ? "check" : "repair"},
                   {"outcome", OutcomeName(record.outcome)},
                   {"exitCode", record.exitCode},
                   {"registration", RegistrationObject(record)},
                   {"backup", BackupObject(record)},
                   {"deletions", deletions},
                   {"failures", failures},
                   {"summary", Text(SummaryLine(record))}};
    return Utf8ToWide(report.dump(-1, ' ', false, json::error_handler_t::replace)) + L"\n";
}
