// The registry editor's text export format, read into and written from a
// MemoryRegistry, so that test states can be kept as .reg files and two
// registries compared as text.
//
// Names and string data are 8-bit, as the ANSI API returns them. Version 5
// files are UTF-16LE: characters above U+00FF read as '?'. Key names that are
// empty or contain LF cannot be expressed, and names over 255 characters are
// refused as Windows refuses them. Value names with CR, LF or NUL are written
// as \r, \n, \0, the only escapes besides \\ and \" that are read.
#pragma once

#include <string>
#include <string_view>

#include "memory_registry.h"

struct RegFileError {
    int line = 0;  // 1-based; 0 when the file could not be read at all
    std::string message;
};

enum class RegFileFormat { Regedit4, Version5 };

// Applies the file to registry: keys created, values set, "[-key]" deletes
// the tree, "name"=- removes a value. All or nothing: on a malformed file
// returns false with the line of the fault and leaves registry unchanged.
// error may be null.
bool LoadRegFile(MemoryRegistry& registry, std::string_view fileBytes, RegFileError* error);
bool LoadRegFileFromPath(MemoryRegistry& registry, const std::string& path, RegFileError* error);

// The whole registry, HKEY_LOCAL_MACHINE then HKEY_USERS, each key in
// enumeration order. The text is canonical: two registries are equal exactly
// when their texts are equal.
std::string WriteRegFile(const MemoryRegistry& registry, RegFileFormat format);
// The key at path under root and everything below it; a key that does not
// exist gives the header alone.
std::string WriteRegFileSubtree(const MemoryRegistry& registry, RegKey root, std::string_view path,
                                RegFileFormat format);
