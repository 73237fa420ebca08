// Who besides administrators may change an existing folder.
#pragma once

#include <windows.h>

#include <string>

#include "administrators_only.h"

// Rights that let someone put a file of their own into a folder
// (protected_folder.def, which the deployment scripts share).
constexpr DWORD kWriteRights = 0
#define WRITE_RIGHT(mask, what) | (mask)
#include "protected_folder.def"
    ;
// Rights that let someone rename or delete what a folder holds, or change
// who may.
constexpr DWORD kReplaceRights = FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL;

// 0 when the folder's owner is trusted and no allow entry that applies to
// the folder itself grants anyone else any of rights; otherwise the error
// of reading the security, or ERROR_ACCESS_DENIED with who may.
[[nodiscard]] DWORD CheckFolderIsAdministrators(const std::wstring& folder, DWORD rights,
                                                std::wstring* who);
