// The folder a backup goes into, made so that only administrators control
// it: an administrator later imports the file into HKLM, so whoever can plant
// or swap a file there could write keys with an administrator's hand.
#pragma once

#include <windows.h>

#include <string>

// SYSTEM and Administrators full control, nobody else anything, nothing
// inherited: given to every folder keymendc creates and to the backup file.
constexpr wchar_t kFolderOnlyAdministrators[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
constexpr wchar_t kFileOnlyAdministrators[] = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)";

// Creates every missing level of folder with the protected DACL above and
// checks every level that exists: none may be a reparse point, none may let
// anyone but SYSTEM, Administrators, TrustedInstaller or the user running
// keymendc replace what it holds, and the folder itself may let nobody else
// write. Returns 0 and the full path, or the error with a reason for people.
[[nodiscard]] DWORD PrepareBackupFolder(const std::wstring& folder, std::wstring* fullPath,
                                        std::wstring* reason);
