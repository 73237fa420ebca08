#include "console_output.h"
#include "json_writer.h"
#include "reports.h"

namespace {

const char* HiveOf(const RunRecord& record, const Registration& found) {
    if (found.user == kNoUser) {
        return "machine";
    }
    HiveState hive = record.users[found.user].hive;
    return hive == HiveState::LoadedByWindows ? "loaded" : "loaded-by-keymendc";
}

void WriteRegistration(JsonWriter& json, const RunRecord& record, const Registration& found) {
    json.BeginObject();
    json.Key("sid");
    json.String(found.sid);
    json.Key("productCode");
    json.String(found.productCode);
    json.Key("displayName");
    json.String(found.displayName);
    json.Key("displayVersion");
    json.String(found.displayVersion);
    json.Key("productKey");
    json.String(found.productKey);
    json.Key("dataKey");
    json.String(found.dataKey);
    json.Key("kind");
    json.String(found.found.perMachine ? "per-machine" : "per-user");
    json.Key("hive");
    json.String(HiveOf(record, found));
    json.EndObject();
}

void WriteRegistrations(JsonWriter& json, const RunRecord& record) {
    // The first alone, as keymendc wrote it before it listed them all.
    json.Key("registration");
    if (record.registrations.empty()) {
        json.Null();
    } else {
        WriteRegistration(json, record, record.registrations.front());
    }
    json.Key("registrations");
    json.BeginArray();
    for (const Registration& found : record.registrations) {
        WriteRegistration(json, record, found);
    }
    json.EndArray();
}

void WriteUnseen(JsonWriter& json, const RunRecord& record) {
    json.Key("unreadableKeys");
    json.BeginArray();
    for (const UnreadableKey& key : record.unreadable) {
        json.BeginObject();
        json.Key("key");
        json.String(key.key);
        json.Key("code");
        json.Number(key.code);
        json.EndObject();
    }
    json.EndArray();
    json.Key("usersNotLoaded");
    json.BeginArray();
    for (const User& user : record.users) {
        if (!WasSignedOut(user)) {
            continue;
        }
        json.BeginObject();
        json.Key("sid");
        json.String(user.sid);
        json.Key("hasProfile");
        json.Bool(user.hasProfile);
        json.Key("profile");
        if (user.hasProfile) {
            json.String(user.profile);
        } else {
            json.Null();
        }
        json.Key("hive");
        json.String(HiveName(user.hive));
        json.Key("refusal");
        json.String(user.refusal);
        json.Key("code");
        json.Number(user.code);
        json.EndObject();
    }
    json.EndArray();
    json.Key("leftoverHives");
    json.BeginArray();
    for (const LeftoverHiveRecord& leftover : record.leftovers) {
        json.BeginObject();
        json.Key("sid");
        json.String(leftover.sid);
        json.Key("action");
        json.String(leftover.action);
        json.Key("code");
        json.Number(leftover.code);
        json.EndObject();
    }
    json.EndArray();
    json.Key("marks");
    if (record.marks.code == 0) {
        json.Null();
        return;
    }
    json.BeginObject();
    json.Key("code");
    json.Number(record.marks.code);
    json.Key("reason");
    json.String(record.marks.reason);
    json.EndObject();
}

void WriteBackup(JsonWriter& json, const RunRecord& record) {
    json.Key("backup");
    if (record.backup.file.empty() && record.backup.error == 0) {
        json.Null();
        return;
    }
    json.BeginObject();
    json.Key("file");
    if (record.backup.file.empty()) {
        json.Null();
    } else {
        json.String(record.backup.file);
    }
    json.Key("sha256");
    if (record.backup.sha256.empty()) {
        json.Null();
    } else {
        json.String(record.backup.sha256);
    }
    json.Key("error");
    json.Number(record.backup.error);
    json.Key("reason");
    json.String(record.backup.reason);
    json.EndObject();
}

void WriteDeletions(JsonWriter& json, const RunRecord& record) {
    json.Key("deletions");
    json.BeginArray();
    for (const KeyDeletion& deletion : record.deletions) {
        json.BeginObject();
        json.Key("key");
        json.String(deletion.key);
        json.Key("deleted");
        json.Bool(deletion.result == 0);
        json.Key("result");
        json.Number(deletion.result);
        json.EndObject();
    }
    json.EndArray();
}

void WriteFailures(JsonWriter& json, const RunRecord& record) {
    json.Key("failures");
    json.BeginArray();
    for (const Failure& failure : record.failures) {
        json.BeginObject();
        json.Key("caption");
        json.String(failure.caption);
        json.Key("text");
        json.String(failure.text);
        if (failure.code >= 0) {
            json.Key("code");
            json.Number(failure.code);
        }
        json.EndObject();
    }
    json.EndArray();
}

}  // namespace

std::wstring JsonReport(const RunRecord& record) {
    JsonWriter json;
    json.BeginObject();
    json.Key("command");
    json.String(record.command == Command::Check ? "check" : "repair");
    json.Key("outcome");
    json.String(OutcomeName(record.outcome));
    if (record.outcome == RunOutcome::HiveLeftLoaded) {
        json.Key("outcomeBeneath");
        json.String(OutcomeName(record.outcomeBeneath));
    }
    json.Key("exitCode");
    json.Number(record.exitCode);
    json.Key("complete");
    json.Bool(SawEverything(record));
    WriteRegistrations(json, record);
    WriteUnseen(json, record);
    WriteBackup(json, record);
    WriteDeletions(json, record);
    WriteFailures(json, record);
    json.Key("summary");
    json.String(SummaryLine(record));
    json.EndObject();
    return Utf8ToWide(json.text()) + L"\n";
}
