// A registry's keys and values frozen at one moment, so that the state
// before a repair and the state after it can be compared key by key. Keys
// match by name without regard to ASCII case, as the registry matches them.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "registry.h"

struct RegistryLocation {
    RegKey root = 0;
    std::string path;
};

struct SnapshotValue {
    std::string name;
    std::uint32_t type = 0;
    std::string data;

    bool operator==(const SnapshotValue& other) const {
        return name == other.name && type == other.type && data == other.data;
    }
};

struct SnapshotKey {
    std::string name;
    // The 8-bit calls cannot name the key: its name holds a NUL or
    // characters that the ANSI code page lacks (the name is then UTF-8).
    bool unspellable = false;
    std::vector<SnapshotValue> values;  // sorted by folded name
    // By folded name; the pointer keeps a key's address fixed for its life.
    std::map<std::string, std::unique_ptr<SnapshotKey>> subkeys;

    SnapshotKey* AddSubkey(std::string_view subkeyName);
    const SnapshotKey* Subkey(std::string_view subkeyName) const;
    void SortValues();
};

struct RegistrySnapshot {
    SnapshotKey machine;
    SnapshotKey users;

    const SnapshotKey* Root(RegKey root) const;
    SnapshotKey* Root(RegKey root);
    // As the registry resolves a path: empty components are skipped. Null
    // when a component is missing or the root is not one of the two.
    const SnapshotKey* Resolve(RegKey root, std::string_view path) const;
    std::size_t KeyCount() const;
};

std::string FoldName(std::string_view name);
std::string DescribeLocation(RegKey root, std::string_view path);
// Both snapshots hold the same keys with the same names and values.
bool SameSnapshot(const RegistrySnapshot& a, const RegistrySnapshot& b);
