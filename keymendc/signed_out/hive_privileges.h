// SeRestorePrivilege and SeBackupPrivilege, which loading and unloading a
// hive require, enabled for one scope only.
//
// Enable() works on the token the calling thread acts with: its
// impersonation token if it has one, else the process token (keymendc does
// not impersonate, so in practice the process token; a token other than the
// one the checks use would make enabling pointless). It checks that both
// were granted: AdjustTokenPrivileges succeeds without granting a privilege
// the token lacks (GetLastError() == ERROR_NOT_ALL_ASSIGNED), and Enable then
// returns ERROR_PRIVILEGE_NOT_HELD. The destructor sets back whatever Enable
// changed, on every path, also after a refusal; a privilege that was enabled
// before stays enabled.
#pragma once

#include <windows.h>

class HivePrivileges {
  public:
    HivePrivileges() = default;
    ~HivePrivileges();
    HivePrivileges(const HivePrivileges&) = delete;
    HivePrivileges& operator=(const HivePrivileges&) = delete;

    // Once per scope; a second call returns ERROR_INVALID_FUNCTION.
    [[nodiscard]] DWORD Enable();

  private:
    // TOKEN_PRIVILEGES with room for the two.
    struct TwoPrivileges {
        DWORD PrivilegeCount;
        LUID_AND_ATTRIBUTES Privileges[2];
    };

    HANDLE token_ = nullptr;
    TwoPrivileges previous_{};
};
