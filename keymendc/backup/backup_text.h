// A registry key tree as regedit's Version 5 export writes it, read through
// the wide registry calls so that names and data come out exactly as stored.
#pragma once

#include <windows.h>

#include <string>

// The file's first line and the blank line after it.
constexpr wchar_t kBackupHeader[] = L"Windows Registry Editor Version 5.00\r\n\r\n";

// Appends rootedKey ("HKEY_USERS\..." or "HKEY_LOCAL_MACHINE\...") and
// everything below it to text: each key as a [header], its values, a blank
// line. A key or value that cannot be read whole, or whose name a registry
// file cannot hold (a NUL, CR or LF in it: ERROR_INVALID_NAME), ends the walk
// with its error code and *failedKey naming the key; text then holds a part
// only. Every key is opened as key_as_named.h opens it: a registry link
// (which a registry file cannot hold either) is never read through, and ends
// the walk with kErrorStoppedOnLink, *failedKey naming the link.
[[nodiscard]] LONG AppendKeyTree(const std::wstring& rootedKey, std::wstring* text,
                                 std::wstring* failedKey);

// One value line (with its CRLF) as regedit writes it: REG_SZ quoted where
// the quotes give back the same bytes, dword: for four-byte REG_DWORD,
// hex: for REG_BINARY and hex(type): for everything else.
std::wstring ValueLine(const std::wstring& name, DWORD type, const BYTE* data, DWORD size);
