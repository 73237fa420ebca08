#pragma once

#include "registry.h"

// The search accepted its target (DetectTarget has filled RepairTargets).
constexpr RegResult SEARCH_FOUND = 314;

// Where the Windows Installer keeps its per-user data, under
// HKEY_LOCAL_MACHINE.
constexpr char kInstallerUserDataPath[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData";

// Walks root\path depth-first in pre-order and offers every key with an
// "InstallProperties" subkey to DetectTarget; stops at the first accepted.
// Returns SEARCH_FOUND, 0 when the walk ended without a find, 87 for a path
// without a backslash, or the code of a failed open of the start key or its
// parent. Reads only; every key it opens is closed before it returns.
[[nodiscard]] RegResult SearchKey(RegKey root, const char* path);
