// The in-memory registry must answer every call the engine makes as the real
// registry does, edge cases included: the same calls on the same keys, one
// registry against the other, results and every output compared.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>

#include "memory/reg_file.h"
#include "support/win32_live_area.h"

namespace {

// The engine's registry operations on one registry or the other.
class Calls {
  public:
    virtual ~Calls() = default;
    virtual RegResult Open(RegKey root, const char* path, std::uint32_t access, RegKey* key) = 0;
    virtual RegResult Enum(RegKey key, std::uint32_t index, char* name, std::uint32_t* nameChars,
                           char* className, std::uint32_t* classChars) = 0;
    virtual RegResult Query(RegKey key, const char* valueName, std::uint32_t* type,
                            unsigned char* data, std::uint32_t* size) = 0;
    virtual RegResult Delete(RegKey parent, const char* childName) = 0;
    virtual void Close(RegKey key) = 0;
};

class MemoryCalls : public Calls {
  public:
    explicit MemoryCalls(MemoryRegistry& registry) : registry_(registry) {}
    RegResult Open(RegKey root, const char* path, std::uint32_t access, RegKey* key) override {
        return registry_.Open(root, path, access, key);
    }
    RegResult Enum(RegKey key, std::uint32_t index, char* name, std::uint32_t* nameChars,
                   char* className, std::uint32_t* classChars) override {
        return registry_.Enum(key, index, name, nameChars, className, classChars);
    }
    RegResult Query(RegKey key, const char* valueName, std::uint32_t* type, unsigned char* data,
                    std::uint32_t* size) override {
        return registry_.Query(key, valueName, type, data, size);
    }
    RegResult Delete(RegKey parent, const char* childName) override {
        return registry_.Delete(parent, childName);
    }
    void Close(RegKey key) override { registry_.Close(key); }

  private:
    MemoryRegistry& registry_;
};

// Through the advapi32 provider the engine is linked with here.
class LiveCalls : public Calls {
  public:
    RegResult Open(RegKey root, const char* path, std::uint32_t access, RegKey* key) override {
        return RegistryOpenKey(root, path, access, key);
    }
    RegResult Enum(RegKey key, std::uint32_t index, char* name, std::uint32_t* nameChars,
                   char* className, std::uint32_t* classChars) override {
        return RegistryEnumKey(key, index, name, nameChars, className, classChars);
    }
    RegResult Query(RegKey key, const char* valueName, std::uint32_t* type, unsigned char* data,
                    std::uint32_t* size) override {
        return RegistryQueryValue(key, valueName, type, data, size);
    }
    RegResult Delete(RegKey parent, const char* childName) override {
        return RegistryDeleteKey(parent, childName);
    }
    void Close(RegKey key) override { RegistryCloseKey(key); }
};

constexpr char kArea[] = "SOFTWARE\\KeymendTest\\Agreement";
constexpr char kLocked[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\KeymendTest\\Agreement\\Locked";

constexpr char kSeed[] =
    "REGEDIT4\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KeymendTest\\Agreement\\Leaf]\r\n"
    "@=\"default\"\r\n"
    "\"Text\"=\"abc\"\r\n"
    "\"Unterminated\"=hex(1):61,62,63\r\n"
    "\"EmbeddedNul\"=hex(1):61,00,62,00\r\n"
    "\"Bytes\"=hex:01,02,03\r\n"
    "\"Number\"=dword:0000002a\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KeymendTest\\Agreement\\Parent\\Child]\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KeymendTest\\Agreement\\Locked]\r\n"
    "\"Text\"=\"abc\"\r\n";

std::string Path(const std::string& below) {
    return std::string(kArea) + "\\" + below;
}

std::string Hex(const unsigned char* bytes, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02x ", bytes[i]);
        text += pair;
    }
    return text;
}

std::string OpenResult(Calls& calls, RegKey root, const std::string& path, std::uint32_t access) {
    RegKey key = 0;
    RegResult result = calls.Open(root, path.c_str(), access, &key);
    if (result == REG_OK) {
        calls.Close(key);
    }
    return std::to_string(result);
}

// A query into a buffer of capacity bytes, pre-filled so that any byte the
// call writes beyond the value shows.
std::string QueryResult(Calls& calls, RegKey key, const char* valueName, std::uint32_t capacity,
                        bool withData = true) {
    unsigned char data[64];
    std::fill(std::begin(data), std::end(data), static_cast<unsigned char>(0xCC));
    std::uint32_t type = 0xEEEE;
    std::uint32_t size = capacity;
    RegResult result = calls.Query(key, valueName, &type, withData ? data : nullptr, &size);
    std::string text = "result " + std::to_string(result);
    // After any other failure Windows leaves type and size undefined.
    if (result == REG_OK || result == REG_ERROR_MORE_DATA) {
        text += " type " + std::to_string(type) + " size " + std::to_string(size);
    }
    return text + " bytes " + Hex(data, std::min<std::uint32_t>(capacity + 2, 64));
}

std::string EnumResult(Calls& calls, RegKey key, std::uint32_t index, std::uint32_t capacity) {
    char name[300];
    std::fill(std::begin(name), std::end(name), 'X');
    char className[16];
    std::fill(std::begin(className), std::end(className), 'X');
    std::uint32_t nameChars = capacity;
    std::uint32_t classChars = sizeof className;
    RegResult result = calls.Enum(key, index, name, &nameChars, className, &classChars);
    std::string text = "result " + std::to_string(result) + " chars " + std::to_string(nameChars);
    if (result == REG_OK) {
        // Only the text: a name holding a NUL ends there for the 8-bit calls.
        text += " name " + std::string(name) + " terminated " +
                std::to_string(name[nameChars] == '\0') + " class chars " +
                std::to_string(classChars) + " class empty " + std::to_string(className[0] == '\0');
    }
    return text;
}

struct Case {
    const char* name;
    std::uint32_t lockedAllows;  // 0: Locked grants everything
    std::function<std::string(Calls&)> run;
};

// Opens the area key for the call, closes it after.
std::string WithArea(Calls& calls, std::uint32_t access,
                     const std::function<std::string(RegKey)>& body) {
    RegKey area = 0;
    RegResult result = calls.Open(HKEY_LOCAL_MACHINE_ROOT, kArea, access, &area);
    if (result != REG_OK) {
        return "area open " + std::to_string(result);
    }
    std::string text = body(area);
    calls.Close(area);
    return text;
}

std::string RightsOfLocked(Calls& calls) {
    std::string text;
    for (std::uint32_t access :
         {ACCESS_KEY_READ, ACCESS_KEY_WRITE, ACCESS_KEY_READ_WRITE, ACCESS_KEY_WRITE_ENUMERATE,
          ACCESS_QUERY_VALUE, ACCESS_DELETE, ACCESS_KEY_ALL}) {
        text += OpenResult(calls, HKEY_LOCAL_MACHINE_ROOT, Path("Locked"), access) + " ";
    }
    return text + "delete " + WithArea(calls, ACCESS_KEY_WRITE, [&](RegKey area) {
               return std::to_string(calls.Delete(area, "Locked"));
           });
}

const Case kCases[] = {
    {"OpenExistingAndMissing", 0,
     [](Calls& c) {
         return OpenResult(c, HKEY_LOCAL_MACHINE_ROOT, Path("Leaf"), ACCESS_KEY_READ) + " " +
                OpenResult(c, HKEY_LOCAL_MACHINE_ROOT, Path("LEAF"), ACCESS_KEY_READ) + " " +
                OpenResult(c, HKEY_LOCAL_MACHINE_ROOT, Path("Missing"), ACCESS_KEY_READ) + " " +
                OpenResult(c, HKEY_LOCAL_MACHINE_ROOT, Path("Missing\\Leaf"), ACCESS_KEY_READ);
     }},
    {"OpenOddPaths", 0,
     [](Calls& c) {
         return OpenResult(c, HKEY_LOCAL_MACHINE_ROOT, Path("Leaf\\"), ACCESS_KEY_READ) + " " +
                OpenResult(c, HKEY_LOCAL_MACHINE_ROOT, Path("\\Leaf"), ACCESS_KEY_READ) + " " +
                OpenResult(c, HKEY_LOCAL_MACHINE_ROOT, "\\" + Path("Leaf"), ACCESS_KEY_READ) + " " +
                OpenResult(c, HKEY_LOCAL_MACHINE_ROOT, "", ACCESS_KEY_READ);
     }},
    // Not compared: a path over 260 characters, which Wine's ANSI calls
    // refuse with 234 before looking; the engine never composes one.
    {"OpenNamesOf255And256Characters", 0,
     [](Calls& c) {
         return WithArea(c, ACCESS_QUERY_VALUE, [&](RegKey area) {
             return OpenResult(c, area, std::string(255, 'N'), ACCESS_KEY_READ) + " " +
                    OpenResult(c, area, std::string(256, 'N'), ACCESS_KEY_READ);
         });
     }},
    {"OpenBadHandles", 0,
     [](Calls& c) {
         return OpenResult(c, 0, kArea, ACCESS_KEY_READ) + " " +
                OpenResult(c, 0x12340, kArea, ACCESS_KEY_READ);
     }},
    {"OpenRelativeToAnOpenKey", 0,
     [](Calls& c) {
         return WithArea(c, ACCESS_QUERY_VALUE, [&](RegKey area) {
             return OpenResult(c, area, "Parent\\Child", ACCESS_KEY_ALL) + " " +
                    OpenResult(c, area, "", ACCESS_KEY_READ);
         });
     }},
    {"RightsOfReadWriteKey", 0x2001f, RightsOfLocked},
    {"RightsOfReadOnlyKey", 0x20019, RightsOfLocked},
    {"RightsOfWriteOnlyKey", 0x20006, RightsOfLocked},
    {"RightsOfDeletableKey", 0x3001f, RightsOfLocked},
    {"EnumerateInOrderToTheEnd", 0,
     [](Calls& c) {
         return WithArea(c, ACCESS_KEY_READ, [&](RegKey area) {
             std::string text;
             for (std::uint32_t index = 0; index < 4; ++index) {
                 text += EnumResult(c, area, index, 256) + "; ";
             }
             return text;
         });
     }},
    {"EnumerateIntoTooSmallBuffers", 0,
     [](Calls& c) {
         return WithArea(c, ACCESS_KEY_READ, [&](RegKey area) {
             // Index 1 is "Locked": 6 characters.
             return EnumResult(c, area, 1, 6) + "; " + EnumResult(c, area, 1, 7) + "; " +
                    EnumResult(c, area, 1, 0);
         });
     }},
    {"EnumerateWithoutTheRight", 0,
     [](Calls& c) {
         return WithArea(c, ACCESS_QUERY_VALUE,
                         [&](RegKey area) { return EnumResult(c, area, 0, 256); });
     }},
    {"QueryStrings", 0,
     [](Calls& c) {
         RegKey key = 0;
         if (c.Open(HKEY_LOCAL_MACHINE_ROOT, Path("Leaf").c_str(), ACCESS_KEY_READ, &key) != 0) {
             return std::string("open failed");
         }
         std::string text = QueryResult(c, key, "Text", 16) + "; " +
                            QueryResult(c, key, "Text", 4) + "; " + QueryResult(c, key, "Text", 3) +
                            "; " + QueryResult(c, key, "EmbeddedNul", 16) + "; " +
                            QueryResult(c, key, nullptr, 16) + "; " + QueryResult(c, key, "", 16);
         c.Close(key);
         return text;
     }},
    {"QueryUnterminatedString", 0,
     [](Calls& c) {
         RegKey key = 0;
         if (c.Open(HKEY_LOCAL_MACHINE_ROOT, Path("Leaf").c_str(), ACCESS_KEY_READ, &key) != 0) {
             return std::string("open failed");
         }
         std::string text = QueryResult(c, key, "Unterminated", 3) + "; " +
                            QueryResult(c, key, "Unterminated", 4) + "; " +
                            QueryResult(c, key, "Unterminated", 16);
         c.Close(key);
         return text;
     }},
    {"QueryOtherTypesAndSizes", 0,
     [](Calls& c) {
         RegKey key = 0;
         if (c.Open(HKEY_LOCAL_MACHINE_ROOT, Path("Leaf").c_str(), ACCESS_KEY_READ, &key) != 0) {
             return std::string("open failed");
         }
         std::string text =
             QueryResult(c, key, "Number", 16) + "; " + QueryResult(c, key, "Bytes", 16) + "; " +
             QueryResult(c, key, "Bytes", 2) + "; " + QueryResult(c, key, "Text", 0, false) + "; " +
             QueryResult(c, key, "Missing", 16);
         c.Close(key);
         return text;
     }},
    {"QueryWithoutTheRight", 0,
     [](Calls& c) {
         RegKey key = 0;
         if (c.Open(HKEY_LOCAL_MACHINE_ROOT, Path("Leaf").c_str(), ACCESS_ENUMERATE_SUB_KEYS,
                    &key) != 0) {
             return std::string("open failed");
         }
         std::string text = QueryResult(c, key, "Text", 16);
         c.Close(key);
         return text;
     }},
    {"DeleteLeavesOnly", 0,
     [](Calls& c) {
         return WithArea(c, ACCESS_KEY_WRITE, [&](RegKey area) {
             return std::to_string(c.Delete(area, "Parent")) + " " +
                    std::to_string(c.Delete(area, "Missing")) + " " +
                    std::to_string(c.Delete(area, "Parent\\Child")) + " " +
                    std::to_string(c.Delete(area, "Parent")) + " " +
                    OpenResult(c, HKEY_LOCAL_MACHINE_ROOT, Path("Parent"), ACCESS_KEY_READ);
         });
     }},
    {"DeleteNeedsNoRightOnTheParentHandle", 0,
     [](Calls& c) {
         return WithArea(c, ACCESS_QUERY_VALUE,
                         [&](RegKey area) { return std::to_string(c.Delete(area, "Leaf")); });
     }},
    {"DeleteWithBadHandles", 0,
     [](Calls& c) {
         return std::to_string(c.Delete(0, "Leaf")) + " " +
                std::to_string(c.Delete(0x12340, "Leaf"));
     }},
    {"HandleOfADeletedKey", 0,
     [](Calls& c) {
         RegKey key = 0;
         if (c.Open(HKEY_LOCAL_MACHINE_ROOT, Path("Parent\\Child").c_str(), ACCESS_KEY_ALL, &key) !=
             0) {
             return std::string("open failed");
         }
         std::string text = WithArea(c, ACCESS_KEY_WRITE, [&](RegKey area) {
             return std::to_string(c.Delete(area, "Parent\\Child"));
         });
         text += "; " + QueryResult(c, key, "Text", 16) + "; " + EnumResult(c, key, 0, 256) + "; " +
                 OpenResult(c, key, "", ACCESS_KEY_READ);
         c.Close(key);
         return text;
     }},
    // Subkeys of Veiled: NUL "hidden", "A", "A" NUL "x", "B". Their texts
    // name the key itself, a sibling, or nothing.
    {"NamesHoldingNul", 0,
     [](Calls& c) {
         RegKey veiled = 0;
         if (c.Open(HKEY_LOCAL_MACHINE_ROOT, Path("Veiled").c_str(), ACCESS_KEY_ALL, &veiled) !=
             0) {
             return std::string("open failed");
         }
         std::string text;
         for (std::uint32_t index = 0; index < 5; ++index) {
             text += EnumResult(c, veiled, index, 256) + "; ";
         }
         text += "open of the empty name " + OpenResult(c, veiled, "", ACCESS_KEY_READ) +
                 "; of the key with a trailing backslash " +
                 OpenResult(c, HKEY_LOCAL_MACHINE_ROOT, Path("Veiled\\"), ACCESS_KEY_READ) +
                 "; delete of the empty name " + std::to_string(c.Delete(veiled, "")) +
                 "; delete of A " + std::to_string(c.Delete(veiled, "A")) + "; ";
         for (std::uint32_t index = 0; index < 3; ++index) {
             text += EnumResult(c, veiled, index, 256) + "; ";
         }
         RegKey leaf = 0;
         if (c.Open(veiled, "B", ACCESS_KEY_ALL, &leaf) == 0) {
             text += "delete of B by its empty name " + std::to_string(c.Delete(leaf, "")) +
                     "; open of B " + OpenResult(c, veiled, "B", ACCESS_KEY_READ);
             c.Close(leaf);
         }
         c.Close(veiled);
         return text;
     }},
};

// Keys that only the native API can name; see NamesHoldingNul.
void AddVeiledKeys(MemoryRegistry& registry) {
    for (std::string name :
         {std::string("\0hidden", 7), std::string("A"), std::string("A\0x", 3), std::string("B")}) {
        registry.CreatePath(HKEY_LOCAL_MACHINE_ROOT, Path("Veiled\\") + name);
    }
}

class Agreement : public ::testing::TestWithParam<std::size_t> {};

TEST_P(Agreement, MemoryAnswersAsTheRealRegistry) {
    const Case& testCase = kCases[GetParam()];
    std::string error;
    MemoryRegistry seed;
    ASSERT_TRUE(LoadRegFile(seed, kSeed, nullptr));
    AddVeiledKeys(seed);
    ScenarioKey locked;
    ASSERT_TRUE(ParseRootedKey(kLocked, &locked));

    MemoryRegistry memory;
    ASSERT_TRUE(LoadRegFile(memory, kSeed, nullptr));
    AddVeiledKeys(memory);
    if (testCase.lockedAllows != 0) {
        memory.SetAllowedAccess(memory.FindPath(locked.root, locked.path), testCase.lockedAllows);
    }
    MemoryCalls memoryCalls(memory);
    std::string inMemory = testCase.run(memoryCalls);
    EXPECT_EQ(memory.OpenHandleCount(), 0u);

    LiveArea live;
    ASSERT_TRUE(live.Seed(seed, &error)) << error;
    if (testCase.lockedAllows != 0) {
        ASSERT_TRUE(live.Restrict({ScenarioAccess{locked, testCase.lockedAllows}}, &error))
            << error;
    }
    LiveCalls liveCalls;
    std::string onWindows = testCase.run(liveCalls);
    EXPECT_EQ(RegistryOpenHandleCount(), 0u);

    EXPECT_EQ(inMemory, onWindows);
    EXPECT_TRUE(live.Remove(&error)) << error;
}

// The scenario comparison trusts the copy both ways: every byte and type,
// names at the length limit, values that are no proper strings.
TEST(LiveMirror, CopiesEveryByteBothWays) {
    std::string mirror =
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KeymendTest\\Mirror\\" + std::string(120, 'M');
    std::string text = "REGEDIT4\r\n\r\n" + mirror +
                       "]\r\n"
                       "\"Zeta\"=dword:00000001\r\n"
                       "\"alpha\"=hex(1):61,62,63\r\n"
                       "\"Mid\"=hex(1):61,00,62,00\r\n"
                       "\"NoBytes\"=hex(1):\r\n"
                       "\"EmptyText\"=\"\"\r\n"
                       "\"Expand\"=hex(2):25,41,25,00\r\n"
                       "\"Multi\"=hex(7):61,00,62,00,00\r\n"
                       "\"None\"=hex(0):01,02\r\n"
                       "\"Quad\"=hex(b):01,00,00,00,00,00,00,80\r\n"
                       "\"Bytes\"=hex:00,ff\r\n"
                       "\"Latin\"=\"caf\xe9 \xa0\"\r\n"
                       "\"Quote\\\"d\"=\"x\"\r\n\r\n" +
                       mirror + "\\" + std::string(255, 'L') +
                       "]\r\n"
                       "@=\"default\"\r\n\r\n"
                       "[HKEY_USERS\\S-1-5-21-1111111111-2222222222-3333333333-1099\\Sibling]\r\n";
    MemoryRegistry seed;
    RegFileError fileError;
    ASSERT_TRUE(LoadRegFile(seed, text, &fileError)) << fileError.line << ": " << fileError.message;

    std::string error;
    LiveArea live;
    ASSERT_TRUE(live.Seed(seed, &error)) << error;
    ASSERT_EQ(live.own().size(), 2u);
    MemoryRegistry copy;
    std::vector<std::string> orderErrors;
    ASSERT_TRUE(live.ReadBack(copy, &orderErrors, &error)) << error;
    EXPECT_EQ(live.Text(copy), live.Text(seed));
    EXPECT_TRUE(orderErrors.empty());
    EXPECT_TRUE(live.Remove(&error)) << error;
}

INSTANTIATE_TEST_SUITE_P(Calls, Agreement,
                         ::testing::Range<std::size_t>(0, sizeof kCases / sizeof kCases[0]),
                         [](const ::testing::TestParamInfo<std::size_t>& param) {
                             return std::string(kCases[param.param].name);
                         });

}  // namespace
