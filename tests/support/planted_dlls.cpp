#include "planted_dlls.h"

#include <windows.h>

#include "support/test_paths.h"
#include "support/utf8.h"

namespace {

// Loaded after start-up by a program like ours on Windows 7 to 11, and not
// KnownDLLs. bcrypt and rsaenh stand for the rest under Wine: its CryptoAPI
// loads them when keymendc hashes a backup.
const wchar_t* const kNames[] = {L"uxtheme", L"dwmapi",  L"cryptbase", L"cryptsp",
                                 L"profapi", L"propsys", L"bcrypt",    L"rsaenh"};

void EmptyFolder(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                DeleteFileW((folder + L"\\" + found.cFileName).c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
}

}  // namespace

PlantedDlls::PlantedDlls(const std::wstring& folder, const std::wstring& program)
    : folder_(folder) {
    CreateDirectoryW(folder.c_str(), nullptr);
    EmptyFolder(folder);
    std::wstring fileName = program.substr(program.find_last_of(L"\\/") + 1);
    program_ = folder + L"\\" + fileName;
    if (!CopyFileW(program.c_str(), program_.c_str(), FALSE)) {
        error_ = "cannot copy " + Utf8(program) + " into " + Utf8(folder);
        return;
    }
    // Windows looks in the program's folder first by itself; Wine must be told.
    HKEY overrides = nullptr;
    if (IsWine()) {
        appDefaults_ = L"Software\\Wine\\AppDefaults\\" + fileName;
        RegDeleteTreeW(HKEY_CURRENT_USER, appDefaults_.c_str());
        if (RegCreateKeyExW(HKEY_CURRENT_USER, (appDefaults_ + L"\\DllOverrides").c_str(), 0,
                            nullptr, 0, KEY_SET_VALUE, nullptr, &overrides,
                            nullptr) != ERROR_SUCCESS) {
            error_ = "cannot write Wine's DLL overrides";
            return;
        }
    }
    static const wchar_t kNativeFirst[] = L"native,builtin";
    for (const wchar_t* name : kNames) {
        std::wstring dll = folder + L"\\" + name + L".dll";
        if (!CopyFileW(TestPathW(LOAD_RECORDER_DLL).c_str(), dll.c_str(), FALSE)) {
            error_ = "cannot plant " + Utf8(dll);
        }
        if (overrides != nullptr) {
            RegSetValueExW(overrides, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(kNativeFirst),
                           sizeof kNativeFirst);
        }
    }
    if (overrides != nullptr) {
        RegCloseKey(overrides);
    }
}

PlantedDlls::~PlantedDlls() {
    if (!appDefaults_.empty()) {
        RegDeleteTreeW(HKEY_CURRENT_USER, appDefaults_.c_str());
    }
}

std::vector<std::string> PlantedDlls::Loaded() const {
    std::vector<std::string> loaded;
    for (const wchar_t* name : kNames) {
        std::wstring mark = folder_ + L"\\" + name + L".dll.loaded";
        if (GetFileAttributesW(mark.c_str()) != INVALID_FILE_ATTRIBUTES) {
            loaded.push_back(Utf8(name) + ".dll");
        }
    }
    return loaded;
}
