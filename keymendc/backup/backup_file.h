#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "run_record.h"

// Appends the key trees (each "HKEY_USERS\..." or "HKEY_LOCAL_MACHINE\...")
// to text as a registry file holds them. Returns 0, or the error code with a
// reason in backup.
[[nodiscard]] DWORD AppendBackupTrees(const std::vector<std::wstring>& keys, std::wstring* text,
                                      BackupRecord* backup);

// Writes kBackupHeader and the trees' text to one registry file in folder:
// "keymend-backup-<computer>-<local date and time>.reg", UTF-16LE with its
// byte order mark, as regedit exports. The folder is prepared as
// PrepareBackupFolder says; the file gets a new name only (an existing file
// is never opened), the protected DACL, and is written under a temporary
// name, renamed once whole. Returns 0 and fills backup's file and SHA-256,
// or the error code with a reason.
[[nodiscard]] DWORD WriteBackupFile(const std::wstring& folder, const std::wstring& trees,
                                    BackupRecord* backup);
