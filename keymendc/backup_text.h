// A registry key tree as regedit's Version 5 export writes it, read through
// the wide registry calls so that names and data come out exactly as stored.
#pragma once

#include <windows.h>

#include <string>

// The file's first line and the blank line after it.
constexpr wchar_t kBackupHeader[] = L"Windows Registry Editor Version 5.00\r\n\r\n";

// Appends rootName\path and everything below it to text: each key as a
// [header], its values, a blank line. A key or value that cannot be read
// whole, or whose name holds a NUL (ERROR_INVALID_NAME), ends the walk with
// its error code; text then holds a part only.
[[nodiscard]] LONG AppendKeyTree(HKEY root, const wchar_t* rootName, const std::wstring& path,
                                 std::wstring* text);

// One value line (with its CRLF) as regedit writes it: REG_SZ quoted where
// the quotes give back the same bytes, dword: for four-byte REG_DWORD,
// hex: for REG_BINARY and hex(type): for everything else.
std::wstring ValueLine(const std::wstring& name, DWORD type, const BYTE* data, DWORD size);
