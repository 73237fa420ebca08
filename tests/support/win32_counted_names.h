// Key names that the 8-bit calls cannot spell: names holding a NUL, made and
// removed through ntdll with counted names, as a hiding tool would make them.
// Such keys are leaves here: nothing is written or read below them.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "registry.h"

// True for a name the 8-bit calls cannot reach.
inline bool IsCountedOnlyName(std::string_view name) {
    return name.find('\0') != std::string_view::npos;
}

// Creates the subkey name (8-bit bytes, NULs included) of parent.
RegResult CreateCountedKey(HKEY parent, std::string_view name);

// Deletes the subkey name of parent, which must have no subkeys.
RegResult DeleteCountedKey(HKEY parent, std::string_view name);

// The whole counted name of the subkey at index, as 8-bit bytes.
RegResult EnumCountedName(HKEY key, DWORD index, std::string* name);
