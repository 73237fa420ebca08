#include "support/win32_live_area.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "ascii_case.h"
#include "memory/reg_file.h"
#include "support/win32_registry_mirror.h"

namespace {

constexpr char kLedgerPath[] = "wine_live_keys.txt";
constexpr char kOpenToAll[] = "D:(A;;KA;;;WD)";

bool IsBelowOrSame(const ScenarioKey& key, const ScenarioKey& top) {
    if (key.root != top.root || key.path.size() < top.path.size()) {
        return false;
    }
    std::string head = key.path.substr(0, top.path.size());
    return EqualsIgnoreAsciiCase(head.c_str(), top.path.c_str()) &&
           (key.path.size() == top.path.size() || top.path.empty() ||
            key.path[top.path.size()] == '\\');
}

std::string ParentPath(const std::string& path) {
    std::size_t cut = path.rfind('\\');
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

std::string Upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

void CopySorted(const MemoryRegistry& from, MemoryRegistry::NodeId source, MemoryRegistry& to,
                MemoryRegistry::NodeId target) {
    std::vector<MemoryRegistry::Value> values = from.Values(source);
    std::stable_sort(values.begin(), values.end(),
                     [](const MemoryRegistry::Value& a, const MemoryRegistry::Value& b) {
                         return Upper(a.name) < Upper(b.name);
                     });
    for (const MemoryRegistry::Value& value : values) {
        to.SetValue(target, value.name, value.type, value.data);
    }
    for (MemoryRegistry::NodeId child : from.Children(source)) {
        CopySorted(from, child, to, to.CreateKey(target, from.Name(child)));
    }
}

bool RecoverFromLedger(std::string* error) {
    std::ifstream ledger(kLedgerPath);
    if (!ledger) {
        return true;
    }
    bool recovered = true;
    std::string line;
    while (std::getline(ledger, line)) {
        std::istringstream fields(line);
        std::string kind;
        std::string keyText;
        std::string security;
        std::getline(fields, kind, '\t');
        std::getline(fields, keyText, '\t');
        std::getline(fields, security);
        ScenarioKey key;
        std::string message;
        if (!ParseRootedKey(keyText, &key)) {
            *error += "unreadable ledger line: " + line + "\n";
            recovered = false;
        } else if (kind == "tree" && ForceDeleteLiveTree(key.root, key.path, &message) != REG_OK) {
            *error += message + "\n";
            recovered = false;
        } else if (kind == "security") {
            RegResult result = SetLiveKeySecurity(key.root, key.path, security);
            if (result != REG_OK && result != REG_ERROR_FILE_NOT_FOUND) {
                *error += "cannot restore the security of " + keyText + "\n";
                recovered = false;
            }
        }
    }
    ledger.close();
    if (recovered) {
        std::remove(kLedgerPath);
    }
    return recovered;
}

class LedgerRecovery : public ::testing::Environment {
  public:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(RecoverFromLedger(&error)) << "keys left by an earlier run:\n" << error;
    }
};

[[maybe_unused]] ::testing::Environment* const kLedgerRecovery =
    ::testing::AddGlobalTestEnvironment(new LedgerRecovery);

}  // namespace

std::string CanonicalText(const MemoryRegistry& registry, const std::vector<ScenarioKey>& keys) {
    MemoryRegistry sorted;
    for (RegKey root : {HKEY_LOCAL_MACHINE_ROOT, HKEY_USERS_ROOT}) {
        CopySorted(registry, registry.RootNode(root), sorted, sorted.RootNode(root));
    }
    std::string text;
    for (const ScenarioKey& key : keys) {
        text += WriteRegFileSubtree(sorted, key.root, key.path, RegFileFormat::Regedit4);
    }
    return text;
}

LiveArea::~LiveArea() {
    std::string ignored;
    Remove(&ignored);
}

bool LiveArea::Seed(const MemoryRegistry& seed, std::string* error) {
    for (RegKey root : {HKEY_LOCAL_MACHINE_ROOT, HKEY_USERS_ROOT}) {
        if (!FindOwnKeys(seed, seed.RootNode(root), ScenarioKey{root, ""}, error)) {
            return false;
        }
    }
    if (!TakeSurroundings(&surroundingsBefore_, error) || !SaveLedger(error)) {
        return false;
    }
    active_ = true;
    for (const ScenarioKey& key : own_) {
        MemoryRegistry::NodeId node = seed.FindPath(key.root, key.path);
        if (WriteLiveTree(seed, node, key.root, key.path, error) != REG_OK) {
            return false;
        }
    }
    return true;
}

bool LiveArea::Restrict(const std::vector<ScenarioAccess>& access, std::string* error) {
    for (const ScenarioAccess& entry : access) {
        bool own = IsOwn(entry.key);
        if (!own) {
            Borrowed borrowed{entry.key, ""};
            if (GetLiveKeySecurity(entry.key.root, entry.key.path, &borrowed.security) != REG_OK) {
                *error = "allow: on a key that cannot be read: " + FormatRootedKey(entry.key);
                return false;
            }
            borrowed_.push_back(borrowed);
            if (!SaveLedger(error)) {
                return false;
            }
        }
        // Only the own keys get a new owner: without it Wine lets an owner
        // delete them whatever the DACL says, and the others are never deleted.
        if (RestrictLiveKey(entry.key.root, entry.key.path, entry.allowed, own) != REG_OK) {
            *error = "cannot restrict " + FormatRootedKey(entry.key);
            return false;
        }
        restricted_.push_back(entry.key);
    }
    return true;
}

bool LiveArea::LiftRestrictions(std::string* error) {
    bool lifted = true;
    for (const ScenarioKey& key : restricted_) {
        if (!IsOwn(key)) {
            continue;
        }
        RegResult result = SetLiveKeyDacl(key.root, key.path, kOpenToAll);
        if (result != REG_OK && result != REG_ERROR_FILE_NOT_FOUND) {
            *error += "cannot lift the restriction on " + FormatRootedKey(key) + "\n";
            lifted = false;
        }
    }
    restricted_.clear();
    for (const Borrowed& borrowed : borrowed_) {
        if (SetLiveKeySecurity(borrowed.key.root, borrowed.key.path, borrowed.security) != REG_OK) {
            *error += "cannot restore the security of " + FormatRootedKey(borrowed.key) + "\n";
            lifted = false;
        }
    }
    return lifted;
}

bool LiveArea::ReadBack(MemoryRegistry& into, std::vector<std::string>* orderErrors,
                        std::string* error) const {
    for (const ScenarioKey& key : own_) {
        if (ReadLiveTree(key.root, key.path, into, kWholeTree, orderErrors, error) != REG_OK) {
            return false;
        }
    }
    return true;
}

std::string LiveArea::Text(const MemoryRegistry& registry) const {
    return CanonicalText(registry, own_);
}

bool LiveArea::Remove(std::string* error) {
    if (!active_) {
        return true;
    }
    bool removed = LiftRestrictions(error);
    for (const ScenarioKey& key : own_) {
        std::string message;
        if (ForceDeleteLiveTree(key.root, key.path, &message) != REG_OK) {
            *error += message + "\n";
            removed = false;
        }
    }
    std::string surroundings;
    if (!TakeSurroundings(&surroundings, error)) {
        removed = false;
    } else if (surroundings != surroundingsBefore_) {
        *error += "changed beside the test's own keys:\nbefore:\n" + surroundingsBefore_ +
                  "after:\n" + surroundings;
        removed = false;
    }
    for (const Borrowed& borrowed : borrowed_) {
        std::string security;
        GetLiveKeySecurity(borrowed.key.root, borrowed.key.path, &security);
        if (security != borrowed.security) {
            *error += "security of " + FormatRootedKey(borrowed.key) + " was " + borrowed.security +
                      ", is " + security + "\n";
            removed = false;
        }
    }
    if (removed) {
        std::remove(kLedgerPath);
        active_ = false;
    }
    return removed;
}

bool LiveArea::FindOwnKeys(const MemoryRegistry& seed, MemoryRegistry::NodeId node,
                           const ScenarioKey& key, std::string* error) {
    if (!seed.Values(node).empty()) {
        *error = "values on a key that exists already: " + FormatRootedKey(key);
        return false;
    }
    for (MemoryRegistry::NodeId child : seed.Children(node)) {
        std::string name(seed.Name(child));
        ScenarioKey childKey{key.root, key.path.empty() ? name : key.path + "\\" + name};
        if (!LiveKeyExists(childKey.root, childKey.path)) {
            own_.push_back(childKey);
        } else if (!FindOwnKeys(seed, child, childKey, error)) {
            return false;
        }
    }
    return true;
}

bool LiveArea::IsOwn(const ScenarioKey& key) const {
    return std::any_of(own_.begin(), own_.end(),
                       [&](const ScenarioKey& top) { return IsBelowOrSame(key, top); });
}

bool LiveArea::TakeSurroundings(std::string* text, std::string* error) const {
    MemoryRegistry around;
    std::vector<ScenarioKey> parents;
    for (const ScenarioKey& key : own_) {
        ScenarioKey parent{key.root, ParentPath(key.path)};
        if (ReadLiveTree(parent.root, parent.path, around, 0, nullptr, error) != REG_OK) {
            return false;
        }
        parents.push_back(parent);
    }
    *text = CanonicalText(around, parents);
    return true;
}

bool LiveArea::SaveLedger(std::string* error) const {
    std::ofstream ledger(kLedgerPath, std::ios::trunc);
    for (const ScenarioKey& key : own_) {
        ledger << "tree\t" << FormatRootedKey(key) << "\n";
    }
    for (const Borrowed& borrowed : borrowed_) {
        ledger << "security\t" << FormatRootedKey(borrowed.key) << "\t" << borrowed.security
               << "\n";
    }
    ledger.close();
    if (!ledger) {
        *error = std::string("cannot write ") + kLedgerPath;
        return false;
    }
    return true;
}
