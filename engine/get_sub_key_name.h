#pragma once

#include <cstdint>

#include "registry.h"

// The subkey's name holds a NUL: its 8-bit text names another key or none,
// and the key itself cannot be opened or deleted by name.
constexpr RegResult SUBKEY_NAME_UNUSABLE = 123;  // ERROR_INVALID_NAME

// Reads the name of the subkey at index into name (capacity characters,
// terminated on success). Reports every enumeration result other than 0 and
// ERROR_NO_MORE_ITEMS in diagnostic mode, and returns it unchanged. A name
// whose enumerated length differs from the length of its text is returned as
// SUBKEY_NAME_UNUSABLE, unreported; *nameLength (if given) then holds the
// enumerated length.
[[nodiscard]] RegResult GetSubKeyName(RegKey key, std::uint32_t index, char* name,
                                      std::uint32_t capacity, std::uint32_t* nameLength = nullptr);
