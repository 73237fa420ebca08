#pragma once

#include "bounded_text.h"
#include "registry.h"

using RegistryPath = BoundedText<1024>;

// The two key trees that a repair deletes. Written only by DetectTarget, and
// only once per process; read by RunRepair. Null roots and empty paths until
// a target is recorded.
struct RepairTargetRecord {
    RegKey ProductKeyRoot = 0;
    RegistryPath ProductKeyPath;
    RegKey DataKeyRoot = 0;
    RegistryPath DataKeyPath;
};

extern RepairTargetRecord RepairTargets;

// Decides whether the installer data key at candidatePath (under
// HKEY_LOCAL_MACHINE), whose InstallProperties hold displayName and
// displayVersion, is the damaged 1.11 registration: its SID and product code
// lead to a product registration under productRoot whose ProductName agrees.
// Returns 1 for the target (recorded unless the diagnostic question was
// answered No), 0 otherwise; a rejected candidate changes nothing.
int DetectTarget(RegKey productRoot, const char* candidatePath, const char* displayName,
                 const char* displayVersion);

// The version test alone: "1.11." and a two-digit build from 11 to 89.
bool IsDamagedReleaseVersion(const char* displayVersion);
