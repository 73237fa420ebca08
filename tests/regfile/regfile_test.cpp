#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "memory/reg_file.h"

namespace {

using NodeId = MemoryRegistry::NodeId;
constexpr RegKey kMachine = HKEY_LOCAL_MACHINE_ROOT;
constexpr RegKey kUsers = HKEY_USERS_ROOT;
constexpr RegFileFormat kFormats[] = {RegFileFormat::Regedit4, RegFileFormat::Version5};

std::string Z(std::string text) {
    return text + '\0';
}

std::string Bytes(std::initializer_list<int> bytes) {
    std::string out;
    for (int b : bytes) {
        out.push_back(static_cast<char>(b));
    }
    return out;
}

// "type:data" of a value, to compare both at once.
std::string ValueOf(const MemoryRegistry& registry, RegKey root, std::string_view path,
                    std::string_view name) {
    NodeId key = registry.FindPath(root, path);
    if (key == MemoryRegistry::kNoNode) {
        return "no key";
    }
    for (const auto& value : registry.Values(key)) {
        if (value.name == name) {
            return std::to_string(value.type) + ":" + value.data;
        }
    }
    return "absent";
}

// UTF-16LE with BOM, as the registry editor saves Version 5 files.
std::string Utf16File(std::u16string_view text) {
    std::string out = "\xFF\xFE";
    for (char16_t c : text) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
    return out;
}

std::string Widen8(std::string_view text) {
    std::string out = "\xFF\xFE";
    for (char c : text) {
        out += std::string{c, '\0'};
    }
    return out;
}

// Compared without the writer, so that a writer fault cannot hide itself.
void ExpectSameTree(const MemoryRegistry& a, NodeId ka, const MemoryRegistry& b, NodeId kb) {
    auto va = a.Values(ka);
    auto vb = b.Values(kb);
    ASSERT_EQ(va.size(), vb.size()) << a.Name(ka);
    for (std::size_t i = 0; i < va.size(); ++i) {
        EXPECT_EQ(va[i].name, vb[i].name);
        EXPECT_EQ(va[i].type, vb[i].type) << va[i].name;
        EXPECT_EQ(va[i].data, vb[i].data) << va[i].name;
    }
    auto ca = a.Children(ka);
    auto cb = b.Children(kb);
    ASSERT_EQ(ca.size(), cb.size()) << a.Name(ka);
    for (std::size_t i = 0; i < ca.size(); ++i) {
        ASSERT_EQ(a.Name(ca[i]), b.Name(cb[i]));
        ExpectSameTree(a, ca[i], b, cb[i]);
    }
}

void ExpectSameRegistry(const MemoryRegistry& a, const MemoryRegistry& b) {
    for (RegKey root : {kMachine, kUsers}) {
        ExpectSameTree(a, a.RootNode(root), b, b.RootNode(root));
    }
}

::testing::AssertionResult Load(MemoryRegistry& registry, std::string_view file) {
    RegFileError error;
    if (LoadRegFile(registry, file, &error)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "line " << error.line << ": " << error.message;
}

// ------------------------------------------------------------------ reading

TEST(RegFileRead, EveryValueForm) {
    struct Case {
        std::string lines;
        std::string name;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"@=\"default\"", "", Z("1:default")},
        {"\"Empty\"=\"\"", "Empty", Z("1:")},
        {"\"a\\\\b\\\"c\"=\"C:\\\\Dir \\\"q\\\" \\\\\"", "a\\b\"c", Z("1:C:\\Dir \"q\" \\")},
        // Names have no hex fallback, so CR, LF and NUL are escaped there only.
        {"\"cr\\r\\nlf\\0\"=\"\\n\\x\"", Z("cr\r\nlf"), Z("1:\\n\\x")},
        {"\"=[];@\" = \"x\"  ", "=[];@", Z("1:x")},
        {"\"Count\"=dword:0000000a", "Count", "4:" + Bytes({10, 0, 0, 0})},
        {"\"Short\"=DWORD:FF", "Short", "4:" + Bytes({0xff, 0, 0, 0})},
        {"\"Blob\"=hex:01,ab,FF, 0", "Blob", "3:" + Bytes({1, 0xab, 0xff, 0})},
        {"\"NoBytes\"=hex:", "NoBytes", "3:"},
        {"\"None\"=hex(0):00", "None", "0:" + Bytes({0})},
        {"\"Raw\"=hex(1):61,62", "Raw", "1:ab"},
        {"\"Expand\"=hex(2):25,61,25,00", "Expand", Z("2:%a%")},
        {"\"Multi\"=hex(7):61,00,62,00,00", "Multi", "7:a" + Bytes({0}) + "b" + Bytes({0, 0})},
        {"\"Q\"=hex(b):01,00,00,00,00,00,00,80", "Q", "11:" + Bytes({1, 0, 0, 0, 0, 0, 0, 0x80})},
        {"\"Top\"=hex(ffffffff):7f", "Top", "4294967295:" + Bytes({0x7f})},
        {"\"Long\"=hex:01,02,\\\r\n  03,04,\\  \r\n\t05", "Long", "3:" + Bytes({1, 2, 3, 4, 5})},
        {"\"LF\"=hex(3):61,\\\n  62", "LF", "3:ab"},
        {"\"Gone\"=dword:1\r\n\"Gone\"=-\r\n\"absent\"=-", "Gone", "absent"},
    };
    std::string file = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Acme]\r\n";
    for (const Case& c : cases) {
        file += c.lines + "\r\n";
    }
    MemoryRegistry registry;
    ASSERT_TRUE(Load(registry, file));
    for (const Case& c : cases) {
        EXPECT_EQ(ValueOf(registry, kMachine, "Software\\Acme", c.name), c.expected) << c.lines;
    }
}

TEST(RegFileRead, KeysDeletionsAndMerging) {
    MemoryRegistry registry;
    NodeId keep = registry.CreatePath(kMachine, "Software\\Keep");
    for (const char* name : {"old", "gone", "last"}) {
        registry.SetValue(keep, name, 4, "1234");
    }
    registry.CreatePath(kMachine, "Software\\Drop\\Child\\Grandchild");
    registry.CreatePath(kMachine, "Software\\Again\\Old");
    ASSERT_TRUE(Load(registry,
                     "REGEDIT4\n"
                     "; [HKEY_CURRENT_USER\\InAComment]\n"
                     "   ;indented comment\n"
                     "\t\n"
                     "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\drop]\n"
                     "[-HKLM\\Software\\NeverExisted\\Deep]\n"
                     "[hklm\\software\\KEEP]\n"
                     "\"GONE\"=-\n"
                     "\"old\"=\"replaced\"\n"
                     "[HKLM\\Software\\Again\\New]\n"
                     "[-HKLM\\Software\\Again]\n"
                     "[HKLM\\Software\\Again\\New]\n"
                     "\"v\"=\"\"\n"
                     "[hku\\S-1-5\\\\Deep\\]\r\n"
                     "  \"y\"=\"2\"\r\n"
                     "[HKEY_USERS]\n"
                     "@=dword:2"));
    EXPECT_EQ(registry.FindPath(kMachine, "Software\\Drop"), MemoryRegistry::kNoNode);
    EXPECT_EQ(registry.FindPath(kMachine, "Software\\Again\\Old"), MemoryRegistry::kNoNode);
    EXPECT_EQ(registry.FindPath(kMachine, "Software\\NeverExisted"), MemoryRegistry::kNoNode);
    // A key opened again after its deletion is the new one.
    EXPECT_EQ(ValueOf(registry, kMachine, "Software\\Again\\New", "v"), Z("1:"));
    EXPECT_EQ(ValueOf(registry, kUsers, "S-1-5\\Deep", "y"), Z("1:2"));
    EXPECT_EQ(ValueOf(registry, kUsers, "", ""), "4:" + Bytes({2, 0, 0, 0}));
    EXPECT_EQ(registry.KeyCount(), 6u);
    // Existing spelling and value order survive a merge.
    EXPECT_EQ(registry.Name(registry.FindPath(kMachine, "Software\\Keep")), "Keep");
    auto values = registry.Values(keep);
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0].name + ":" + values[0].data, Z("old:replaced"));
    EXPECT_EQ(values[1].name, "last");
}

TEST(RegFileRead, Version5AsTheEditorSavesIt) {
    MemoryRegistry registry;
    ASSERT_TRUE(Load(registry, Utf16File(u"Windows Registry Editor Version 5.00\r\n"
                                         u"\r\n"
                                         u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Caf\u00e9\\\u4e2d]\r\n"
                                         u"\"N\u00e4me\"=\"\u00e9\u4e2d\U0001F600!\"\r\n"
                                         u"\"Path\"=hex(2):25,00,e9,00,2d,4e,3d,d8,00,de,00,00\r\n"
                                         u"\"Multi\"=hex(7):61,00,00,00,\\\r\n"
                                         u"  62,00,00,00,00,00\r\n"
                                         u"\"Odd\"=hex(1):41,00,42\r\n"
                                         u"\"Bin\"=hex:41,00\r\n"
                                         u"\r\n")));
    // Outside Latin-1 is '?', a surrogate pair being one character.
    std::string key = "SOFTWARE\\Caf\xE9\\?";
    EXPECT_EQ(ValueOf(registry, kMachine, key, "N\xE4me"), Z("1:\xE9?"
                                                             "?!"));
    EXPECT_EQ(ValueOf(registry, kMachine, key, "Path"), Z("2:%\xE9??"));
    EXPECT_EQ(ValueOf(registry, kMachine, key, "Multi"), "7:a" + Bytes({0}) + "b" + Bytes({0, 0}));
    EXPECT_EQ(ValueOf(registry, kMachine, key, "Odd"), "1:AB");
    EXPECT_EQ(ValueOf(registry, kMachine, key, "Bin"), "3:A" + Bytes({0}));
}

TEST(RegFileRead, EightBitFiles) {
    MemoryRegistry registry;
    // A hand-written Version 5 file in UTF-8: é is one byte, a lone Latin-1
    // byte stays itself, string data in hex is still UTF-16.
    ASSERT_TRUE(Load(registry,
                     "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n"
                     "[HKEY_USERS\\Caf\xC3\xA9]\n"
                     "\"s\"=\"\xE9\xE4\xB8\xAD\"\n"
                     "\"w\"=hex(1):41,00,e9,00\n"));
    EXPECT_EQ(ValueOf(registry, kUsers, "Caf\xE9", "s"), Z("1:\xE9?"));
    EXPECT_EQ(ValueOf(registry, kUsers, "Caf\xE9", "w"), "1:A\xE9");
    // REGEDIT4 takes every byte as it is.
    ASSERT_TRUE(Load(registry,
                     "REGEDIT4\n"
                     "[HKEY_USERS\\Caf\xC3\xA9\\\xFF]\n"
                     "\"\x80\"=\"\xC3\xA9\"\n"
                     "\"w\"=hex(1):41,00,e9,00\n"));
    EXPECT_EQ(ValueOf(registry, kUsers, "Caf\xC3\xA9\\\xFF", "\x80"), Z("1:\xC3\xA9"));
    EXPECT_EQ(ValueOf(registry, kUsers, "Caf\xC3\xA9\\\xFF", "w"), "1:A" + Bytes({0, 0xe9, 0}));
}

TEST(RegFileRead, FromPath) {
    std::string path = testing::TempDir() + "regfile_from_path.reg";
    std::ofstream(path, std::ios::binary)
        << Widen8("Windows Registry Editor Version 5.00\r\n[HKLM\\F]\r\n\"v\"=\"x\"\r\n");
    MemoryRegistry registry;
    RegFileError error;
    ASSERT_TRUE(LoadRegFileFromPath(registry, path, &error)) << error.message;
    EXPECT_EQ(ValueOf(registry, kMachine, "F", "v"), Z("1:x"));
    std::remove(path.c_str());
    EXPECT_FALSE(LoadRegFileFromPath(registry, path, &error));
    EXPECT_EQ(error.line, 0);
    EXPECT_NE(error.message.find(path), std::string::npos);
}

TEST(RegFileRead, MalformedFilesNameTheLineAndChangeNothing) {
    struct Case {
        std::string body;  // after the header line
        int line;
        const char* message;  // what the message must contain
    };
    // Lines 2 to 4, valid; a case's own lines start at 5.
    const std::string good = "[-HKLM\\Existing]\n[HKLM\\Good]\n\"v\"=\"1\"\n";
    const std::vector<Case> cases = {
        {good + "\"abc=x\n", 5, "unterminated"},
        {good + "\"ab\\\"=x\n", 5, "unterminated"},
        {good + "\"a\"=\"x\n", 5, "unterminated"},
        {good + "\"a\"=\"x\\\"\n", 5, "unterminated"},
        {good + "\"a\"=hex:01,0g\n", 5, "hex digit"},
        {good + "\"a\"=hex:01,\\\n  02,\\\n  zz\n\"b\"=\"\"\n", 7, "hex digit"},
        {good + "\"a\"=hex:012\n", 5, "two digits"},
        {good + "\"a\"=hex:01 02\n", 5, "','"},
        {good + "\"x\"=\"\"\n\"a\"=hex:01,\\\n", 6, "ends"},
        {"\"a\"=\"x\"\n", 2, "before any key"},
        {good + "[-HKLM\\Good]\n\"a\"=\"x\"\n", 6, "deleted"},
        {good + "[HKLM\\A\n", 5, "bracket"},
        {good + "[HKLM\\A] x\n", 5, "bracket"},
        {good + "\"a\"=qword:1\n", 5, "type"},
        {good + "\"a\"=12\n", 5, "type"},
        {good + "\"a\"=dword:000000001\n", 5, "8 digits"},
        {good + "\"a\"=dword:\n", 5, "digits"},
        {good + "\"a\"=dword:1x\n", 5, "hex digit"},
        {good + "\"a\"=dword:1 2\n", 5, "after"},
        {good + "\"a\"=hex(100000000):00\n", 5, "ffffffff"},
        {good + "\"a\"=hex(g):00\n", 5, "hex digit"},
        {good + "\"a\"=hex(1:00\n", 5, "hex digit"},
        {good + "\"a\"=hex(1)00\n", 5, "hex(type)"},
        {good + "\"a\" \"x\"\n", 5, "'='"},
        {good + "\"a\"=\"x\" y\n", 5, "after"},
        {good + "\"a\"=-x\n", 5, "after"},
        {good + "\n\nstray\n", 7, "unexpected"},
        {good + "[HKEY_CURRENT_USER\\Software]\n", 5, "HKEY_CURRENT_USER"},
        {good + "[HKEY_CLASSES_ROOT\\.txt]\n", 5, "HKEY_CLASSES_ROOT"},
        {good + "[HKCU\\Software]\n", 5, "HKCU"},
        {good + "[SOFTWARE\\X]\n", 5, "root"},
        {good + "[-HKEY_USERS\\]\n", 5, "root"},
        {good + "[HKLM\\" + std::string(256, 'k') + "]\n", 5, "255"},
    };
    for (const Case& c : cases) {
        for (RegFileFormat format : kFormats) {
            SCOPED_TRACE(c.body);
            MemoryRegistry registry;
            registry.SetValue(registry.CreatePath(kMachine, "Existing\\Below"), "k", 1, "x");
            std::string before = WriteRegFile(registry, RegFileFormat::Regedit4);
            std::string file = format == RegFileFormat::Version5
                                   ? Widen8("Windows Registry Editor Version 5.00\r\n" + c.body)
                                   : "REGEDIT4\r\n" + c.body;
            RegFileError error;
            EXPECT_FALSE(LoadRegFile(registry, file, &error));
            EXPECT_EQ(error.line, c.line) << error.message;
            EXPECT_NE(error.message.find(c.message), std::string::npos) << error.message;
            EXPECT_EQ(WriteRegFile(registry, RegFileFormat::Regedit4), before);
            EXPECT_FALSE(LoadRegFile(registry, file, nullptr));
        }
    }
    for (std::string file : {std::string(), std::string("[HKLM\\A]\n"), std::string("REGEDIT5\n"),
                             std::string("\nREGEDIT4\n"), Widen8("REGEDIT 4\r\n")}) {
        MemoryRegistry registry;
        RegFileError error;
        EXPECT_FALSE(LoadRegFile(registry, file, &error)) << file;
        EXPECT_EQ(error.line, 1);
        EXPECT_NE(error.message.find("header"), std::string::npos);
    }
}

// Truncations and changed bytes of a valid file: never a crash, and a
// refused file leaves no trace.
TEST(RegFileRead, DamagedFilesAreRefusedWhole) {
    MemoryRegistry source;
    NodeId key = source.CreatePath(kMachine, "Software\\Damage\\Key");
    source.SetValue(key, "s", REG_TYPE_SZ, Z("text \"q\""));
    source.SetValue(key, "", REG_TYPE_MULTI_SZ, std::string("a\0b\0\0", 5));
    source.SetValue(key, "b", REG_TYPE_BINARY, std::string(90, '\x5a'));
    source.SetValue(key, "d", REG_TYPE_DWORD, "\x01\x02\x03\x04");
    std::mt19937 random(7);
    for (RegFileFormat format : kFormats) {
        std::string file = WriteRegFile(source, format);
        for (std::size_t cut = 0; cut < file.size(); ++cut) {
            std::string damaged = file.substr(0, cut);
            if (cut % 3 == 0) {
                damaged += static_cast<char>(random()) + file.substr(cut + 1);
            }
            MemoryRegistry registry;
            registry.CreatePath(kUsers, "Marker");
            RegFileError error;
            if (!LoadRegFile(registry, damaged, &error)) {
                EXPECT_GE(error.line, 1);
                EXPECT_EQ(registry.KeyCount(), 1u) << error.line << ": " << error.message;
            }
        }
    }
}

// ------------------------------------------------------------------ writing

TEST(RegFileWrite, Regedit4Text) {
    MemoryRegistry registry;
    NodeId acme = registry.CreatePath(kMachine, "Software\\Acme");
    registry.SetValue(acme, "", REG_TYPE_SZ, Z("Default"));
    registry.SetValue(acme, "Path", REG_TYPE_SZ, Z("C:\\Dir \"x\""));
    registry.SetValue(acme, "Count", REG_TYPE_DWORD, Bytes({10, 0, 0, 0}));
    registry.SetValue(acme, "Raw", REG_TYPE_SZ, "abc");
    registry.SetValue(acme, "Twice", REG_TYPE_SZ, std::string("ab\0\0", 4));
    registry.SetValue(acme, "Inner", REG_TYPE_SZ, std::string("a\0b\0", 4));
    registry.SetValue(acme, "Lines", REG_TYPE_SZ, Z("a\r\n"));
    registry.SetValue(acme, "Blob", REG_TYPE_BINARY, Bytes({1, 0xff}));
    registry.SetValue(acme, "Exp", REG_TYPE_EXPAND_SZ, Z("%a%"));
    registry.SetValue(acme, "Q", REG_TYPE_QWORD, Bytes({1, 2, 3, 4, 5, 6, 7, 8}));
    registry.SetValue(acme, "Odd", REG_TYPE_DWORD, Bytes({1, 2, 3}));
    registry.SetValue(acme, "None", REG_TYPE_NONE, "");
    registry.SetValue(acme, "Big", 0x12345, Bytes({0}));
    registry.SetValue(acme, Z("q\"b\\\n"), REG_TYPE_SZ, Z("\xE9"));
    registry.CreatePath(kUsers, "S-1");
    EXPECT_EQ(WriteRegFile(registry, RegFileFormat::Regedit4),
              "REGEDIT4\r\n"
              "\r\n"
              "[HKEY_LOCAL_MACHINE]\r\n"
              "\r\n"
              "[HKEY_LOCAL_MACHINE\\Software]\r\n"
              "\r\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Acme]\r\n"
              "@=\"Default\"\r\n"
              "\"Path\"=\"C:\\\\Dir \\\"x\\\"\"\r\n"
              "\"Count\"=dword:0000000a\r\n"
              "\"Raw\"=hex(1):61,62,63\r\n"
              "\"Twice\"=hex(1):61,62,00,00\r\n"
              "\"Inner\"=hex(1):61,00,62,00\r\n"
              "\"Lines\"=hex(1):61,0d,0a,00\r\n"
              "\"Blob\"=hex:01,ff\r\n"
              "\"Exp\"=hex(2):25,61,25,00\r\n"
              "\"Q\"=hex(b):01,02,03,04,05,06,07,08\r\n"
              "\"Odd\"=hex(4):01,02,03\r\n"
              "\"None\"=hex(0):\r\n"
              "\"Big\"=hex(12345):00\r\n"
              "\"q\\\"b\\\\\\n\\0\"=\"\xE9\"\r\n"
              "\r\n"
              "[HKEY_USERS]\r\n"
              "\r\n"
              "[HKEY_USERS\\S-1]\r\n"
              "\r\n");
}

TEST(RegFileWrite, Version5IsUtf16WithWideStringData) {
    MemoryRegistry registry;
    NodeId key = registry.CreatePath(kUsers, "Caf\xE9");
    registry.SetValue(key, "s", REG_TYPE_SZ, Z("\xE9"));
    registry.SetValue(key, "e", REG_TYPE_EXPAND_SZ, Z("\xE9"));
    registry.SetValue(key, "m", REG_TYPE_MULTI_SZ, std::string("a\0\0", 3));
    registry.SetValue(key, "b", REG_TYPE_BINARY, "a");
    EXPECT_EQ(WriteRegFile(registry, RegFileFormat::Version5),
              Widen8("Windows Registry Editor Version 5.00\r\n"
                     "\r\n"
                     "[HKEY_LOCAL_MACHINE]\r\n"
                     "\r\n"
                     "[HKEY_USERS]\r\n"
                     "\r\n"
                     "[HKEY_USERS\\Caf\xE9]\r\n"
                     "\"s\"=\"\xE9\"\r\n"
                     "\"e\"=hex(2):e9,00,00,00\r\n"
                     "\"m\"=hex(7):61,00,00,00,00,00\r\n"
                     "\"b\"=hex:61\r\n"
                     "\r\n"));
}

TEST(RegFileWrite, LongHexDataWrapsAfterCommas) {
    MemoryRegistry registry;
    std::string data;
    for (int i = 0; i < 200; ++i) {
        data.push_back(static_cast<char>(i));
    }
    registry.SetValue(registry.CreatePath(kMachine, "W"), "Blob", REG_TYPE_BINARY, data);
    std::string text = WriteRegFile(registry, RegFileFormat::Regedit4);
    std::size_t at = text.find("\"Blob\"=hex:00,01,");
    ASSERT_NE(at, std::string::npos);
    int lines = 0;
    for (std::size_t end; (end = text.find("\r\n", at)) != at; at = end + 2, ++lines) {
        std::string line = text.substr(at, end - at);
        EXPECT_LE(line.size(), 80u) << line;
        if (lines > 0) {
            EXPECT_EQ(line.substr(0, 3).find_first_not_of(' '), 2u) << line;
        }
        if (line.back() == '\\') {
            EXPECT_EQ(line[line.size() - 2], ',') << line;
        }
    }
    EXPECT_GE(lines, 8);
}

TEST(RegFileWrite, Subtree) {
    MemoryRegistry registry;
    registry.SetValue(registry.CreatePath(kMachine, "Software\\Acme\\Deep"), "v", 4, "1234");
    registry.CreatePath(kMachine, "Software\\AcmeSibling");
    registry.CreatePath(kUsers, "S-1");
    EXPECT_EQ(WriteRegFileSubtree(registry, kMachine, "SOFTWARE\\acme", RegFileFormat::Regedit4),
              "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Acme]\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Acme\\Deep]\r\n\"v\"=dword:34333231\r\n\r\n");
    EXPECT_EQ(WriteRegFileSubtree(registry, kUsers, "", RegFileFormat::Regedit4),
              "REGEDIT4\r\n\r\n[HKEY_USERS]\r\n\r\n[HKEY_USERS\\S-1]\r\n\r\n");
    EXPECT_EQ(WriteRegFileSubtree(registry, kMachine, "Missing", RegFileFormat::Regedit4),
              "REGEDIT4\r\n\r\n");
    EXPECT_EQ(WriteRegFileSubtree(registry, RootKey(static_cast<std::int32_t>(0x80000001u)), "",
                                  RegFileFormat::Version5),
              Widen8("Windows Registry Editor Version 5.00\r\n\r\n"));
}

// ------------------------------------------------------------- round trips

std::string RandomName(std::mt19937& random, bool keyName) {
    // CR and NUL inside a key line are data: only LF ends a line.
    static const std::string alphabet("abcXYZ019 _-.[]{}();@=\"\\\t\r\0\x80\xA0\xE9\xFF", 31);
    if (!keyName && random() % 8 == 0) {
        return std::string();
    }
    std::size_t length = random() % 10 == 0 ? 255 : 1 + random() % 12;
    std::string name;
    while (name.size() < length) {
        char c = alphabet[random() % alphabet.size()];
        if (!keyName || c != '\\') {
            name.push_back(c);
        }
    }
    if (!keyName && random() % 20 == 0) {
        name += std::string("\r\n\0", 3);
    }
    return name;
}

void FillRandom(MemoryRegistry& registry, std::mt19937& random, int keys) {
    const std::uint32_t types[] = {1, 1, 1, 2, 7, 3, 4, 11, 0, 0x20000, 0xFFFFFFFFu};
    std::vector<NodeId> nodes = {registry.RootNode(kMachine), registry.RootNode(kUsers)};
    for (int i = 0; i < keys; ++i) {
        NodeId key = registry.CreateKey(nodes[random() % nodes.size()], RandomName(random, true));
        nodes.push_back(key);
        for (int v = static_cast<int>(random() % 5); v > 0; --v) {
            std::uint32_t type = types[random() % std::size(types)];
            std::size_t length = random() % 6 == 0 ? 150 + random() % 400 : random() % 12;
            std::string data;
            while (data.size() < length) {
                data.push_back(static_cast<char>(random()));
            }
            if (type == REG_TYPE_SZ && random() % 2 == 0) {
                // Mostly text, so that the quoted form is taken too.
                for (char& c : data) {
                    c = c == '\0' || c == '\r' || c == '\n' ? '"' : c;
                }
                data.push_back('\0');
            }
            if (type == REG_TYPE_DWORD && random() % 2 == 0) {
                data.resize(4, '\x7f');
            }
            registry.SetValue(key, RandomName(random, false), type, data);
        }
    }
}

TEST(RegFileRoundTrip, RandomRegistriesInBothFormats) {
    std::mt19937 random(20240611);
    for (int round = 0; round < 8; ++round) {
        MemoryRegistry registry;
        FillRandom(registry, random, 300);
        for (RegFileFormat format : kFormats) {
            std::string text = WriteRegFile(registry, format);
            MemoryRegistry reread;
            ASSERT_TRUE(Load(reread, text));
            ExpectSameRegistry(registry, reread);
            EXPECT_EQ(WriteRegFile(reread, format), text);
        }
    }
}

TEST(RegFileRoundTrip, EqualTextsExactlyForEqualRegistries) {
    auto build = [](std::vector<const char*> paths, auto change) {
        auto registry = std::make_unique<MemoryRegistry>();
        for (const char* path : paths) {
            registry->CreatePath(kMachine, path);
        }
        registry->SetValue(registry->FindPath(kMachine, "C"), "v", 4, "1234");
        change(*registry);
        return WriteRegFile(*registry, RegFileFormat::Version5);
    };
    auto same = [](MemoryRegistry&) {};
    std::string text = build({"B\\y", "a\\x", "C", "a\\W"}, same);
    EXPECT_EQ(build({"a\\W", "C", "a\\x", "B\\y"}, same), text);
    const std::vector<std::function<void(MemoryRegistry&)>> changes = {
        [](MemoryRegistry& r) { r.CreatePath(kUsers, "New"); },
        [](MemoryRegistry& r) { r.SetValue(r.FindPath(kMachine, "C"), "v", 3, "1234"); },
        [](MemoryRegistry& r) { r.SetValue(r.FindPath(kMachine, "C"), "v", 4, "12345"); },
        [](MemoryRegistry& r) { r.SetValue(r.FindPath(kMachine, "C"), "", 1, ""); },
        [](MemoryRegistry& r) {
            r.RemoveTree(r.FindPath(kMachine, "a\\x"));
            r.CreatePath(kMachine, "a\\X");
        },
    };
    for (const auto& change : changes) {
        EXPECT_NE(build({"B\\y", "a\\x", "C", "a\\W"}, change), text);
    }
}

// Run with --gtest_also_run_disabled_tests on an optimised build.
TEST(RegFilePerformance, DISABLED_MillionKeysLoadUnderThreeSeconds) {
    MemoryRegistry registry;
    for (int group = 0; group < 1000; ++group) {
        NodeId parent =
            registry.CreatePath(kMachine, "SOFTWARE\\Vendor\\G" + std::to_string(group));
        for (int i = 0; i < 1000; ++i) {
            NodeId key = registry.CreateKey(parent, "Product " + std::to_string(i));
            registry.SetValue(key, "DisplayName", 1, Z("Product " + std::to_string(i)));
            registry.SetValue(key, "Version", 4, Bytes({i & 0xff, 1, 0, 0}));
        }
    }
    for (RegFileFormat format : kFormats) {
        std::string text = WriteRegFile(registry, format);
        MemoryRegistry reread;
        auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(Load(reread, text));
        std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        std::printf("%s: %zu keys, %zu bytes, loaded in %.3f s\n",
                    format == RegFileFormat::Version5 ? "Version 5" : "REGEDIT4", reread.KeyCount(),
                    text.size(), took.count());
        EXPECT_EQ(reread.KeyCount(), registry.KeyCount());
        EXPECT_LT(took.count(), 3.0);
    }
}

}  // namespace
