#include "administrators_only.h"

#include <sddl.h>

#include <cstddef>

#include "local_memory.h"

namespace {

constexpr const wchar_t* kTrustedSids[] = {
#define TRUSTED_SID(sid, who) L"" sid,
#include "protected_folder.def"
};
constexpr BYTE kGrantingAces[] = {
#define GRANTING_ACE(type) type,
#include "protected_folder.def"
};
constexpr BYTE kDenyingAces[] = {
#define DENYING_ACE(type) type,
#include "protected_folder.def"
};
constexpr BYTE kSkippedAceFlags = 0
#define SKIPPED_ACE_FLAG(flag) | (flag)
#include "protected_folder.def"
    ;

template <std::size_t N>
bool IsOneOf(BYTE value, const BYTE (&values)[N]) {
    for (BYTE each : values) {
        if (each == value) {
            return true;
        }
    }
    return false;
}

std::wstring SidText(PSID sid) {
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text)) {
        return L"?";
    }
    LocalMemory<> hold(text);
    return text;
}

}  // namespace

// "BUILTIN\Users (S-1-5-32-545)", or the SID alone.
std::wstring AccountName(PSID sid) {
    wchar_t name[256];
    wchar_t domain[256];
    DWORD nameChars = 256;
    DWORD domainChars = 256;
    SID_NAME_USE use;
    if (!LookupAccountSidW(nullptr, sid, name, &nameChars, domain, &domainChars, &use)) {
        return SidText(sid);
    }
    std::wstring account = domain[0] != L'\0' ? std::wstring(domain) + L"\\" + name : name;
    return account + L" (" + SidText(sid) + L")";
}

namespace {

// The user running keymendc has administrator rights already.
bool IsRunningUser(PSID sid) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return false;
    }
    union {
        TOKEN_USER user;
        BYTE bytes[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
    } buffer;
    DWORD size = 0;
    bool same = GetTokenInformation(token, TokenUser, &buffer, sizeof buffer, &size) &&
                EqualSid(buffer.user.User.Sid, sid);
    CloseHandle(token);
    return same;
}

bool IsTrusted(PSID sid) {
    std::wstring text = SidText(sid);
    for (const wchar_t* trusted : kTrustedSids) {
        if (text == trusted) {
            return true;
        }
    }
    return IsRunningUser(sid);
}

// The rights an entry grants and to whom; false for an entry that grants
// nothing (a denial). An entry of a kind not known here grants everything.
bool Grants(const ACE_HEADER* header, DWORD* mask, PSID* sid) {
    if (IsOneOf(header->AceType, kGrantingAces)) {
        // Each begins with the header, the mask and the SID.
        auto* allowed = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
        *mask = allowed->Mask;
        *sid = const_cast<DWORD*>(&allowed->SidStart);
        return true;
    }
    if (IsOneOf(header->AceType, kDenyingAces)) {
        return false;
    }
    *mask = GENERIC_ALL;
    *sid = nullptr;
    return true;
}

}  // namespace

DWORD CheckSecurityIsAdministrators(PSID owner, const ACL* dacl, DWORD rights, std::wstring* who) {
    // An owner may rewrite the DACL whenever it likes.
    if (owner == nullptr || !IsTrusted(owner)) {
        *who = owner == nullptr ? L"no owner" : L"its owner " + AccountName(owner);
        return ERROR_ACCESS_DENIED;
    }
    if (dacl == nullptr) {
        *who = L"everyone (the folder has no DACL)";
        return ERROR_ACCESS_DENIED;
    }
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        void* entry = nullptr;
        if (!GetAce(const_cast<ACL*>(dacl), index, &entry)) {
            return GetLastError();
        }
        auto* header = static_cast<const ACE_HEADER*>(entry);
        DWORD mask = 0;
        PSID sid = nullptr;
        if ((header->AceFlags & kSkippedAceFlags) != 0 || !Grants(header, &mask, &sid)) {
            continue;
        }
        if ((mask & rights) != 0 && (sid == nullptr || !IsTrusted(sid))) {
            *who = sid == nullptr ? L"an access entry keymendc cannot read" : AccountName(sid);
            return ERROR_ACCESS_DENIED;
        }
    }
    return ERROR_SUCCESS;
}
