// A key directly below HKEY_USERS, which a test seeds for a user who does not
// exist. Windows lets nobody create one: there it is an empty hive loaded
// under that name, from a new file in the temporary folder (the load makes
// it), and unloaded at the end. Wine allows the plain key, and its loads read
// only its own format: there it stays an ordinary key.
#pragma once

#include <string>

#include "registry.h"

// Whether root\path names a key directly below HKEY_USERS on Windows.
[[nodiscard]] bool IsLoadedUserRoot(RegKey root, const std::string& path);

// Loads the empty hive of that name; REG_OK when it is loaded.
[[nodiscard]] RegResult LoadUserRoot(const std::string& name);

// Unloads it and deletes its files; REG_OK also when it was not loaded.
[[nodiscard]] RegResult UnloadUserRoot(const std::string& name);
