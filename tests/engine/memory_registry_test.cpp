// The stand-in must answer as the real registry does, or scenarios that pass
// here would fail on Windows.
#include "memory/memory_registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

class MemoryRegistryTest : public ::testing::Test {
  protected:
    void SetUp() override { UseMemoryRegistry(&registry); }
    void TearDown() override { UseMemoryRegistry(nullptr); }

    std::vector<std::string> Enumerate(const char* path) {
        std::vector<std::string> names;
        RegKey key = 0;
        EXPECT_EQ(RegistryOpenKey(HKEY_LOCAL_MACHINE_ROOT, path, ACCESS_KEY_READ, &key), REG_OK);
        char name[300];
        for (std::uint32_t i = 0;; ++i) {
            std::uint32_t chars = sizeof name;
            std::uint32_t classChars = 0;
            RegResult result = RegistryEnumKey(key, i, name, &chars, nullptr, &classChars);
            if (result != REG_OK) {
                EXPECT_EQ(result, REG_ERROR_NO_MORE_ITEMS);
                break;
            }
            EXPECT_EQ(chars, std::string(name).size());
            names.push_back(name);
        }
        RegistryCloseKey(key);
        return names;
    }

    MemoryRegistry registry;
};

TEST_F(MemoryRegistryTest, EnumeratesInWindowsOrderAndFindsWithoutRegardToCase) {
    for (const char* name : {"beta", "Alpha", "a_b", "aB", "ALPHA2", "1"}) {
        registry.CreatePath(HKEY_LOCAL_MACHINE_ROOT, std::string("Top\\") + name);
    }
    // Upper-cased comparison puts '_' after letters, as Windows does.
    EXPECT_EQ(Enumerate("Top"),
              (std::vector<std::string>{"1", "aB", "Alpha", "ALPHA2", "a_b", "beta"}));
    EXPECT_NE(registry.FindPath(HKEY_LOCAL_MACHINE_ROOT, "TOP\\BETA"), MemoryRegistry::kNoNode);
    EXPECT_EQ(registry.CreatePath(HKEY_LOCAL_MACHINE_ROOT, "top\\ALPHA"),
              registry.FindPath(HKEY_LOCAL_MACHINE_ROOT, "Top\\Alpha"));
    EXPECT_EQ(registry.KeyCount(), 7u);
}

TEST_F(MemoryRegistryTest, DeletionRefusesKeysWithSubkeysAndShiftsIndexes) {
    registry.CreatePath(HKEY_LOCAL_MACHINE_ROOT, "Top\\A\\Deep");
    registry.CreatePath(HKEY_LOCAL_MACHINE_ROOT, "Top\\B");
    registry.CreatePath(HKEY_LOCAL_MACHINE_ROOT, "Top\\C");
    RegKey top = 0;
    ASSERT_EQ(RegistryOpenKey(HKEY_LOCAL_MACHINE_ROOT, "Top", ACCESS_KEY_WRITE, &top), REG_OK);
    EXPECT_EQ(RegistryDeleteKey(top, "A"), REG_ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegistryDeleteKey(top, "Missing"), REG_ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegistryDeleteKey(top, "A\\Deep"), REG_OK);
    EXPECT_EQ(RegistryDeleteKey(top, "a"), REG_OK);
    EXPECT_EQ(Enumerate("Top"), (std::vector<std::string>{"B", "C"}));
    EXPECT_EQ(RegistryDeleteKey(top, "C"), REG_OK);
    EXPECT_EQ(Enumerate("Top"), (std::vector<std::string>{"B"}));
    RegistryCloseKey(top);
    EXPECT_EQ(registry.OpenHandleCount(), 0u);
}

TEST_F(MemoryRegistryTest, HandlesCheckRightsAndOutliveTheirKeyAsDeleted) {
    auto node = registry.CreatePath(HKEY_LOCAL_MACHINE_ROOT, "Top\\Locked");
    registry.SetValue(node, "V", REG_TYPE_SZ, std::string("x\0", 2));
    registry.SetAllowedAccess(node, ACCESS_KEY_READ);
    RegKey key = 0;
    EXPECT_EQ(RegistryOpenKey(HKEY_LOCAL_MACHINE_ROOT, "Top\\Locked", ACCESS_KEY_WRITE, &key),
              REG_ERROR_ACCESS_DENIED);
    EXPECT_EQ(key, 0u);
    ASSERT_EQ(RegistryOpenKey(HKEY_LOCAL_MACHINE_ROOT, "Top\\Locked", ACCESS_KEY_READ, &key),
              REG_OK);
    EXPECT_EQ(registry.OpenHandleCount(), 1u);
    RegKey top = 0;
    ASSERT_EQ(RegistryOpenKey(HKEY_LOCAL_MACHINE_ROOT, "Top", ACCESS_KEY_WRITE, &top), REG_OK);
    // No DELETE right on the key: refused, as for a non-administrator.
    EXPECT_EQ(RegistryDeleteKey(top, "Locked"), REG_ERROR_ACCESS_DENIED);
    registry.SetAllowedAccess(node, ACCESS_KEY_ALL);
    EXPECT_EQ(RegistryDeleteKey(top, "Locked"), REG_OK);
    std::uint32_t size = 4;
    unsigned char data[4];
    EXPECT_EQ(RegistryQueryValue(key, "V", nullptr, data, &size), REG_ERROR_KEY_DELETED);
    RegistryCloseKey(key);
    RegistryCloseKey(top);
    RegistryCloseKey(top);  // a second close changes nothing
    EXPECT_EQ(registry.OpenHandleCount(), 0u);
    std::uint32_t chars = 10;
    char name[10];
    EXPECT_EQ(RegistryEnumKey(key, 0, name, &chars, nullptr, nullptr), REG_ERROR_INVALID_HANDLE);
}

TEST_F(MemoryRegistryTest, NamesAndDataThatDoNotFitAskForMore) {
    std::string name119(119, 'n');
    auto node = registry.CreatePath(HKEY_LOCAL_MACHINE_ROOT, "Top\\" + name119);
    registry.SetValue(node, "Value", REG_TYPE_SZ, std::string(300, 'd'));
    RegKey top = 0;
    ASSERT_EQ(RegistryOpenKey(HKEY_LOCAL_MACHINE_ROOT, "Top", ACCESS_KEY_READ, &top), REG_OK);
    char buffer[300];
    std::uint32_t chars = 119;
    EXPECT_EQ(RegistryEnumKey(top, 0, buffer, &chars, nullptr, nullptr), REG_ERROR_MORE_DATA);
    chars = 120;
    EXPECT_EQ(RegistryEnumKey(top, 0, buffer, &chars, nullptr, nullptr), REG_OK);
    EXPECT_EQ(chars, 119u);
    RegKey key = 0;
    ASSERT_EQ(RegistryOpenKey(top, name119.c_str(), ACCESS_KEY_READ, &key), REG_OK);
    std::uint32_t size = 256;
    std::uint32_t type = 0;
    EXPECT_EQ(
        RegistryQueryValue(key, "value", &type, reinterpret_cast<unsigned char*>(buffer), &size),
        REG_ERROR_MORE_DATA);
    EXPECT_EQ(size, 300u);
    EXPECT_EQ(
        RegistryQueryValue(key, "Absent", &type, reinterpret_cast<unsigned char*>(buffer), &size),
        REG_ERROR_FILE_NOT_FOUND);
    RegistryCloseKey(key);
    RegistryCloseKey(top);
}

// RegQueryValueExA ends string data that lacks a NUL with one when the
// buffer has room, without counting it; other types and full buffers are
// left as they are.
TEST_F(MemoryRegistryTest, UnterminatedStringsGetANulWhenTheBufferHasRoom) {
    auto node = registry.CreatePath(HKEY_LOCAL_MACHINE_ROOT, "Top");
    registry.SetValue(node, "Text", REG_TYPE_SZ, "abc");
    registry.SetValue(node, "Expand", REG_TYPE_EXPAND_SZ, "abc");
    registry.SetValue(node, "Multi", REG_TYPE_MULTI_SZ, "abc");
    registry.SetValue(node, "Bytes", REG_TYPE_BINARY, "abc");
    registry.SetValue(node, "Empty", REG_TYPE_SZ, "");
    RegKey key = 0;
    ASSERT_EQ(RegistryOpenKey(HKEY_LOCAL_MACHINE_ROOT, "Top", ACCESS_KEY_READ, &key), REG_OK);
    auto query = [&](const char* name, std::uint32_t capacity) {
        unsigned char data[8];
        std::fill(std::begin(data), std::end(data), static_cast<unsigned char>(0xCC));
        std::uint32_t size = capacity;
        EXPECT_EQ(RegistryQueryValue(key, name, nullptr, data, &size), REG_OK) << name;
        return std::string(reinterpret_cast<char*>(data), size) + "|" + std::to_string(data[size]);
    };
    EXPECT_EQ(query("Text", 3), "abc|204");
    EXPECT_EQ(query("Text", 4), "abc|0");
    EXPECT_EQ(query("Expand", 8), "abc|0");
    EXPECT_EQ(query("Multi", 8), "abc|0");
    EXPECT_EQ(query("Bytes", 8), "abc|204");
    EXPECT_EQ(query("Empty", 8), "|204");
    RegistryCloseKey(key);
}

TEST_F(MemoryRegistryTest, InjectedFailureHitsOnlyTheNthCallOfItsOperation) {
    registry.CreatePath(HKEY_LOCAL_MACHINE_ROOT, "Top");
    registry.InjectFailure(RegOperation::Open, 2, 1234);
    RegKey key = 0;
    ASSERT_EQ(RegistryOpenKey(HKEY_LOCAL_MACHINE_ROOT, "Top", ACCESS_KEY_READ, &key), REG_OK);
    RegistryCloseKey(key);
    key = 0;
    EXPECT_EQ(RegistryOpenKey(HKEY_LOCAL_MACHINE_ROOT, "Top", ACCESS_KEY_READ, &key), 1234u);
    EXPECT_EQ(key, 0u);
    ASSERT_EQ(RegistryOpenKey(HKEY_LOCAL_MACHINE_ROOT, "Top", ACCESS_KEY_READ, &key), REG_OK);
    RegistryCloseKey(key);
    EXPECT_EQ(registry.CallCount(RegOperation::Open), 3u);
    EXPECT_EQ(registry.OpenHandleCount(), 0u);
}

TEST_F(MemoryRegistryTest, WideKeysStayFastAndOrderedThroughDeletion) {
    // Inserted in reverse: enumeration must sort them all the same.
    for (int i = 20000; i-- > 0;) {
        registry.CreatePath(HKEY_LOCAL_MACHINE_ROOT, "Wide\\K" + std::to_string(100000 + i));
    }
    RegKey wide = 0;
    ASSERT_EQ(RegistryOpenKey(HKEY_LOCAL_MACHINE_ROOT, "Wide", ACCESS_KEY_ALL, &wide), REG_OK);
    char name[32];
    for (int i = 0; i < 20000; ++i) {
        std::uint32_t chars = sizeof name;
        ASSERT_EQ(RegistryEnumKey(wide, 0, name, &chars, nullptr, nullptr), REG_OK);
        ASSERT_EQ(std::string(name), "K" + std::to_string(100000 + i));
        ASSERT_EQ(RegistryDeleteKey(wide, name), REG_OK);
    }
    std::uint32_t chars = sizeof name;
    EXPECT_EQ(RegistryEnumKey(wide, 0, name, &chars, nullptr, nullptr), REG_ERROR_NO_MORE_ITEMS);
    RegistryCloseKey(wide);
    EXPECT_EQ(registry.KeyCount(), 1u);
}

}  // namespace
