#include "detect_target.h"

#include <cstring>

#include "ascii_case.h"
#include "diagnostics.h"
#include "read_text_value.h"
#include "scoped_key.h"

RepairTargetRecord RepairTargets;

namespace {

constexpr char kCaption[] = "DetectTarget";
constexpr char kProductName[] = "DUVA Brelix for Windows";
// "SOFTWARE\Microsoft\Windows\CurrentVersion\Installer\UserData\<SID>": the
// SID follows the sixth backslash.
constexpr int kBackslashesBeforeSid = 6;

// The SID component of candidatePath, or false after reporting why not.
bool FindSid(const char* candidatePath, const char** sid, std::size_t* sidLength) {
    if (candidatePath[0] == '\0') {
        ReportDiagnostic(kCaption, "ERROR: NotFound MagicKey1");
        return false;
    }
    // A backslash in the very first position is never counted.
    const char* cursor = candidatePath + 1;
    for (int found = 0; found < kBackslashesBeforeSid; ++found) {
        const char* backslash = std::strchr(cursor, '\\');
        if (backslash == nullptr) {
            ReportDiagnostic(kCaption, "ERROR: NotFound MagicKey1");
            return false;
        }
        cursor = backslash + 1;
    }
    const char* end = std::strchr(cursor, '\\');
    if (end == nullptr) {
        ReportDiagnostic(kCaption, "ERROR: NotFound-END MagicKey1");
        return false;
    }
    *sid = cursor;
    *sidLength = static_cast<std::size_t>(end - cursor);
    return true;
}

// Opens the product registration and reads its ProductName. A value that is
// absent or does not fit fails the name test like any other mismatch.
CandidateVerdict ReadProductName(RegKey productRoot, CandidateExamination* examination,
                                 ValueText& productName) {
    ScopedKey product;
    RegResult result =
        product.Open(productRoot, examination->productPath.c_str(), ACCESS_KEY_READ_WRITE);
    if (result != REG_OK) {
        examination->code = result;
        return CandidateVerdict::ProductKeyUnopened;
    }
    result = ReadTextValue(product.get(), "ProductName", productName);
    if (result == REG_ERROR_FILE_NOT_FOUND || result == REG_ERROR_MORE_DATA) {
        return CandidateVerdict::NotTarget;
    }
    if (result != REG_OK) {
        examination->code = result;
        return CandidateVerdict::ProductNameUnread;
    }
    return CandidateVerdict::Target;
}

}  // namespace

bool IsDamagedReleaseVersion(const char* displayVersion) {
    // Position 8 is read only when it exists; at length 8 it is the NUL.
    if (std::strlen(displayVersion) < 8 || std::strncmp(displayVersion, "1.11.", 5) != 0) {
        return false;
    }
    int c7 = static_cast<signed char>(displayVersion[7]);
    int c8 = static_cast<signed char>(displayVersion[8]);
    int build = 10 * (c7 - '0') + (c8 - '0');
    return build >= 11 && build <= 89;
}

bool MayBeTarget(const char* displayName, const char* displayVersion) {
    return EqualsIgnoreAsciiCase(displayName, kProductName) &&
           IsDamagedReleaseVersion(displayVersion);
}

bool DeriveProductRegistration(const char* candidatePath, CandidateExamination* examination) {
    *examination = CandidateExamination{};
    if (std::strlen(candidatePath) >= RegistryPath::capacity()) {
        return false;  // Could not be recorded whole.
    }
    const char* sid = nullptr;
    std::size_t sidLength = 0;
    if (!FindSid(candidatePath, &sid, &sidLength)) {
        return false;
    }
    (void)examination->sid.AppendBytes(sid, sidLength);
    const char* productCode = std::strrchr(candidatePath, '\\') + 1;
    if (!examination->productPath.Format("%.*s\\Software\\Microsoft\\Installer\\Products\\%s",
                                         static_cast<int>(sidLength), sid, productCode)) {
        examination->sid.Clear();
        examination->productPath.Clear();
        return false;  // No such key can exist; nothing to report.
    }
    return true;
}

CandidateVerdict ExamineProductRegistration(RegKey productRoot, const char* displayName,
                                            const char* displayVersion,
                                            CandidateExamination* examination) {
    ValueText productName;
    examination->code = REG_OK;
    examination->verdict = ReadProductName(productRoot, examination, productName);
    if (examination->verdict != CandidateVerdict::Target) {
        return examination->verdict;
    }
    if (!EqualsIgnoreAsciiCase(productName.c_str(), displayName) ||
        !EqualsIgnoreAsciiCase(productName.c_str(), kProductName) ||
        !IsDamagedReleaseVersion(displayVersion)) {
        examination->verdict = CandidateVerdict::NotTarget;
    }
    return examination->verdict;
}

CandidateVerdict ExamineCandidate(RegKey productRoot, const char* candidatePath,
                                  const char* displayName, const char* displayVersion,
                                  CandidateExamination* examination) {
    if (!DeriveProductRegistration(candidatePath, examination)) {
        return CandidateVerdict::NotTarget;
    }
    return ExamineProductRegistration(productRoot, displayName, displayVersion, examination);
}

int DetectTarget(RegKey productRoot, const char* candidatePath, const char* displayName,
                 const char* displayVersion) {
    CandidateExamination examination;
    if (ExamineCandidate(productRoot, candidatePath, displayName, displayVersion, &examination) !=
        CandidateVerdict::Target) {
        return 0;
    }
    if (AskDiagnostic(kCaption, "Delete this key [%s] ?", displayVersion)) {
        RepairTargets.ProductKeyRoot = productRoot;
        (void)RepairTargets.ProductKeyPath.Assign(examination.productPath.c_str());
        RepairTargets.DataKeyRoot = HKEY_LOCAL_MACHINE_ROOT;
        (void)RepairTargets.DataKeyPath.Assign(candidatePath);
    }
    return 1;
}
