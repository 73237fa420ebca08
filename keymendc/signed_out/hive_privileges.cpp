#include "hive_privileges.h"

#include <cstddef>

static_assert(offsetof(TOKEN_PRIVILEGES, Privileges) == sizeof(DWORD),
              "TwoPrivileges must lay out as TOKEN_PRIVILEGES");

namespace {

DWORD OpenActingToken(HANDLE* token) {
    const DWORD access = TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY;
    if (OpenThreadToken(GetCurrentThread(), access, TRUE, token)) {
        return ERROR_SUCCESS;
    }
    if (GetLastError() != ERROR_NO_TOKEN) {
        return GetLastError();
    }
    return OpenProcessToken(GetCurrentProcess(), access, token) ? ERROR_SUCCESS : GetLastError();
}

}  // namespace

HivePrivileges::~HivePrivileges() {
    if (token_ == nullptr) {
        return;
    }
    if (previous_.PrivilegeCount != 0) {
        AdjustTokenPrivileges(token_, FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(&previous_), 0,
                              nullptr, nullptr);
    }
    CloseHandle(token_);
}

DWORD HivePrivileges::Enable() {
    if (token_ != nullptr) {
        return ERROR_INVALID_FUNCTION;
    }
    TwoPrivileges wanted{};
    wanted.PrivilegeCount = 2;
    if (!LookupPrivilegeValueW(nullptr, L"SeRestorePrivilege", &wanted.Privileges[0].Luid) ||
        !LookupPrivilegeValueW(nullptr, L"SeBackupPrivilege", &wanted.Privileges[1].Luid)) {
        return GetLastError();
    }
    wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    wanted.Privileges[1].Attributes = SE_PRIVILEGE_ENABLED;
    DWORD error = OpenActingToken(&token_);
    if (error != ERROR_SUCCESS) {
        token_ = nullptr;
        return error;
    }
    DWORD previousBytes = 0;
    SetLastError(ERROR_SUCCESS);
    BOOL adjusted = AdjustTokenPrivileges(
        token_, FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(&wanted), sizeof previous_,
        reinterpret_cast<TOKEN_PRIVILEGES*>(&previous_), &previousBytes);
    error = GetLastError();
    if (!adjusted) {
        previous_.PrivilegeCount = 0;
        return error;
    }
    return error == ERROR_NOT_ALL_ASSIGNED ? ERROR_PRIVILEGE_NOT_HELD : ERROR_SUCCESS;
}
