#include "win32_harness.h"

#include <windows.h>

#include <cstring>
#include <map>
#include <utility>

#include "call_log.h"
#include "diagnostics.h"
#include "run_repair.h"
#include "support/recording_reporter.h"

namespace {

std::uint32_t OpenHandles = 0;
std::map<RegKey, RegistryLocation> HandlePaths;

HKEY ToHkey(RegKey key) {
    return reinterpret_cast<HKEY>(key);
}

DWORD* AsDword(std::uint32_t* value) {
    static_assert(sizeof(DWORD) == sizeof(std::uint32_t));
    return reinterpret_cast<DWORD*>(value);
}

RegistryLocation LocationOf(RegKey key) {
    auto it = HandlePaths.find(key);
    return it != HandlePaths.end() ? it->second : RegistryLocation{key, ""};
}

// Number of subkeys of root\path, opened aside from the engine's handles.
DWORD SubkeyCount(const RegistryLocation& key) {
    HKEY opened = nullptr;
    DWORD count = 0;
    if (RegOpenKeyExA(ToHkey(key.root), key.path.c_str(), 0, KEY_READ, &opened) == ERROR_SUCCESS) {
        if (RegQueryInfoKeyA(opened, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            count = 0;
        }
        RegCloseKey(opened);
    }
    return count;
}

// The name as the 8-bit calls spell it; UTF-8, and unspellable, when the
// ANSI code page lacks a character or the name holds a NUL.
std::string NarrowName(const wchar_t* name, DWORD chars, bool* unspellable) {
    int length = static_cast<int>(chars);
    BOOL defaulted = FALSE;
    std::string narrow(chars * 4 + 1, '\0');
    int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name, length, &narrow[0],
                                    static_cast<int>(narrow.size()), nullptr, &defaulted);
    *unspellable = defaulted || wcslen(name) != chars;
    if (defaulted) {
        bytes = WideCharToMultiByte(CP_UTF8, 0, name, length, &narrow[0],
                                    static_cast<int>(narrow.size()), nullptr, nullptr);
    }
    narrow.resize(bytes > 0 ? static_cast<std::size_t>(bytes) : 0);
    return narrow;
}

void SnapshotInto(HKEY key, SnapshotKey& into) {
    DWORD subkeys = 0;
    DWORD values = 0;
    DWORD maxValueName = 0;
    DWORD maxData = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                         &maxValueName, &maxData, nullptr, nullptr) != ERROR_SUCCESS) {
        return;
    }
    std::string name(maxValueName + 2, '\0');
    std::string data(maxData + 2, '\0');
    for (DWORD i = 0; i < values; ++i) {
        DWORD nameChars = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = 0;
        if (RegEnumValueA(key, i, &name[0], &nameChars, nullptr, &type,
                          reinterpret_cast<BYTE*>(&data[0]), &dataSize) == ERROR_SUCCESS) {
            into.values.push_back(
                SnapshotValue{name.substr(0, nameChars), type, data.substr(0, dataSize)});
        }
    }
    into.SortValues();
    wchar_t subkeyName[512];
    for (DWORD i = 0;; ++i) {
        DWORD chars = sizeof subkeyName / sizeof subkeyName[0];
        if (RegEnumKeyExW(key, i, subkeyName, &chars, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        bool unspellable = false;
        SnapshotKey* child = into.AddSubkey(NarrowName(subkeyName, chars, &unspellable));
        child->unspellable = unspellable;
        // A name holding a NUL would open the key itself: taken as a leaf.
        HKEY subkey = nullptr;
        if (wcslen(subkeyName) == chars &&
            RegOpenKeyExW(key, subkeyName, 0, KEY_READ, &subkey) == ERROR_SUCCESS) {
            SnapshotInto(subkey, *child);
            RegCloseKey(subkey);
        }
    }
}

}  // namespace

RegResult RegistryOpenKey(RegKey root, const char* path, std::uint32_t access, RegKey* key) {
    HKEY opened = nullptr;
    LONG result = RegOpenKeyExA(ToHkey(root), path, 0, access, &opened);
    RegistryLocation base = LocationOf(root);
    RegistryLocation subject{base.root, JoinPath(base.path, path ? path : "")};
    if (result == ERROR_SUCCESS) {
        ++OpenHandles;
        *key = reinterpret_cast<RegKey>(opened);
        HandlePaths[*key] = subject;
    }
    CallRecord record;
    record.kind = CallKind::Open;
    record.root = subject.root;
    record.path = subject.path;
    record.access = access;
    record.result = static_cast<RegResult>(result);
    AppendCall(std::move(record));
    return static_cast<RegResult>(result);
}

RegResult RegistryEnumKey(RegKey key, std::uint32_t index, char* name, std::uint32_t* nameChars,
                          char* className, std::uint32_t* classChars) {
    FILETIME lastWrite;
    auto result =
        static_cast<RegResult>(RegEnumKeyExA(ToHkey(key), index, name, AsDword(nameChars), nullptr,
                                             className, AsDword(classChars), &lastWrite));
    CallRecord record;
    RegistryLocation subject = LocationOf(key);
    record.kind = CallKind::Enum;
    record.root = subject.root;
    record.path = subject.path;
    record.index = index;
    record.result = result;
    record.unusableName = result == REG_OK && std::strlen(name) != *nameChars;
    if (result == REG_ERROR_NO_MORE_ITEMS) {
        record.subjectHadSubkeys = SubkeyCount(subject) > index;
    }
    AppendCall(std::move(record));
    return result;
}

RegResult RegistryQueryValue(RegKey key, const char* valueName, std::uint32_t* type,
                             unsigned char* data, std::uint32_t* size) {
    auto result = static_cast<RegResult>(
        RegQueryValueExA(ToHkey(key), valueName, nullptr, AsDword(type), data, AsDword(size)));
    CallRecord record;
    RegistryLocation subject = LocationOf(key);
    record.kind = CallKind::Query;
    record.root = subject.root;
    record.path = subject.path;
    record.result = result;
    AppendCall(std::move(record));
    return result;
}

RegResult RegistryDeleteKey(RegKey parent, const char* childName) {
    RegistryLocation base = LocationOf(parent);
    RegistryLocation subject{base.root, JoinPath(base.path, childName ? childName : "")};
    bool hadSubkeys = SubkeyCount(subject) > 0;
    auto result = static_cast<RegResult>(RegDeleteKeyA(ToHkey(parent), childName));
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
    if (RegCloseKey(ToHkey(key)) == ERROR_SUCCESS) {
        --OpenHandles;
        HandlePaths.erase(key);
    }
}

std::uint32_t RegistryOpenHandleCount() {
    return OpenHandles;
}

RegistrySnapshot SnapshotLiveRegistry(const std::vector<RegistryLocation>& scopes) {
    RegistrySnapshot snapshot;
    for (const RegistryLocation& scope : scopes) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(ToHkey(scope.root), scope.path.c_str(), 0, KEY_READ, &key) !=
            ERROR_SUCCESS) {
            continue;
        }
        SnapshotKey* at = snapshot.Root(scope.root);
        std::string_view path = scope.path;
        while (at != nullptr && !path.empty()) {
            std::size_t cut = path.find('\\');
            at = at->AddSubkey(path.substr(0, cut));
            path = cut == std::string_view::npos ? std::string_view() : path.substr(cut + 1);
        }
        if (at != nullptr) {
            SnapshotInto(key, *at);
        }
        RegCloseKey(key);
    }
    return snapshot;
}

CheckedRun RunRecordedLiveRepair(bool diagnostic, const std::vector<bool>& answers) {
    Recorder().Reset();
    Recorder().answers.assign(answers.begin(), answers.end());
    RepairTargets = RepairTargetRecord{};
    DiagnosticMode = diagnostic;
    HandlePaths.clear();

    CheckedRun run;
    run.diagnostic = diagnostic;
    StartCallLog();
    run.outcome = RunRepair();
    run.calls = StopCallLog();
    run.openHandlesAfter = OpenHandles;
    run.targets = RepairTargets;
    run.reports = Recorder().reports;

    DiagnosticMode = false;
    RepairTargets = RepairTargetRecord{};
    Recorder().Reset();
    return run;
}

std::vector<std::string> LiveRepairAndCheck(const std::vector<RegistryLocation>& scopes,
                                            bool diagnostic, const std::vector<bool>& answers,
                                            const InvariantOptions& options, CheckedRun* run) {
    RegistrySnapshot before = SnapshotLiveRegistry(scopes);
    CheckedRun made = RunRecordedLiveRepair(diagnostic, answers);
    RegistrySnapshot after = SnapshotLiveRegistry(scopes);
    std::vector<std::string> violations = CheckRepairInvariants(before, after, made, options);
    if (run != nullptr) {
        *run = std::move(made);
    }
    return violations;
}
