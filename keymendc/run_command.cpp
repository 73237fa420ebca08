#include "run_command.h"

#include <windows.h>

#include "backup_file.h"
#include "console_output.h"
#include "console_reporter.h"
#include "detect_target.h"
#include "diagnostics.h"
#include "exit_codes.h"
#include "may_write_driver_list.h"
#include "preconditions.h"
#include "run_repair.h"
#include "search_key.h"

namespace {

HKEY ToHkey(RegKey key) {
    return reinterpret_cast<HKEY>(key);
}

std::wstring ReadTextValue(HKEY root, const std::wstring& path, const wchar_t* name) {
    wchar_t text[1024] = L"";
    DWORD bytes = sizeof text - sizeof(wchar_t);
    DWORD type = 0;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return std::wstring();
    }
    LONG result =
        RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &bytes);
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? std::wstring(text) : std::wstring();
}

// The product registration path is <SID>\...\<product code>.
Registration DescribeTargets() {
    std::wstring productPath = AnsiToWide(RepairTargets.ProductKeyPath.c_str());
    std::wstring dataPath = AnsiToWide(RepairTargets.DataKeyPath.c_str());
    Registration found;
    found.sid = productPath.substr(0, productPath.find(L'\\'));
    found.productCode = productPath.substr(productPath.rfind(L'\\') + 1);
    std::wstring properties = dataPath + L"\\InstallProperties";
    HKEY dataRoot = ToHkey(RepairTargets.DataKeyRoot);
    found.displayName = ReadTextValue(dataRoot, properties, L"DisplayName");
    found.displayVersion = ReadTextValue(dataRoot, properties, L"DisplayVersion");
    found.productKey =
        std::wstring(RootName(ToHkey(RepairTargets.ProductKeyRoot))) + L"\\" + productPath;
    found.dataKey = std::wstring(RootName(dataRoot)) + L"\\" + dataPath;
    return found;
}

RunRecord& Finish(RunRecord& record, RunOutcome outcome, int exitCode) {
    record.outcome = outcome;
    record.exitCode = exitCode;
    record.failures = CollectedFailures();
    return record;
}

DWORD Backup(const std::wstring& folder, std::wstring* file) {
    return WriteBackupFile(folder, ToHkey(RepairTargets.ProductKeyRoot),
                           AnsiToWide(RepairTargets.ProductKeyPath.c_str()),
                           ToHkey(RepairTargets.DataKeyRoot),
                           AnsiToWide(RepairTargets.DataKeyPath.c_str()), file);
}

}  // namespace

RunRecord RunCommand(const Options& options) {
    RunRecord record;
    record.command = options.command;
    if (InstallerIsBusy()) {
        return Finish(record, RunOutcome::InstallerBusy, kExitInstallerBusy);
    }
    if (!MayWriteDriverList()) {
        return Finish(record, RunOutcome::NoRights, kExitNoRights);
    }
    DiagnosticMode = true;
    if (FindRepairTarget() != SEARCH_FOUND) {
        return Finish(record, RunOutcome::NotFound, kExitClean);
    }
    record.found = true;
    record.registration = DescribeTargets();
    if (options.command == Command::Check) {
        return Finish(record, RunOutcome::Found, kExitDamaged);
    }
    if (!options.backupDir.empty()) {
        record.backupError = Backup(options.backupDir, &record.backupFile);
        if (record.backupError != ERROR_SUCCESS) {
            return Finish(record, RunOutcome::BackupFailed, kExitBackupFailed);
        }
    }
    TargetDeletions deletions = DeleteRepairTargets();
    record.deletions.push_back({record.registration.productKey, deletions.product});
    record.deletions.push_back({record.registration.dataKey, deletions.data});
    if (OutcomeOfDeletions(deletions) == RepairOutcome::Removed) {
        return Finish(record, RunOutcome::Removed, kExitClean);
    }
    return Finish(record, RunOutcome::NotRemoved, kExitDamaged);
}
