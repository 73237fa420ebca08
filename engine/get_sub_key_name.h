#pragma once

#include <cstdint>

#include "registry.h"

// Reads the name of the subkey at index into name (capacity characters,
// terminated on success). Reports every result other than 0 and
// ERROR_NO_MORE_ITEMS in diagnostic mode, and returns it unchanged.
[[nodiscard]] RegResult GetSubKeyName(RegKey key, std::uint32_t index, char* name,
                                      std::uint32_t capacity);
