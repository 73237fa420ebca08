#pragma once

#include "registry.h"

// Deletes root\path with every subkey below it, children in enumeration
// order, each whole subtree before the next. Returns 0 when the whole tree is
// gone; 87 for a path without a backslash or longer than 255 characters
// (nothing touched); otherwise the code of the failed parent open, key open
// or final delete. Deletions made before a failure stay made. A child that
// survives its own deletion ends the walk: the key is then left in place.
// Every key it opens is closed before it returns.
[[nodiscard]] RegResult DeleteKeyRepeat(RegKey root, const char* path);
