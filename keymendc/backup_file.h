#pragma once

#include <windows.h>

#include <string>

// Writes the two key trees to one registry file in folder (created if it is
// missing, one level): "keymend-backup-<computer>-<local date and time>.reg",
// UTF-16LE with its byte order mark, as regedit exports. The file is written
// under a temporary name and renamed only once it is whole, so a failure
// never leaves a partial backup. Returns 0 and the file's path, or the
// error code of the step that failed.
[[nodiscard]] DWORD WriteBackupFile(const std::wstring& folder, HKEY productRoot,
                                    const std::wstring& productPath, HKEY dataRoot,
                                    const std::wstring& dataPath, std::wstring* file);

// The name regedit gives a predefined root key.
const wchar_t* RootName(HKEY root);
