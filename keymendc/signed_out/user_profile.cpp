#include "user_profile.h"

#include <sddl.h>

#include <vector>

#include "local_memory.h"
#include "scoped_hkey.h"

namespace {

const std::wstring kProfileList = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";
constexpr DWORD kStateMandatory = 0x0001;
constexpr DWORD kStateTemporary = 0x0800;

// NotASid, SpecialSid, or Usable when the name may go on to the next check;
// *canonical is the SID as Windows writes it.
ProfileVerdict CheckSid(const std::wstring& text, std::wstring* canonical) {
    PSID raw = nullptr;
    if (!ConvertStringSidToSidW(text.c_str(), &raw)) {
        return ProfileVerdict::NotASid;
    }
    LocalMemory<> sid(raw);
    LPWSTR rawText = nullptr;
    if (!ConvertSidToStringSidW(raw, &rawText)) {
        return ProfileVerdict::NotASid;
    }
    LocalMemory<wchar_t> written(rawText);
    *canonical = written.get();
    // "S-1-5-018" or "SY" parse too, but name another key; letter case does
    // not, as the registry compares names.
    if (CompareStringOrdinal(text.c_str(), -1, canonical->c_str(), -1, TRUE) != CSTR_EQUAL) {
        return ProfileVerdict::NotASid;
    }
    if (IsWellKnownSid(raw, WinLocalSystemSid) || IsWellKnownSid(raw, WinLocalServiceSid) ||
        IsWellKnownSid(raw, WinNetworkServiceSid)) {
        return ProfileVerdict::SpecialSid;
    }
    return ProfileVerdict::Usable;
}

DWORD KeyExists(const std::wstring& path, bool* exists) {
    ScopedHkey key;
    LONG result =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, key.receive());
    *exists = result == ERROR_SUCCESS;
    return result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : static_cast<DWORD>(result);
}

// A State that is missing or not a DWORD sets no bit.
DWORD ReadState(HKEY entry) {
    DWORD state = 0;
    DWORD type = 0;
    DWORD bytes = sizeof state;
    LONG result =
        RegQueryValueExW(entry, L"State", nullptr, &type, reinterpret_cast<BYTE*>(&state), &bytes);
    return (result == ERROR_SUCCESS && type == REG_DWORD && bytes == sizeof state) ? state : 0;
}

// Sized from the value itself, read again if it grew in between; stored
// text need not end in a NUL.
DWORD ReadPathValue(HKEY entry, std::wstring* text) {
    std::vector<wchar_t> buffer(1);
    LONG result = ERROR_MORE_DATA;
    DWORD type = 0;
    DWORD bytes = 0;
    while (result == ERROR_MORE_DATA) {
        bytes = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
        result = RegQueryValueExW(entry, L"ProfileImagePath", nullptr, &type,
                                  reinterpret_cast<BYTE*>(buffer.data()), &bytes);
        if (result == ERROR_MORE_DATA) {
            buffer.assign(bytes / sizeof(wchar_t) + 2, L'\0');
        }
    }
    if (result != ERROR_SUCCESS) {
        return static_cast<DWORD>(result);
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
        return ERROR_INVALID_DATA;
    }
    buffer[bytes / sizeof(wchar_t)] = L'\0';
    *text = buffer.data();
    return ERROR_SUCCESS;
}

DWORD Expand(const std::wstring& text, std::wstring* expanded) {
    DWORD chars = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    while (chars != 0) {
        std::vector<wchar_t> buffer(chars);
        DWORD needed = ExpandEnvironmentStringsW(text.c_str(), buffer.data(), chars);
        if (needed != 0 && needed <= chars) {
            *expanded = buffer.data();
            return ERROR_SUCCESS;
        }
        chars = needed;
    }
    return GetLastError();
}

// Attributes only: never opens, creates or locks the file.
DWORD Exists(const std::wstring& path, bool folder, bool* exists) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        *exists = false;
        bool absent = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
                      error == ERROR_INVALID_NAME;
        return absent ? ERROR_SUCCESS : error;
    }
    *exists = ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == folder;
    return ERROR_SUCCESS;
}

// What the ProfileList entry says; Usable when its checks pass.
DWORD ClassifyEntry(UserProfile* profile) {
    bool exists = false;
    DWORD error = KeyExists(kProfileList + profile->sid + L".bak", &exists);
    if (error != ERROR_SUCCESS || exists) {
        profile->verdict = ProfileVerdict::BackupEntry;
        return error;
    }
    ScopedHkey entry;
    LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kProfileList + profile->sid).c_str(), 0,
                                KEY_QUERY_VALUE, entry.receive());
    if (opened != ERROR_SUCCESS) {
        profile->verdict = ProfileVerdict::NoProfileEntry;
        return opened == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : static_cast<DWORD>(opened);
    }
    DWORD state = ReadState(entry.get());
    if ((state & kStateTemporary) != 0) {
        profile->verdict = ProfileVerdict::TemporaryProfile;
        return ERROR_SUCCESS;
    }
    if ((state & kStateMandatory) != 0) {
        profile->verdict = ProfileVerdict::MandatoryProfile;
        return ERROR_SUCCESS;
    }
    std::wstring stored;
    error = ReadPathValue(entry.get(), &stored);
    if (error == ERROR_SUCCESS) {
        error = Expand(stored, &profile->folder);
    }
    profile->verdict =
        error == ERROR_SUCCESS ? ProfileVerdict::Usable : ProfileVerdict::FolderMissing;
    return error;
}

// What the folder holds; Usable when NTUSER.DAT is there.
DWORD ClassifyFolder(UserProfile* profile) {
    std::wstring folder = profile->folder;
    if (!folder.empty() && folder.back() != L'\\') {
        folder += L'\\';
    }
    bool exists = false;
    DWORD error = folder.empty() ? ERROR_SUCCESS : Exists(folder, true, &exists);
    if (error != ERROR_SUCCESS || !exists) {
        profile->verdict = ProfileVerdict::FolderMissing;
        return error;
    }
    error = Exists(folder + L"NTUSER.MAN", false, &exists);
    if (error != ERROR_SUCCESS || exists) {
        profile->verdict = ProfileVerdict::MandatoryProfile;
        return error;
    }
    profile->hiveFile = folder + L"NTUSER.DAT";
    error = Exists(profile->hiveFile, false, &exists);
    profile->verdict = exists ? ProfileVerdict::Usable : ProfileVerdict::HiveFileMissing;
    return error;
}

}  // namespace

bool IsUserSidText(const std::wstring& text) {
    std::wstring canonical;
    return CheckSid(text, &canonical) == ProfileVerdict::Usable;
}

DWORD LookUpUserProfile(const std::wstring& sid, UserProfile* profile) {
    *profile = UserProfile{};
    profile->sid = sid;
    profile->verdict = CheckSid(sid, &profile->sid);
    if (profile->verdict != ProfileVerdict::Usable) {
        return ERROR_SUCCESS;
    }
    DWORD error = ClassifyEntry(profile);
    if (error != ERROR_SUCCESS || profile->verdict != ProfileVerdict::Usable) {
        return error;
    }
    return ClassifyFolder(profile);
}

const wchar_t* ProfileVerdictName(ProfileVerdict verdict) {
    switch (verdict) {
        case ProfileVerdict::Usable:
            return L"usable";
        case ProfileVerdict::NotASid:
            return L"not-a-sid";
        case ProfileVerdict::SpecialSid:
            return L"special-sid";
        case ProfileVerdict::NoProfileEntry:
            return L"no-profile";
        case ProfileVerdict::BackupEntry:
            return L"backup-profile";
        case ProfileVerdict::TemporaryProfile:
            return L"temporary-profile";
        case ProfileVerdict::MandatoryProfile:
            return L"mandatory-profile";
        case ProfileVerdict::FolderMissing:
            return L"folder-missing";
        case ProfileVerdict::HiveFileMissing:
            return L"hive-file-missing";
    }
    return L"unknown";
}
