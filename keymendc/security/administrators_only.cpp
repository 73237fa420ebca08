#include "administrators_only.h"

#include <sddl.h>

#include "local_memory.h"

namespace {

// SYSTEM, Administrators and TrustedInstaller; CREATOR OWNER stands for no
// one on the object itself, OWNER RIGHTS for its owner, who is checked.
constexpr const wchar_t* kTrustedSids[] = {
    L"S-1-5-18", L"S-1-5-32-544", L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
    L"S-1-3-0",  L"S-1-3-4",
};

std::wstring SidText(PSID sid) {
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text)) {
        return L"?";
    }
    LocalMemory<> hold(text);
    return text;
}

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
    switch (header->AceType) {
        case ACCESS_ALLOWED_ACE_TYPE:
        case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: {
            // Both begin with the header, the mask and the SID.
            auto* allowed = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
            *mask = allowed->Mask;
            *sid = const_cast<DWORD*>(&allowed->SidStart);
            return true;
        }
        case ACCESS_DENIED_ACE_TYPE:
        case ACCESS_DENIED_OBJECT_ACE_TYPE:
        case ACCESS_DENIED_CALLBACK_ACE_TYPE:
        case ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE:
            return false;
        default:
            *mask = GENERIC_ALL;
            *sid = nullptr;
            return true;
    }
}

}  // namespace

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

DWORD CheckOnlyAdministratorsMay(PSID owner, PACL dacl, DWORD rights, std::wstring* who) {
    // An owner may rewrite the DACL whenever it likes.
    if (owner == nullptr || !IsTrusted(owner)) {
        *who = owner == nullptr ? L"no owner" : L"its owner " + AccountName(owner);
        return ERROR_ACCESS_DENIED;
    }
    if (dacl == nullptr) {
        *who = L"everyone (there is no DACL)";
        return ERROR_ACCESS_DENIED;
    }
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        void* entry = nullptr;
        if (!GetAce(dacl, index, &entry)) {
            return GetLastError();
        }
        auto* header = static_cast<const ACE_HEADER*>(entry);
        DWORD mask = 0;
        PSID sid = nullptr;
        if ((header->AceFlags & INHERIT_ONLY_ACE) != 0 || !Grants(header, &mask, &sid)) {
            continue;
        }
        if ((mask & rights) != 0 && (sid == nullptr || !IsTrusted(sid))) {
            *who = sid == nullptr ? L"an access entry keymendc cannot read" : AccountName(sid);
            return ERROR_ACCESS_DENIED;
        }
    }
    return ERROR_SUCCESS;
}
