// The in-memory registry keeps pools, slices, a probing hash table and two
// caches in step with one another; any slip shows up as a wrong answer much
// later. So random operations run against it and against a plain model, and
// every answer is compared.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "memory/memory_registry.h"

namespace {

std::string Upper(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 32);
    }
    return upper;
}

// Keys by their upper-cased names: std::map order is enumeration order.
struct ModelKey {
    std::string name;
    std::map<std::string, std::unique_ptr<ModelKey>> children;
    std::vector<MemoryRegistry::Value> values;

    MemoryRegistry::Value* FindValue(std::string_view wanted) {
        for (auto& value : values) {
            if (Upper(value.name) == Upper(wanted))
                return &value;
        }
        return nullptr;
    }
};

class ModelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        UseMemoryRegistry(&registry);
        registry.CreatePath(HKEY_LOCAL_MACHINE_ROOT, "R");
        model.name = "R";
    }
    void TearDown() override { UseMemoryRegistry(nullptr); }

    // A name from a small pool, so that paths collide often, in a random
    // letter case; '_' and '[' sort differently under upper and lower case.
    std::string RandomName() {
        static const char* const kNames[] = {"Alpha", "beta", "Gamma_1", "d[x]",
                                             "E",     "zz",   "ALPHA2",  "InstallProperties"};
        std::string name = kNames[Pick(std::size(kNames))];
        for (char& c : name) {
            if (Pick(4) == 0)
                c = Upper(std::string(1, c))[0];
            if (Pick(4) == 0 && c >= 'A' && c <= 'Z')
                c = static_cast<char>(c + 32);
        }
        return name;
    }

    std::vector<std::string> RandomPath(std::size_t maxDepth) {
        std::vector<std::string> names;
        std::size_t depth = 1 + Pick(maxDepth);
        for (std::size_t i = 0; i < depth; ++i)
            names.push_back(RandomName());
        return names;
    }

    // Path text under HKEY_LOCAL_MACHINE, now and then with doubled or
    // trailing backslashes, which name the same key.
    std::string Text(const std::vector<std::string>& names) {
        std::string text = "R";
        for (const std::string& name : names) {
            text += Pick(10) == 0 ? "\\\\" : "\\";
            text += name;
        }
        if (Pick(10) == 0)
            text += "\\";
        return text;
    }

    ModelKey* ModelFind(const std::vector<std::string>& names, std::size_t depth) {
        ModelKey* key = &model;
        for (std::size_t i = 0; i < depth && key != nullptr; ++i) {
            auto it = key->children.find(Upper(names[i]));
            key = it == key->children.end() ? nullptr : it->second.get();
        }
        return key;
    }

    std::size_t Pick(std::size_t bound) {
        return std::uniform_int_distribution<std::size_t>(0, bound - 1)(random);
    }

    void CheckTree(MemoryRegistry::NodeId node, const ModelKey& key, const std::string& path) {
        std::vector<MemoryRegistry::NodeId> children = registry.Children(node);
        ASSERT_EQ(children.size(), key.children.size()) << path;
        auto it = key.children.begin();
        for (MemoryRegistry::NodeId child : children) {
            ASSERT_EQ(registry.Name(child), it->second->name) << path;
            ASSERT_EQ(registry.Parent(child), node);
            CheckTree(child, *it->second, path + "\\" + it->second->name);
            ++it;
        }
        std::vector<MemoryRegistry::Value> values = registry.Values(node);
        ASSERT_EQ(values.size(), key.values.size()) << path;
        for (std::size_t i = 0; i < values.size(); ++i) {
            EXPECT_EQ(values[i].name, key.values[i].name) << path;
            EXPECT_EQ(values[i].type, key.values[i].type) << path;
            EXPECT_EQ(values[i].data, key.values[i].data) << path;
        }
    }

    std::size_t CountModel(const ModelKey& key) {
        std::size_t count = 1;
        for (const auto& [upper, child] : key.children)
            count += CountModel(*child);
        return count;
    }

    MemoryRegistry registry;
    ModelKey model;
    std::mt19937_64 random{20261207};
};

TEST_F(ModelTest, AnswersAsAPlainModelThroughRandomBuildingOpeningAndDeleting) {
    for (int step = 0; step < 40000; ++step) {
        std::vector<std::string> names = RandomPath(4);
        std::string text = Text(names);
        switch (Pick(9)) {
            case 0:
            case 1: {  // create
                registry.CreatePath(HKEY_LOCAL_MACHINE_ROOT, text);
                ModelKey* key = &model;
                for (const std::string& name : names) {
                    auto& slot = key->children[Upper(name)];
                    if (!slot) {
                        slot = std::make_unique<ModelKey>();
                        slot->name = name;
                    }
                    key = slot.get();
                }
                break;
            }
            case 2: {  // set a value, sometimes large
                ModelKey* key = ModelFind(names, names.size());
                if (key == nullptr)
                    break;
                std::string name = RandomName();
                std::string data(Pick(8) == 0 ? 2000 + Pick(3000) : Pick(40), 'v');
                for (char& c : data)
                    c = static_cast<char>(Pick(256));
                std::uint32_t type = static_cast<std::uint32_t>(Pick(5));
                registry.SetValue(registry.FindPath(HKEY_LOCAL_MACHINE_ROOT, text), name, type,
                                  data);
                if (MemoryRegistry::Value* value = key->FindValue(name)) {
                    value->type = type;
                    value->data = data;
                } else {
                    key->values.push_back({name, type, data});
                }
                break;
            }
            case 3: {  // remove a value
                ModelKey* key = ModelFind(names, names.size());
                if (key == nullptr)
                    break;
                std::string name = RandomName();
                bool removed =
                    registry.RemoveValue(registry.FindPath(HKEY_LOCAL_MACHINE_ROOT, text), name);
                MemoryRegistry::Value* value = key->FindValue(name);
                ASSERT_EQ(removed, value != nullptr);
                if (value != nullptr)
                    key->values.erase(key->values.begin() + (value - key->values.data()));
                break;
            }
            case 4: {  // delete through a handle of the parent
                std::string parentText =
                    Text(std::vector<std::string>(names.begin(), names.end() - 1));
                RegKey parent = 0;
                ModelKey* parentKey = ModelFind(names, names.size() - 1);
                RegResult opened = RegistryOpenKey(HKEY_LOCAL_MACHINE_ROOT, parentText.c_str(),
                                                   ACCESS_KEY_WRITE, &parent);
                ASSERT_EQ(opened == REG_OK, parentKey != nullptr) << parentText;
                if (opened != REG_OK)
                    break;
                if (Pick(2) == 0) {
                    // The key about to go is the deepest one resolved.
                    RegKey doomed = 0;
                    if (RegistryOpenKey(HKEY_LOCAL_MACHINE_ROOT, text.c_str(), ACCESS_KEY_READ,
                                        &doomed) == REG_OK) {
                        RegistryCloseKey(doomed);
                    }
                }
                RegResult result = RegistryDeleteKey(parent, names.back().c_str());
                ModelKey* key = ModelFind(names, names.size());
                RegResult expected = key == nullptr           ? REG_ERROR_FILE_NOT_FOUND
                                     : !key->children.empty() ? REG_ERROR_ACCESS_DENIED
                                                              : REG_OK;
                ASSERT_EQ(result, expected) << text;
                if (result == REG_OK) {
                    parentKey->children.erase(Upper(names.back()));
                    RegKey stale = 0;
                    ASSERT_EQ(RegistryOpenKey(HKEY_LOCAL_MACHINE_ROOT, text.c_str(),
                                              ACCESS_KEY_READ, &stale),
                              REG_ERROR_FILE_NOT_FOUND)
                        << text;
                }
                RegistryCloseKey(parent);
                break;
            }
            case 5: {  // remove a whole tree, now and then
                if (Pick(8) != 0)
                    break;
                MemoryRegistry::NodeId node = registry.FindPath(HKEY_LOCAL_MACHINE_ROOT, text);
                ModelKey* parentKey = ModelFind(names, names.size() - 1);
                ASSERT_EQ(node != MemoryRegistry::kNoNode,
                          ModelFind(names, names.size()) != nullptr);
                if (node == MemoryRegistry::kNoNode)
                    break;
                RegKey doomed = 0;
                ASSERT_EQ(RegistryOpenKey(HKEY_LOCAL_MACHINE_ROOT, text.c_str(), ACCESS_KEY_READ,
                                          &doomed),
                          REG_OK);
                RegistryCloseKey(doomed);
                registry.RemoveTree(node);
                parentKey->children.erase(Upper(names.back()));
                break;
            }
            default: {  // open, enumerate every subkey, read a value
                RegKey key = 0;
                ModelKey* modelKey = ModelFind(names, names.size());
                RegResult opened =
                    RegistryOpenKey(HKEY_LOCAL_MACHINE_ROOT, text.c_str(), ACCESS_KEY_READ, &key);
                ASSERT_EQ(opened, modelKey ? REG_OK : REG_ERROR_FILE_NOT_FOUND) << text;
                if (opened != REG_OK)
                    break;
                auto it = modelKey->children.begin();
                for (std::uint32_t index = 0;; ++index, ++it) {
                    char name[64];
                    std::uint32_t chars = sizeof name;
                    RegResult result = RegistryEnumKey(key, index, name, &chars, nullptr, nullptr);
                    if (result != REG_OK) {
                        ASSERT_EQ(result, REG_ERROR_NO_MORE_ITEMS);
                        ASSERT_EQ(it, modelKey->children.end()) << text;
                        break;
                    }
                    ASSERT_NE(it, modelKey->children.end()) << text;
                    ASSERT_EQ(std::string(name), it->second->name) << text;
                    // Delete what was just enumerated, then look for it again.
                    if (Pick(6) == 0 && it->second->children.empty()) {
                        ASSERT_EQ(RegistryDeleteKey(key, name), REG_OK);
                        std::string gone = text + "\\" + name;
                        RegKey stale = 0;
                        ASSERT_EQ(RegistryOpenKey(HKEY_LOCAL_MACHINE_ROOT, gone.c_str(),
                                                  ACCESS_KEY_READ, &stale),
                                  REG_ERROR_FILE_NOT_FOUND)
                            << gone;
                        modelKey->children.erase(it);
                        break;
                    }
                    // Open what was just enumerated, in another letter case.
                    if (Pick(2) == 0) {
                        RegKey child = 0;
                        std::string childPath = text + "\\" + Upper(name);
                        ASSERT_EQ(RegistryOpenKey(HKEY_LOCAL_MACHINE_ROOT, childPath.c_str(),
                                                  ACCESS_KEY_READ, &child),
                                  REG_OK)
                            << childPath;
                        RegistryCloseKey(child);
                    }
                }
                std::string valueName = RandomName();
                unsigned char data[8000];
                std::uint32_t size = sizeof data;
                std::uint32_t type = 0;
                RegResult read = RegistryQueryValue(key, valueName.c_str(), &type, data, &size);
                const MemoryRegistry::Value* value = modelKey->FindValue(valueName);
                ASSERT_EQ(read, value ? REG_OK : REG_ERROR_FILE_NOT_FOUND);
                if (value != nullptr) {
                    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), value->data);
                    EXPECT_EQ(type, value->type);
                }
                RegistryCloseKey(key);
                break;
            }
        }
        if (step % 4000 == 3999) {
            MemoryRegistry::NodeId root = registry.FindPath(HKEY_LOCAL_MACHINE_ROOT, "R");
            CheckTree(root, model, "R");
            ASSERT_EQ(registry.KeyCount(), CountModel(model));
            ASSERT_EQ(registry.OpenHandleCount(), 0u);
        }
    }
}

TEST_F(ModelTest, WideKeysSortLazilyAndLoseSubkeysAnywhere) {
    // Out of order, and from the middle, the end and the front.
    std::vector<int> order(3000);
    for (int i = 0; i < 3000; ++i)
        order[i] = (i * 7919) % 3000;
    MemoryRegistry::NodeId wide = registry.CreatePath(HKEY_LOCAL_MACHINE_ROOT, "R\\W");
    std::map<std::string, int> expected;
    for (int i : order) {
        std::string name = "k" + std::to_string(i);
        registry.CreateKey(wide, name);
        expected[Upper(name)] = i;
    }
    RegKey key = 0;
    ASSERT_EQ(RegistryOpenKey(HKEY_LOCAL_MACHINE_ROOT, "R\\W", ACCESS_KEY_ALL, &key), REG_OK);
    for (int round = 0; round < 2000; ++round) {
        auto it = expected.begin();
        std::advance(it, Pick(4) == 0 ? 0 : Pick(expected.size()));
        char name[32];
        std::uint32_t chars = sizeof name;
        ASSERT_EQ(RegistryEnumKey(key, 0, name, &chars, nullptr, nullptr), REG_OK);
        ASSERT_EQ(Upper(name), expected.begin()->first);
        std::string victim = "k" + std::to_string(it->second);
        ASSERT_EQ(RegistryDeleteKey(key, victim.c_str()), REG_OK) << victim;
        expected.erase(it);
        if (round % 97 == 0) {
            registry.CreateKey(wide, "k" + std::to_string(5000 + round));
            expected[Upper("k" + std::to_string(5000 + round))] = 5000 + round;
        }
    }
    std::vector<MemoryRegistry::NodeId> children = registry.Children(wide);
    ASSERT_EQ(children.size(), expected.size());
    auto it = expected.begin();
    for (MemoryRegistry::NodeId child : children) {
        EXPECT_EQ(Upper(registry.Name(child)), (it++)->first);
    }
    RegistryCloseKey(key);
}

TEST_F(ModelTest, ABuiltAndRemovedTreeLeavesOnlyItsKeySlotsBehind) {
    auto round = [this] {
        MemoryRegistry::NodeId top = registry.CreatePath(HKEY_LOCAL_MACHINE_ROOT, "R\\T");
        for (int i = 0; i < 2000; ++i) {
            MemoryRegistry::NodeId key = registry.CreateKey(top, "key" + std::to_string(i));
            registry.SetValue(key, "A", REG_TYPE_SZ, std::string(100, 'a'));
            registry.SetValue(key, "B", REG_TYPE_SZ, std::string(100, 'b'));
        }
        registry.RemoveTree(top);
    };
    for (int i = 0; i < 20; ++i)
        round();
    std::size_t early = registry.MemoryBytes();
    for (int i = 0; i < 20; ++i)
        round();
    // Key slots and names stay (ids are never reused): about 40 bytes a key.
    // Values and subkey lists are reclaimed: without that, 20 rounds would
    // add 20 * 2000 * 2 * (16 + 101) bytes, over 9 MB.
    EXPECT_LT(registry.MemoryBytes() - early, std::size_t{20} * 2000 * 80);
    EXPECT_EQ(registry.KeyCount(), 1u);
}

}  // namespace
