// The key we act on is the key we named. A registry link (a key created with
// REG_OPTION_CREATE_LINK, whose SymbolicLinkValue names another key) sends
// every open that passes through it to its target, and a user may plant one
// in their own registry, which both programs change with administrator
// rights. These calls never pass through a link, whatever the kernel allows.
#pragma once

#include <windows.h>

// Not in mingw-w64's winerror.h.
constexpr LONG kErrorStoppedOnLink = 681;  // ERROR_STOPPED_ON_SYMLINK

// RegOpenKeyEx of root\path with REG_OPTION_OPEN_LINK, so that a link as the
// last component is opened as itself, then held to its name: the kernel's
// name of the key opened must be root's name, a backslash and path, ignoring
// case, or a link earlier on the path was followed. When access includes
// KEY_QUERY_VALUE, a key that is itself a link (it holds SymbolicLinkValue of
// type REG_LINK) is refused too. root is HKEY_USERS, HKEY_LOCAL_MACHINE or an
// open key. A refusal closes the key and answers kErrorStoppedOnLink; on any
// failure *key is left untouched.
[[nodiscard]] LONG OpenKeyAsNamedA(HKEY root, const char* path, REGSAM access, HKEY* key);
[[nodiscard]] LONG OpenKeyAsNamedW(HKEY root, const wchar_t* path, REGSAM access, HKEY* key);

// Deletes the subkey child of parent as itself: opened as OpenKeyAsNamedA
// opens it, for DELETE alone, and deleted through that handle, so that a link
// goes and never its target, and the name is looked up once. Answers what
// RegDeleteKeyA would (5 while the key has subkeys), or kErrorStoppedOnLink.
[[nodiscard]] LONG DeleteKeyAsNamedA(HKEY parent, const char* child);
