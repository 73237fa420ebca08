#include "folder_security.h"

#include <aclapi.h>

#include "administrators_only.h"
#include "local_memory.h"

DWORD CheckFolderIsAdministrators(const std::wstring& folder, DWORD rights, std::wstring* who) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD result = GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT,
                                         OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                         &owner, nullptr, &dacl, nullptr, &descriptor);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    LocalMemory<> hold(descriptor);
    return CheckSecurityIsAdministrators(owner, dacl, rights, who);
}
