#include "registry_snapshot.h"

#include <algorithm>

#include "ascii_case.h"

std::string FoldName(std::string_view name) {
    std::string folded(name);
    for (char& c : folded) {
        c = FoldAsciiCase(c);
    }
    return folded;
}

std::string DescribeLocation(RegKey root, std::string_view path) {
    std::string text = root == HKEY_LOCAL_MACHINE_ROOT ? "HKEY_LOCAL_MACHINE"
                       : root == HKEY_USERS_ROOT       ? "HKEY_USERS"
                                                       : "(root " + std::to_string(root) + ")";
    if (!path.empty()) {
        text += "\\";
        text += path;
    }
    return text;
}

SnapshotKey* SnapshotKey::AddSubkey(std::string_view subkeyName) {
    auto& slot = subkeys[FoldName(subkeyName)];
    if (!slot) {
        slot = std::make_unique<SnapshotKey>();
        slot->name = std::string(subkeyName);
    }
    return slot.get();
}

const SnapshotKey* SnapshotKey::Subkey(std::string_view subkeyName) const {
    auto it = subkeys.find(FoldName(subkeyName));
    return it == subkeys.end() ? nullptr : it->second.get();
}

void SnapshotKey::SortValues() {
    std::sort(values.begin(), values.end(), [](const SnapshotValue& a, const SnapshotValue& b) {
        return FoldName(a.name) < FoldName(b.name);
    });
}

const SnapshotKey* RegistrySnapshot::Root(RegKey root) const {
    return root == HKEY_LOCAL_MACHINE_ROOT ? &machine : root == HKEY_USERS_ROOT ? &users : nullptr;
}

SnapshotKey* RegistrySnapshot::Root(RegKey root) {
    return root == HKEY_LOCAL_MACHINE_ROOT ? &machine : root == HKEY_USERS_ROOT ? &users : nullptr;
}

const SnapshotKey* RegistrySnapshot::Resolve(RegKey root, std::string_view path) const {
    const SnapshotKey* key = Root(root);
    while (key != nullptr && !path.empty()) {
        std::size_t cut = path.find('\\');
        std::string_view name = path.substr(0, cut);
        if (!name.empty()) {
            key = key->Subkey(name);
        }
        path = cut == std::string_view::npos ? std::string_view() : path.substr(cut + 1);
    }
    return key;
}

namespace {

std::size_t CountKeys(const SnapshotKey& key) {
    std::size_t count = 1;
    for (const auto& entry : key.subkeys) {
        count += CountKeys(*entry.second);
    }
    return count;
}

bool SameKey(const SnapshotKey& a, const SnapshotKey& b) {
    if (a.name != b.name || a.values != b.values || a.subkeys.size() != b.subkeys.size()) {
        return false;
    }
    for (const auto& [folded, subkey] : a.subkeys) {
        auto other = b.subkeys.find(folded);
        if (other == b.subkeys.end() || !SameKey(*subkey, *other->second)) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::size_t RegistrySnapshot::KeyCount() const {
    return CountKeys(machine) + CountKeys(users) - 2;
}

bool SameSnapshot(const RegistrySnapshot& a, const RegistrySnapshot& b) {
    return SameKey(a.machine, b.machine) && SameKey(a.users, b.users);
}
