#include "support/win32_user_root.h"

#include <windows.h>

#include "support/test_paths.h"

namespace {

// The load and the unload need both; a test process of an administrator has them.
void EnableHivePrivileges() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) {
        return;
    }
    for (const char* name : {"SeRestorePrivilege", "SeBackupPrivilege"}) {
        TOKEN_PRIVILEGES wanted{1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
        if (LookupPrivilegeValueA(nullptr, name, &wanted.Privileges[0].Luid)) {
            AdjustTokenPrivileges(token, FALSE, &wanted, 0, nullptr, nullptr);
        }
    }
    CloseHandle(token);
}

std::string HiveFile(const std::string& name) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    return std::string(temp) + "keymend-test-hive-" + name;
}

}  // namespace

bool IsLoadedUserRoot(RegKey root, const std::string& path) {
    return !IsWine() && root == HKEY_USERS_ROOT && !path.empty() &&
           path.find('\\') == std::string::npos;
}

RegResult LoadUserRoot(const std::string& name) {
    EnableHivePrivileges();
    std::string file = HiveFile(name);
    DeleteFileA(file.c_str());  // left by a run that was stopped
    return static_cast<RegResult>(RegLoadKeyA(HKEY_USERS, name.c_str(), file.c_str()));
}

RegResult UnloadUserRoot(const std::string& name) {
    HKEY key = nullptr;
    LONG opened = RegOpenKeyExA(HKEY_USERS, name.c_str(), 0, KEY_READ, &key);
    if (opened == ERROR_SUCCESS) {
        RegCloseKey(key);
        EnableHivePrivileges();
        LONG result = RegUnLoadKeyA(HKEY_USERS, name.c_str());
        if (result != ERROR_SUCCESS) {
            return static_cast<RegResult>(result);
        }
    } else if (opened != ERROR_FILE_NOT_FOUND) {
        return static_cast<RegResult>(opened);
    }
    std::string file = HiveFile(name);
    for (const char* suffix : {"", ".LOG", ".LOG1", ".LOG2"}) {
        DeleteFileA((file + suffix).c_str());
    }
    return REG_OK;
}
