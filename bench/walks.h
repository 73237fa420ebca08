// Reference walks that measure what the engine's walk costs beyond the
// registry itself. Both go through the same registry operations as the
// engine, so they run on whichever provider the binary is linked with.
#pragma once

#include <cstdint>

#include "registry.h"

struct WalkCounts {
    std::uint64_t keys = 0;        // keys opened for enumeration
    std::uint64_t candidates = 0;  // "InstallProperties" keys read
};

// The cost floor of the search: a plain recursive depth-first walk making
// exactly the registry calls that the repair run prescribes, in the same
// order, and nothing else: per key the parent opened for writing and closed,
// the key opened for enumeration, one enumeration per subkey and the final
// one, the close; per candidate the "InstallProperties" open, its two reads
// and close, then detection's open of the product registration, its read
// and close. Detection accepts the candidate whose path equals acceptPath
// (null: none). Returns the search's result code.
RegResult FloorSearch(RegKey root, const char* path, const char* acceptPath, WalkCounts* counts);

// The repair run's calls: FloorSearch from the installer data key accepting
// dataPath, then the recursive deletion's calls for the product
// registration (under HKEY_USERS) and for dataPath. True when it deleted.
bool FloorRepair(const char* dataPath, const char* productPath, WalkCounts* counts);

// The recursive deletion's calls alone.
RegResult FloorDelete(RegKey root, const char* path);

// The least any walk can do: per key one open (relative to its parent's
// handle) and its enumerations, then the close.
RegResult MinimalWalk(RegKey root, const char* path, WalkCounts* counts);
