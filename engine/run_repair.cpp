#include "run_repair.h"

#include "delete_key_repeat.h"
#include "detect_target.h"
#include "search_key.h"

RegResult FindRepairTarget() {
    return SearchKey(HKEY_LOCAL_MACHINE_ROOT, kInstallerUserDataPath);
}

TargetDeletions DeleteRepairTargets() {
    TargetDeletions deletions;
    deletions.product =
        DeleteKeyRepeat(RepairTargets.ProductKeyRoot, RepairTargets.ProductKeyPath.c_str());
    deletions.data = DeleteKeyRepeat(RepairTargets.DataKeyRoot, RepairTargets.DataKeyPath.c_str());
    return deletions;
}

RepairOutcome OutcomeOfDeletions(const TargetDeletions& deletions) {
    return (deletions.product == REG_OK && deletions.data == REG_OK) ? RepairOutcome::Removed
                                                                     : RepairOutcome::NotRemoved;
}

RepairOutcome RunRepair() {
    if (FindRepairTarget() != SEARCH_FOUND) {
        return RepairOutcome::NotFound;
    }
    return OutcomeOfDeletions(DeleteRepairTargets());
}
