#include "run_repair.h"

#include "delete_key_repeat.h"
#include "detect_target.h"
#include "search_key.h"

RepairOutcome RunRepair() {
    if (SearchKey(HKEY_LOCAL_MACHINE_ROOT, kInstallerUserDataPath) != SEARCH_FOUND) {
        return RepairOutcome::NotFound;
    }
    RegResult product =
        DeleteKeyRepeat(RepairTargets.ProductKeyRoot, RepairTargets.ProductKeyPath.c_str());
    RegResult data = DeleteKeyRepeat(RepairTargets.DataKeyRoot, RepairTargets.DataKeyPath.c_str());
    return (product == REG_OK && data == REG_OK) ? RepairOutcome::Removed
                                                 : RepairOutcome::NotRemoved;
}
