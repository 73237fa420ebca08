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

// What the tests of one candidate found.
enum class CandidateVerdict {
    NotTarget,           // a test failed, or the product registration does not exist
    Target,              // every test passed
    ProductKeyUnopened,  // the product registration could not be opened: code says why
    ProductNameUnread,   // its ProductName could not be read for a reason other than
                         // absence or size: code says why
};

struct CandidateExamination {
    CandidateVerdict verdict = CandidateVerdict::NotTarget;
    RegResult code = REG_OK;
    RegistryPath sid;          // empty when the path has no SID component
    RegistryPath productPath;  // under productRoot; empty when it could not be derived
};

// The tests of DetectTarget without its question and its record: derives
// the SID and product code from candidatePath (reporting a path of the wrong
// shape in diagnostic mode), opens the product registration under
// productRoot, and applies the name and version tests. Changes nothing.
CandidateVerdict ExamineCandidate(RegKey productRoot, const char* candidatePath,
                                  const char* displayName, const char* displayVersion,
                                  CandidateExamination* examination);

// The first half of ExamineCandidate: the SID and the product registration's
// path under HKEY_USERS, derived from candidatePath (a path of the wrong
// shape is reported in diagnostic mode). False, with both empty, when no
// product registration can be named.
bool DeriveProductRegistration(const char* candidatePath, CandidateExamination* examination);

// The second half: opens examination->productPath under productRoot and
// applies the name and version tests. Sets and returns the verdict.
CandidateVerdict ExamineProductRegistration(RegKey productRoot, const char* displayName,
                                            const char* displayVersion,
                                            CandidateExamination* examination);

// The tests that need no product registration: the DisplayName is the
// product's name and the DisplayVersion that of a damaged release. A
// candidate that fails them can never be the target.
bool MayBeTarget(const char* displayName, const char* displayVersion);

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
