#include "memory_harness.h"

#include <cstring>
#include <unordered_map>
#include <utility>

#include "call_log.h"
#include "detect_target.h"
#include "diagnostics.h"
#include "run_repair.h"
#include "support/recording_reporter.h"

namespace {

MemoryRegistry* Active = nullptr;
// What each open handle names, for the records of later calls on it.
std::unordered_map<RegKey, RegistryLocation> HandlePaths;

RegistryLocation LocationOf(RegKey key) {
    auto it = HandlePaths.find(key);
    if (it != HandlePaths.end()) {
        return it->second;
    }
    return RegistryLocation{key, ""};
}

void SnapshotInto(const MemoryRegistry& registry, MemoryRegistry::NodeId node, SnapshotKey& key) {
    for (const MemoryRegistry::Value& value : registry.Values(node)) {
        key.values.push_back(SnapshotValue{value.name, value.type, value.data});
    }
    key.SortValues();
    for (MemoryRegistry::NodeId child : registry.Children(node)) {
        SnapshotInto(registry, child, *key.AddSubkey(registry.Name(child)));
    }
}

}  // namespace

void UseRecordedMemoryRegistry(MemoryRegistry* registry) {
    Active = registry;
    HandlePaths.clear();
}

RegResult RegistryOpenKey(RegKey root, const char* path, std::uint32_t access, RegKey* key) {
    if (Active == nullptr) {
        return REG_ERROR_INVALID_HANDLE;
    }
    RegResult result = Active->Open(root, path, access, key);
    RegistryLocation base = LocationOf(root);
    RegistryLocation subject{base.root, JoinPath(base.path, path ? path : "")};
    if (result == REG_OK) {
        HandlePaths[*key] = subject;
    }
    CallRecord record;
    record.kind = CallKind::Open;
    record.root = subject.root;
    record.path = subject.path;
    record.access = access;
    record.result = result;
    AppendCall(std::move(record));
    return result;
}

RegResult RegistryEnumKey(RegKey key, std::uint32_t index, char* name, std::uint32_t* nameChars,
                          char* className, std::uint32_t* classChars) {
    if (Active == nullptr) {
        return REG_ERROR_INVALID_HANDLE;
    }
    RegResult result = Active->Enum(key, index, name, nameChars, className, classChars);
    RegistryLocation subject = LocationOf(key);
    CallRecord record;
    record.kind = CallKind::Enum;
    record.root = subject.root;
    record.path = subject.path;
    record.index = index;
    record.result = result;
    record.unusableName = result == REG_OK && std::strlen(name) != *nameChars;
    if (result == REG_ERROR_NO_MORE_ITEMS) {
        // Only an injected failure ends an enumeration early.
        MemoryRegistry::NodeId node = Active->FindPath(subject.root, subject.path);
        record.subjectHadSubkeys =
            node != MemoryRegistry::kNoNode && Active->Children(node).size() > index;
    }
    AppendCall(std::move(record));
    return result;
}

RegResult RegistryQueryValue(RegKey key, const char* valueName, std::uint32_t* type,
                             unsigned char* data, std::uint32_t* size) {
    if (Active == nullptr) {
        return REG_ERROR_INVALID_HANDLE;
    }
    RegResult result = Active->Query(key, valueName, type, data, size);
    RegistryLocation subject = LocationOf(key);
    CallRecord record;
    record.kind = CallKind::Query;
    record.root = subject.root;
    record.path = subject.path;
    record.result = result;
    AppendCall(std::move(record));
    return result;
}

RegResult RegistryDeleteKey(RegKey parent, const char* childName) {
    if (Active == nullptr) {
        return REG_ERROR_INVALID_HANDLE;
    }
    RegistryLocation base = LocationOf(parent);
    RegistryLocation subject{base.root, JoinPath(base.path, childName ? childName : "")};
    MemoryRegistry::NodeId node = Active->FindPath(subject.root, subject.path);
    bool hadSubkeys = node != MemoryRegistry::kNoNode && !Active->Children(node).empty();
    RegResult result = Active->Delete(parent, childName);
    CallRecord record;
    record.kind = CallKind::Delete;
    record.root = subject.root;
    record.path = subject.path;
    record.result = result;
    record.subjectHadSubkeys = hadSubkeys;
    AppendCall(std::move(record));
    return result;
}

void RegistryCloseKey(RegKey key) {
    if (Active != nullptr) {
        Active->Close(key);
        HandlePaths.erase(key);
    }
}

std::uint32_t RegistryOpenHandleCount() {
    return Active ? Active->OpenHandleCount() : 0;
}

RegistrySnapshot SnapshotMemoryRegistry(const MemoryRegistry& registry) {
    RegistrySnapshot snapshot;
    SnapshotInto(registry, registry.RootNode(HKEY_LOCAL_MACHINE_ROOT), snapshot.machine);
    SnapshotInto(registry, registry.RootNode(HKEY_USERS_ROOT), snapshot.users);
    return snapshot;
}

CheckedRun RunRecordedRepair(MemoryRegistry& registry, bool diagnostic,
                             const std::vector<bool>& answers) {
    Recorder().Reset();
    Recorder().answers.assign(answers.begin(), answers.end());
    RepairTargets = RepairTargetRecord{};
    DiagnosticMode = diagnostic;
    UseRecordedMemoryRegistry(&registry);

    CheckedRun run;
    run.diagnostic = diagnostic;
    StartCallLog();
    run.outcome = RunRepair();
    run.calls = StopCallLog();
    run.openHandlesAfter = registry.OpenHandleCount();
    run.targets = RepairTargets;
    run.reports = Recorder().reports;

    UseRecordedMemoryRegistry(nullptr);
    DiagnosticMode = false;
    RepairTargets = RepairTargetRecord{};
    Recorder().Reset();
    return run;
}

std::vector<std::string> RepairAndCheck(MemoryRegistry& registry, bool diagnostic,
                                        const std::vector<bool>& answers, CheckedRun* run,
                                        RegistrySnapshot* after) {
    RegistrySnapshot before = SnapshotMemoryRegistry(registry);
    CheckedRun made = RunRecordedRepair(registry, diagnostic, answers);
    RegistrySnapshot afterRun = SnapshotMemoryRegistry(registry);
    std::vector<std::string> violations = CheckRepairInvariants(before, afterRun, made);
    if (run != nullptr) {
        *run = std::move(made);
    }
    if (after != nullptr) {
        *after = std::move(afterRun);
    }
    return violations;
}
