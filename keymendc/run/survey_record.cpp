#include "survey_record.h"

#include <windows.h>

#include <algorithm>

#include "console_output.h"
#include "scoped_hkey.h"
#include "user_profile.h"

namespace {

std::wstring ReadTextValue(HKEY root, const std::wstring& path, const wchar_t* name) {
    wchar_t text[1024] = L"";
    DWORD bytes = sizeof text - sizeof(wchar_t);
    DWORD type = 0;
    ScopedHkey key;
    if (key.Open(root, path.c_str(), KEY_READ) != ERROR_SUCCESS ||
        RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(text), &bytes) !=
            ERROR_SUCCESS) {
        return std::wstring();
    }
    return text;
}

std::wstring Rooted(RegKey root, const char* path) {
    return std::wstring(RootName(root)) + L"\\" + AnsiToWide(path);
}

}  // namespace

// The names as stored, through the wide calls; the engine's 8-bit copies
// only where they cannot be read again.
Registration Describe(const FoundRegistration& found) {
    std::wstring dataPath = AnsiToWide(found.dataKeyPath.c_str());
    std::wstring properties = dataPath + L"\\InstallProperties";
    Registration registration;
    registration.sid = AnsiToWide(found.sid.c_str());
    registration.productCode = dataPath.substr(dataPath.rfind(L'\\') + 1);
    registration.displayName = ReadTextValue(HKEY_LOCAL_MACHINE, properties, L"DisplayName");
    if (registration.displayName.empty()) {
        registration.displayName = AnsiToWide(found.displayName.c_str());
    }
    registration.displayVersion = ReadTextValue(HKEY_LOCAL_MACHINE, properties, L"DisplayVersion");
    if (registration.displayVersion.empty()) {
        registration.displayVersion = AnsiToWide(found.displayVersion.c_str());
    }
    registration.productKey = Rooted(HKEY_USERS_ROOT, found.productKeyPath.c_str());
    registration.dataKey = Rooted(HKEY_LOCAL_MACHINE_ROOT, found.dataKeyPath.c_str());
    return registration;
}

namespace {

bool Listed(const std::vector<UnloadedUser>& users, const std::wstring& sid) {
    return std::any_of(users.begin(), users.end(),
                       [&sid](const UnloadedUser& user) { return user.sid == sid; });
}

}  // namespace

const wchar_t* RootName(RegKey root) {
    return root == HKEY_USERS_ROOT ? L"HKEY_USERS" : L"HKEY_LOCAL_MACHINE";
}

void RecordSurvey(const InstallerDataSurvey& survey, RunRecord* record) {
    for (const FoundRegistration& found : survey.found) {
        record->registrations.push_back(Describe(found));
    }
    for (const UnseenKey& unseen : survey.unseen) {
        record->unreadable.push_back({Rooted(unseen.root, unseen.path.c_str()), unseen.code});
    }
    for (const UnloadedCandidate& candidate : survey.unloaded) {
        std::wstring sid = AnsiToWide(candidate.sid.c_str());
        if (Listed(record->unloaded, sid)) {
            continue;
        }
        UserProfile profile;
        DWORD looked = LookUpUserProfile(sid, &profile);
        UnloadedUser user;
        user.sid = sid;
        // Only a SID with a profile here can sign in and so hide a registration.
        user.hasProfile =
            looked != ERROR_SUCCESS || (profile.verdict != ProfileVerdict::NoProfileEntry &&
                                        profile.verdict != ProfileVerdict::NotASid);
        user.profile = profile.folder;
        record->unloaded.push_back(user);
    }
}
