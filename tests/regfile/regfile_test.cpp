#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "memory/reg_file.h"

namespace {

using NodeId = MemoryRegistry::NodeId;
constexpr RegKey kMachine = HKEY_LOCAL_MACHINE_ROOT;
constexpr RegKey kUsers = HKEY_USERS_ROOT;

const MemoryRegistry::Value* FindValue(const std::vector<MemoryRegistry::Value>& values,
                                       std::string_view name) {
    for (const auto& value : values) {
        if (value.name == name)
            return &value;
    }
    return nullptr;
}

// Type and data of a value, or "absent".
std::string ValueOf(const MemoryRegistry& registry, RegKey root, std::string_view path,
                    std::string_view name) {
    NodeId key = registry.FindPath(root, path);
    if (key == MemoryRegistry::kNoNode)
        return "no key";
    auto values = registry.Values(key);
    const MemoryRegistry::Value* value = FindValue(values, name);
    if (value == nullptr)
        return "absent";
    return std::to_string(value->type) + ":" + value->data;
}

std::string Bytes(std::initializer_list<int> bytes) {
    std::string out;
    for (int b : bytes)
        out.push_back(static_cast<char>(b));
    return out;
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
        out.push_back(c);
        out.push_back('\0');
    }
    return out;
}

// Compared without the writer, so that a writer fault cannot hide itself.
void ExpectSameTree(const MemoryRegistry& a, NodeId ka, const MemoryRegistry& b, NodeId kb,
                    const std::string& path) {
    auto va = a.Values(ka);
    auto vb = b.Values(kb);
    ASSERT_EQ(va.size(), vb.size()) << path;
    for (std::size_t i = 0; i < va.size(); ++i) {
        EXPECT_EQ(va[i].name, vb[i].name) << path;
        EXPECT_EQ(va[i].type, vb[i].type) << path << " value " << va[i].name;
        EXPECT_EQ(va[i].data, vb[i].data) << path << " value " << va[i].name;
    }
    auto ca = a.Children(ka);
    auto cb = b.Children(kb);
    ASSERT_EQ(ca.size(), cb.size()) << path;
    for (std::size_t i = 0; i < ca.size(); ++i) {
        ASSERT_EQ(a.Name(ca[i]), b.Name(cb[i])) << path;
        ExpectSameTree(a, ca[i], b, cb[i], path + "\\" + std::string(a.Name(ca[i])));
    }
}

void ExpectSameRegistry(const MemoryRegistry& a, const MemoryRegistry& b) {
    for (RegKey root : {kMachine, kUsers}) {
        ExpectSameTree(a, a.RootNode(root), b, b.RootNode(root), "root");
    }
}

bool Load(MemoryRegistry& registry, std::string_view text, RegFileError* error = nullptr) {
    RegFileError ignored;
    return LoadRegFile(registry, text, error ? error : &ignored);
}

// ------------------------------------------------------------------ reading

TEST(RegFileRead, EveryValueForm) {
    MemoryRegistry registry;
    RegFileError error;
    ASSERT_TRUE(Load(registry,
                     "REGEDIT4\r\n"
                     "\r\n"
                     "[HKEY_LOCAL_MACHINE\\Software\\Acme]\r\n"
                     "@=\"default\"\r\n"
                     "\"Text\"=\"hello world\"\r\n"
                     "\"Empty\"=\"\"\r\n"
                     "\"Count\"=dword:0000000a\r\n"
                     "\"Short\"=dword:FF\r\n"
                     "\"Blob\"=hex:01,ab,FF,0\r\n"
                     "\"NoBytes\"=hex:\r\n"
                     "\"None\"=hex(0):00\r\n"
                     "\"Raw\"=hex(1):61,62\r\n"
                     "\"Expand\"=hex(2):25,61,25,00\r\n"
                     "\"Multi\"=hex(7):61,00,62,00,00\r\n"
                     "\"Q\"=hex(b):01,00,00,00,00,00,00,80\r\n"
                     "\"Top\"=hex(ffffffff):7f\r\n"
                     "\"Spaced\" = dword:1\r\n",
                     &error))
        << error.line << ": " << error.message;
    const char* key = "Software\\Acme";
    EXPECT_EQ(ValueOf(registry, kMachine, key, ""), std::string("1:default") + '\0');
    EXPECT_EQ(ValueOf(registry, kMachine, key, "Text"), std::string("1:hello world") + '\0');
    EXPECT_EQ(ValueOf(registry, kMachine, key, "Empty"), std::string("1:") + '\0');
    EXPECT_EQ(ValueOf(registry, kMachine, key, "Count"), "4:" + Bytes({10, 0, 0, 0}));
    EXPECT_EQ(ValueOf(registry, kMachine, key, "Short"), "4:" + Bytes({0xff, 0, 0, 0}));
    EXPECT_EQ(ValueOf(registry, kMachine, key, "Blob"), "3:" + Bytes({1, 0xab, 0xff, 0}));
    EXPECT_EQ(ValueOf(registry, kMachine, key, "NoBytes"), "3:");
    EXPECT_EQ(ValueOf(registry, kMachine, key, "None"), "0:" + Bytes({0}));
    EXPECT_EQ(ValueOf(registry, kMachine, key, "Raw"), "1:ab");
    EXPECT_EQ(ValueOf(registry, kMachine, key, "Expand"), "2:%a%" + Bytes({0}));
    EXPECT_EQ(ValueOf(registry, kMachine, key, "Multi"), "7:a" + Bytes({0}) + "b" + Bytes({0, 0}));
    EXPECT_EQ(ValueOf(registry, kMachine, key, "Q"), "11:" + Bytes({1, 0, 0, 0, 0, 0, 0, 0x80}));
    EXPECT_EQ(ValueOf(registry, kMachine, key, "Top"), "4294967295:" + Bytes({0x7f}));
    EXPECT_EQ(ValueOf(registry, kMachine, key, "Spaced"), "4:" + Bytes({1, 0, 0, 0}));
}

TEST(RegFileRead, RootsAbbreviationsCommentsAndLineEnds) {
    MemoryRegistry registry;
    ASSERT_TRUE(Load(registry,
                     "REGEDIT4\n"
                     "; a comment, [HKEY_CURRENT_USER\\Ignored]\n"
                     "   ;indented comment\n"
                     "\t\n"
                     "[HKLM\\A\\B]\n"
                     "\"x\"=\"1\"\n"
                     "[hku\\S-1-5\\\\Deep\\]\r\n"
                     "  \"y\"=\"2\"\r\n"
                     "[HKEY_USERS]\n"
                     "\"atRoot\"=dword:2"));
    EXPECT_EQ(ValueOf(registry, kMachine, "A\\B", "x"), std::string("1:1") + '\0');
    EXPECT_EQ(ValueOf(registry, kUsers, "S-1-5\\Deep", "y"), std::string("1:2") + '\0');
    EXPECT_EQ(ValueOf(registry, kUsers, "", "atRoot"), "4:" + Bytes({2, 0, 0, 0}));
    EXPECT_EQ(registry.KeyCount(), 4u);
}

TEST(RegFileRead, EscapesInNamesAndData) {
    MemoryRegistry registry;
    ASSERT_TRUE(Load(registry,
                     "REGEDIT4\r\n"
                     "[HKEY_LOCAL_MACHINE\\K]\r\n"
                     "\"a\\\\b\\\"c\"=\"C:\\\\Dir \\\"q\\\" \\\\\"\r\n"
                     "\"line\\r\\nbreak\\0\"=\"kept\\n\\x\"\r\n"
                     "\"=[];@\"=\"\"\r\n"));
    EXPECT_EQ(ValueOf(registry, kMachine, "K", "a\\b\"c"),
              std::string("1:C:\\Dir \"q\" \\") + '\0');
    // Names have no hex fallback, so CR, LF and NUL are escaped there only.
    EXPECT_EQ(ValueOf(registry, kMachine, "K", std::string("line\r\nbreak") + '\0'),
              std::string("1:kept\\n\\x") + '\0');
    EXPECT_EQ(ValueOf(registry, kMachine, "K", "=[];@"), std::string("1:") + '\0');
}

TEST(RegFileRead, ContinuedHexLists) {
    MemoryRegistry registry;
    RegFileError error;
    ASSERT_TRUE(Load(registry,
                     "REGEDIT4\n"
                     "[HKLM\\K]\n"
                     "\"Bin\"=hex:01,02,\\\n"
                     "  03,04,\\  \n"
                     "\t05\n"
                     "\"Wide\"=hex(7):61,00,\\\r\n"
                     "  00,00\r\n"
                     "\"After\"=dword:1\n",
                     &error))
        << error.line << ": " << error.message;
    EXPECT_EQ(ValueOf(registry, kMachine, "K", "Bin"), "3:" + Bytes({1, 2, 3, 4, 5}));
    EXPECT_EQ(ValueOf(registry, kMachine, "K", "Wide"), "7:a" + Bytes({0, 0, 0}));
    EXPECT_EQ(ValueOf(registry, kMachine, "K", "After"), "4:" + Bytes({1, 0, 0, 0}));
}

TEST(RegFileRead, DeletionsAndMerging) {
    MemoryRegistry registry;
    NodeId keep = registry.CreatePath(kMachine, "Software\\Keep");
    registry.SetValue(keep, "old", REG_TYPE_DWORD, Bytes({1, 0, 0, 0}));
    registry.SetValue(keep, "gone", REG_TYPE_DWORD, Bytes({2, 0, 0, 0}));
    registry.SetValue(keep, "last", REG_TYPE_DWORD, Bytes({3, 0, 0, 0}));
    registry.CreatePath(kMachine, "Software\\Drop\\Child\\Grandchild");
    registry.CreatePath(kMachine, "Software\\Recreated\\Old");
    ASSERT_TRUE(Load(registry,
                     "REGEDIT4\n"
                     "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\drop]\n"
                     "[-HKEY_LOCAL_MACHINE\\Software\\NeverExisted\\Deep]\n"
                     "[HKEY_LOCAL_MACHINE\\software\\KEEP]\n"
                     "\"GONE\"=-\n"
                     "\"absent\"=-\n"
                     "\"old\"=\"replaced\"\n"
                     "[-HKEY_LOCAL_MACHINE\\Software\\Recreated]\n"
                     "[HKEY_LOCAL_MACHINE\\Software\\Recreated\\New]\n"));
    EXPECT_EQ(registry.FindPath(kMachine, "Software\\Drop"), MemoryRegistry::kNoNode);
    EXPECT_EQ(registry.FindPath(kMachine, "Software\\Recreated\\Old"), MemoryRegistry::kNoNode);
    EXPECT_NE(registry.FindPath(kMachine, "Software\\Recreated\\New"), MemoryRegistry::kNoNode);
    EXPECT_EQ(registry.FindPath(kMachine, "Software\\NeverExisted"), MemoryRegistry::kNoNode);
    // Existing spelling and value order survive a merge.
    EXPECT_EQ(registry.Name(registry.FindPath(kMachine, "Software\\Keep")), "Keep");
    auto values = registry.Values(keep);
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0].name, "old");
    EXPECT_EQ(values[0].data, std::string("replaced") + '\0');
    EXPECT_EQ(values[1].name, "last");
    EXPECT_EQ(registry.KeyCount(), 4u);
}

TEST(RegFileRead, Version5AsTheEditorSavesIt) {
    MemoryRegistry registry;
    RegFileError error;
    std::string file = Utf16File(
        u"Windows Registry Editor Version 5.00\r\n"
        u"\r\n"
        u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Caf\u00e9\\\u4e2d]\r\n"
        u"\"N\u00e4me\"=\"\u00e9\u4e2d\U0001F600!\"\r\n"
        u"\"Path\"=hex(2):25,00,e9,00,2d,4e,3d,d8,00,de,00,00\r\n"
        u"\"Multi\"=hex(7):61,00,00,00,\\\r\n"
        u"  62,00,00,00,00,00\r\n"
        u"\"Odd\"=hex(1):41,00,42\r\n"
        u"\"Bin\"=hex:41,00\r\n"
        u"\"D\"=dword:00000010\r\n"
        u"\r\n");
    ASSERT_TRUE(LoadRegFile(registry, file, &error)) << error.line << ": " << error.message;
    std::string key = "SOFTWARE\\Caf\xE9\\?";
    EXPECT_EQ(ValueOf(registry, kMachine, key, "N\xE4me"), std::string("1:\xE9?"
                                                                       "?!") +
                                                               '\0');
    EXPECT_EQ(ValueOf(registry, kMachine, key, "Path"), std::string("2:%\xE9??") + '\0');
    EXPECT_EQ(ValueOf(registry, kMachine, key, "Multi"), "7:a" + Bytes({0}) + "b" + Bytes({0, 0}));
    EXPECT_EQ(ValueOf(registry, kMachine, key, "Odd"), "1:AB");
    EXPECT_EQ(ValueOf(registry, kMachine, key, "Bin"), "3:A" + Bytes({0}));
    EXPECT_EQ(ValueOf(registry, kMachine, key, "D"), "4:" + Bytes({0x10, 0, 0, 0}));
}

TEST(RegFileRead, Version5HeaderInEightBitText) {
    MemoryRegistry registry;
    // UTF-8 by hand: é decodes to one byte; a stray Latin-1 byte stays as is.
    ASSERT_TRUE(Load(registry,
                     "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n"
                     "[HKEY_USERS\\Caf\xC3\xA9]\n"
                     "\"s\"=\"\xE9\xE4\xB8\xAD\"\n"
                     "\"w\"=hex(1):41,00,e9,00\n"));
    EXPECT_EQ(ValueOf(registry, kUsers, "Caf\xE9", "s"), std::string("1:\xE9?") + '\0');
    EXPECT_EQ(ValueOf(registry, kUsers, "Caf\xE9", "w"), "1:A\xE9");
}

TEST(RegFileRead, Regedit4TakesBytesAsTheyAre) {
    MemoryRegistry registry;
    ASSERT_TRUE(Load(registry,
                     "REGEDIT4\n"
                     "[HKEY_USERS\\Caf\xC3\xA9\\\xFF]\n"
                     "\"\x80\"=\"\xC3\xA9\"\n"
                     "\"w\"=hex(1):41,00,e9,00\n"));
    EXPECT_EQ(ValueOf(registry, kUsers, "Caf\xC3\xA9\\\xFF", "\x80"),
              std::string("1:\xC3\xA9") + '\0');
    EXPECT_EQ(ValueOf(registry, kUsers, "Caf\xC3\xA9\\\xFF", "w"), "1:A" + Bytes({0, 0xe9, 0}));
}

TEST(RegFileRead, FromPath) {
    std::string path = testing::TempDir() + "regfile_from_path.reg";
    {
        std::ofstream out(path, std::ios::binary);
        out << Widen8("Windows Registry Editor Version 5.00\r\n[HKLM\\F]\r\n\"v\"=\"x\"\r\n");
    }
    MemoryRegistry registry;
    RegFileError error;
    ASSERT_TRUE(LoadRegFileFromPath(registry, path, &error)) << error.message;
    EXPECT_EQ(ValueOf(registry, kMachine, "F", "v"), std::string("1:x") + '\0');
    std::remove(path.c_str());

    EXPECT_FALSE(LoadRegFileFromPath(registry, path, &error));
    EXPECT_EQ(error.line, 0);
    EXPECT_NE(error.message.find(path), std::string::npos);
    EXPECT_FALSE(LoadRegFileFromPath(registry, path, nullptr));
}

// ------------------------------------------------------------- malformed

struct Malformed {
    const char* what;
    std::string body;  // everything after a valid header line
    int line;
    const char* message;  // words the message must contain
};

TEST(RegFileRead, MalformedFilesNameTheLineAndChangeNothing) {
    // Lines 2 to 4, valid; a case's own lines start at 5.
    const std::string good = "[-HKLM\\Existing]\n[HKLM\\Good]\n\"v\"=\"1\"\n";
    const std::vector<Malformed> cases = {
        {"unterminated name", good + "\"abc=x\n", 5, "unterminated"},
        {"name ends escaped", good + "\"ab\\\"=x\n", 5, "unterminated"},
        {"unterminated data", good + "\"a\"=\"x\n", 5, "unterminated"},
        {"data ends escaped", good + "\"a\"=\"x\\\"\n", 5, "unterminated"},
        {"bad hex digit", good + "\"a\"=hex:01,0g\n", 5, "hex digit"},
        {"bad digit continued", good + "\"a\"=hex:01,\\\n  02,\\\n  zz\n\"b\"=\"\"\n", 7,
         "hex digit"},
        {"three digits", good + "\"a\"=hex:012\n", 5, "two digits"},
        {"missing comma", good + "\"a\"=hex:01 02\n", 5, "','"},
        {"continued at end", good + "\"x\"=\"\"\n\"a\"=hex:01,\\\n", 6, "ends"},
        {"value before key", "\"a\"=\"x\"\n", 2, "before any key"},
        {"value under deletion", good + "[-HKLM\\Good]\n\"a\"=\"x\"\n", 6, "deleted"},
        {"no closing bracket", good + "[HKLM\\A\n", 5, "bracket"},
        {"text after bracket", good + "[HKLM\\A] x\n", 5, "bracket"},
        {"unknown type", good + "\"a\"=qword:1\n", 5, "type"},
        {"bare word", good + "\"a\"=12\n", 5, "type"},
        {"long dword", good + "\"a\"=dword:000000001\n", 5, "8 digits"},
        {"empty dword", good + "\"a\"=dword:\n", 5, "digits"},
        {"dword junk", good + "\"a\"=dword:1x\n", 5, "hex digit"},
        {"dword trailer", good + "\"a\"=dword:1 2\n", 5, "after"},
        {"type too big", good + "\"a\"=hex(100000000):00\n", 5, "ffffffff"},
        {"type not hex", good + "\"a\"=hex(g):00\n", 5, "hex digit"},
        {"type unclosed", good + "\"a\"=hex(1:00\n", 5, "hex digit"},
        {"type no colon", good + "\"a\"=hex(1)00\n", 5, "hex(type)"},
        {"no equals", good + "\"a\" \"x\"\n", 5, "'='"},
        {"after string", good + "\"a\"=\"x\" y\n", 5, "after"},
        {"after removal", good + "\"a\"=-x\n", 5, "after"},
        {"stray text", good + "\n\nstray\n", 7, "unexpected"},
        {"current user", good + "[HKEY_CURRENT_USER\\Software]\n", 5, "HKEY_CURRENT_USER"},
        {"classes root", good + "[HKEY_CLASSES_ROOT\\.txt]\n", 5, "HKEY_CLASSES_ROOT"},
        {"abbreviated user", good + "[HKCU\\Software]\n", 5, "HKCU"},
        {"unknown root", good + "[SOFTWARE\\X]\n", 5, "root"},
        {"root deletion", good + "[-HKEY_USERS\\]\n", 5, "root"},
        {"long key name", good + "[HKLM\\" + std::string(256, 'k') + "]\n", 5, "255"},
    };
    for (const Malformed& c : cases) {
        for (RegFileFormat format : {RegFileFormat::Regedit4, RegFileFormat::Version5}) {
            SCOPED_TRACE(std::string(c.what) +
                         (format == RegFileFormat::Version5 ? " (version 5)" : " (regedit4)"));
            MemoryRegistry registry;
            NodeId existing = registry.CreatePath(kMachine, "Existing\\Below");
            registry.SetValue(existing, "keep", REG_TYPE_SZ, "before");
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
}

TEST(RegFileRead, MissingHeader) {
    for (std::string file :
         {std::string(), std::string("\n"), std::string("[HKLM\\A]\n"), std::string("REGEDIT5\n"),
          std::string("\nREGEDIT4\n"), Widen8("REGEDIT 4\r\n")}) {
        MemoryRegistry registry;
        RegFileError error;
        EXPECT_FALSE(LoadRegFile(registry, file, &error)) << file;
        EXPECT_EQ(error.line, 1);
        EXPECT_NE(error.message.find("header"), std::string::npos);
        EXPECT_EQ(registry.KeyCount(), 0u);
    }
}

// Truncations and byte changes of a valid file: never a crash, and a
// refused file leaves no trace.
TEST(RegFileRead, DamagedFilesAreRefusedWhole) {
    MemoryRegistry source;
    NodeId key = source.CreatePath(kMachine, "Software\\Damage\\Key");
    source.SetValue(key, "s", REG_TYPE_SZ, std::string("text \"q\"") + '\0');
    source.SetValue(key, "", REG_TYPE_MULTI_SZ, std::string("a\0b\0\0", 5));
    source.SetValue(key, "b", REG_TYPE_BINARY, std::string(90, '\x5a'));
    source.SetValue(key, "d", REG_TYPE_DWORD, "\x01\x02\x03\x04");
    source.CreatePath(kUsers, "S-1\\x");
    std::mt19937 random(7);
    for (RegFileFormat format : {RegFileFormat::Regedit4, RegFileFormat::Version5}) {
        std::string file = WriteRegFile(source, format);
        for (std::size_t cut = 0; cut < file.size(); ++cut) {
            std::string damaged = file.substr(0, cut);
            if (cut % 3 == 0 && cut < file.size()) {
                damaged += static_cast<char>(random() & 0xFF);
                damaged += file.substr(cut + 1);
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

MemoryRegistry* SampleRegistry(MemoryRegistry& registry) {
    NodeId acme = registry.CreatePath(kMachine, "Software\\Acme");
    registry.SetValue(acme, "", REG_TYPE_SZ, std::string("Default") + '\0');
    registry.SetValue(acme, "Path", REG_TYPE_SZ, std::string("C:\\Dir \"x\"") + '\0');
    registry.SetValue(acme, "Count", REG_TYPE_DWORD, Bytes({10, 0, 0, 0}));
    registry.SetValue(acme, "Raw", REG_TYPE_SZ, "abc");
    registry.SetValue(acme, "Twice", REG_TYPE_SZ, std::string("ab\0\0", 4));
    registry.SetValue(acme, "Inner", REG_TYPE_SZ, std::string("a\0b\0", 4));
    registry.SetValue(acme, "Lines", REG_TYPE_SZ, std::string("a\r\n") + '\0');
    registry.SetValue(acme, "Blob", REG_TYPE_BINARY, Bytes({1, 0xff}));
    registry.SetValue(acme, "Exp", REG_TYPE_EXPAND_SZ, std::string("%a%") + '\0');
    registry.SetValue(acme, "Q", REG_TYPE_QWORD, Bytes({1, 2, 3, 4, 5, 6, 7, 8}));
    registry.SetValue(acme, "Odd", REG_TYPE_DWORD, Bytes({1, 2, 3}));
    registry.SetValue(acme, "None", REG_TYPE_NONE, "");
    registry.SetValue(acme, "Big", 0x12345, Bytes({0}));
    registry.SetValue(acme, "q\"b\\", REG_TYPE_SZ, std::string("\xE9") + '\0');
    registry.CreatePath(kUsers, "S-1");
    return &registry;
}

TEST(RegFileWrite, Regedit4Text) {
    MemoryRegistry registry;
    SampleRegistry(registry);
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
              "\"q\\\"b\\\\\"=\"\xE9\"\r\n"
              "\r\n"
              "[HKEY_USERS]\r\n"
              "\r\n"
              "[HKEY_USERS\\S-1]\r\n"
              "\r\n");
}

TEST(RegFileWrite, Version5IsUtf16WithWideStringData) {
    MemoryRegistry registry;
    NodeId key = registry.CreatePath(kUsers, "Caf\xE9");
    registry.SetValue(key, "s", REG_TYPE_SZ, std::string("\xE9") + '\0');
    registry.SetValue(key, "e", REG_TYPE_EXPAND_SZ, std::string("\xE9") + '\0');
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

TEST(RegFileWrite, LongHexDataWraps) {
    MemoryRegistry registry;
    NodeId key = registry.CreatePath(kMachine, "W");
    std::string data;
    for (int i = 0; i < 200; ++i)
        data.push_back(static_cast<char>(i));
    registry.SetValue(key, "Blob", REG_TYPE_BINARY, data);
    registry.SetValue(key, std::string(255, 'n'), REG_TYPE_MULTI_SZ, data);
    for (RegFileFormat format : {RegFileFormat::Regedit4, RegFileFormat::Version5}) {
        std::string text = WriteRegFile(registry, format);
        if (format == RegFileFormat::Version5) {
            std::string narrow;
            for (std::size_t i = 2; i < text.size(); i += 2)
                narrow.push_back(text[i]);
            text = narrow;
        }
        std::size_t start = text.find("\"Blob\"=hex:00,01,");
        ASSERT_NE(start, std::string::npos);
        int continued = 0;
        for (std::size_t at = start; at < text.size();) {
            std::size_t end = text.find("\r\n", at);
            std::string line = text.substr(at, end - at);
            if (line.empty() || line[0] == '[')
                break;
            if (line[0] != '"') {
                EXPECT_EQ(line.substr(0, 2), "  ");
                EXPECT_NE(line[2], ' ');
                ++continued;
            }
            if (line[0] == '"' && line.size() > 255) {
                // A long name pushes the first line out, but only by one byte.
                EXPECT_LE(line.size(), line.find(':') + 5);
            } else {
                EXPECT_LE(line.size(), 78u) << line;
            }
            if (line.back() == '\\') {
                EXPECT_EQ(line[line.size() - 2], ',');
            }
            at = end + 2;
        }
        EXPECT_GE(continued, format == RegFileFormat::Version5 ? 8 + 16 : 8 + 8);

        MemoryRegistry reread;
        ASSERT_TRUE(Load(reread, WriteRegFile(registry, format)));
        ExpectSameRegistry(registry, reread);
    }
}

TEST(RegFileWrite, Subtree) {
    MemoryRegistry registry;
    SampleRegistry(registry);
    NodeId deep = registry.CreatePath(kMachine, "Software\\Acme\\Deep");
    registry.SetValue(deep, "v", REG_TYPE_DWORD, Bytes({1, 0, 0, 0}));
    registry.CreatePath(kMachine, "Software\\AcmeSibling");
    std::string text =
        WriteRegFileSubtree(registry, kMachine, "SOFTWARE\\acme", RegFileFormat::Regedit4);
    EXPECT_EQ(text.find("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Acme]\r\n@="), 0u);
    EXPECT_NE(text.find("\r\n[HKEY_LOCAL_MACHINE\\Software\\Acme\\Deep]\r\n\"v\"=dword:00000001"),
              std::string::npos);
    EXPECT_EQ(text.find("Sibling"), std::string::npos);
    EXPECT_EQ(text.find("HKEY_USERS"), std::string::npos);

    MemoryRegistry copy;
    ASSERT_TRUE(Load(copy, text));
    EXPECT_EQ(WriteRegFileSubtree(copy, kMachine, "Software\\Acme", RegFileFormat::Version5),
              WriteRegFileSubtree(registry, kMachine, "Software\\Acme", RegFileFormat::Version5));
    EXPECT_EQ(copy.KeyCount(), 3u);

    EXPECT_EQ(WriteRegFileSubtree(registry, kUsers, "", RegFileFormat::Regedit4),
              "REGEDIT4\r\n\r\n[HKEY_USERS]\r\n\r\n[HKEY_USERS\\S-1]\r\n\r\n");
    EXPECT_EQ(WriteRegFileSubtree(registry, kMachine, "Missing", RegFileFormat::Regedit4),
              "REGEDIT4\r\n\r\n");
    EXPECT_EQ(WriteRegFileSubtree(registry, RootKey(static_cast<std::int32_t>(0x80000001u)), "",
                                  RegFileFormat::Regedit4),
              "REGEDIT4\r\n\r\n");
}

// ------------------------------------------------------------- round trips

std::string RandomName(std::mt19937& random, bool keyName) {
    static const std::string alphabet = "abcXYZ019 _-.[]{}();@=\"\\\t\x80\xA0\xE9\xFF";
    std::size_t length = random() % 10 == 0 ? 255 : 1 + random() % 12;
    if (!keyName && random() % 8 == 0)
        return std::string();
    std::string name;
    while (name.size() < length) {
        char c = alphabet[random() % alphabet.size()];
        if (keyName && c == '\\')
            continue;
        name.push_back(c);
    }
    if (!keyName && random() % 20 == 0)
        name += std::string("\r\n\0", 3);
    return name;
}

std::string RandomData(std::mt19937& random, std::uint32_t type) {
    std::size_t length = random() % 6 == 0 ? 150 + random() % 400 : random() % 12;
    std::string data;
    for (std::size_t i = 0; i < length; ++i) {
        data.push_back(static_cast<char>(random() % 4 == 0 ? 'a' + random() % 3 : random()));
    }
    if (type == REG_TYPE_SZ && random() % 2 == 0) {
        // Mostly text, so the quoted form is exercised as well.
        for (char& c : data) {
            if (c == '\0' || c == '\r' || c == '\n')
                c = '"';
        }
        data.push_back('\0');
    }
    return data;
}

void FillRandom(MemoryRegistry& registry, std::mt19937& random, int keys) {
    static const std::uint32_t types[] = {
        REG_TYPE_SZ,       REG_TYPE_SZ,     REG_TYPE_SZ,    REG_TYPE_EXPAND_SZ,
        REG_TYPE_MULTI_SZ, REG_TYPE_BINARY, REG_TYPE_DWORD, REG_TYPE_QWORD,
        REG_TYPE_NONE,     0x20000,         0xFFFFFFFFu};
    std::vector<NodeId> nodes = {registry.RootNode(kMachine), registry.RootNode(kUsers)};
    for (int i = 0; i < keys; ++i) {
        NodeId parent = nodes[random() % nodes.size()];
        NodeId key = registry.CreateKey(parent, RandomName(random, true));
        nodes.push_back(key);
        int values = static_cast<int>(random() % 5);
        for (int v = 0; v < values; ++v) {
            std::uint32_t type = types[random() % (sizeof(types) / sizeof(types[0]))];
            std::string data = RandomData(random, type);
            if (type == REG_TYPE_DWORD && random() % 2 == 0)
                data = data.substr(0, 4) + "1234";
            registry.SetValue(key, RandomName(random, false), type, data.substr(0, data.size()));
        }
    }
    registry.SetValue(registry.RootNode(kUsers), "rootValue", REG_TYPE_SZ, "unterminated");
}

TEST(RegFileRoundTrip, RandomRegistriesInBothFormats) {
    std::mt19937 random(20240611);
    for (int round = 0; round < 8; ++round) {
        MemoryRegistry registry;
        FillRandom(registry, random, 300);
        for (RegFileFormat format : {RegFileFormat::Regedit4, RegFileFormat::Version5}) {
            SCOPED_TRACE(format == RegFileFormat::Version5 ? "version 5" : "regedit4");
            std::string text = WriteRegFile(registry, format);
            MemoryRegistry reread;
            RegFileError error;
            ASSERT_TRUE(LoadRegFile(reread, text, &error)) << error.line << ": " << error.message;
            ExpectSameRegistry(registry, reread);
            EXPECT_EQ(WriteRegFile(reread, format), text);
        }
    }
}

TEST(RegFileRoundTrip, TextIsCanonical) {
    // Same content built in different orders: same text.
    MemoryRegistry a;
    MemoryRegistry b;
    for (const char* path : {"B\\y", "a\\x", "C", "a\\W"})
        a.CreatePath(kMachine, path);
    for (const char* path : {"a\\W", "C", "a\\x", "B\\y"})
        b.CreatePath(kMachine, path);
    a.SetValue(a.FindPath(kMachine, "C"), "v", REG_TYPE_DWORD, Bytes({1, 0, 0, 0}));
    b.SetValue(b.FindPath(kMachine, "C"), "v", REG_TYPE_DWORD, Bytes({1, 0, 0, 0}));
    EXPECT_EQ(WriteRegFile(a, RegFileFormat::Regedit4), WriteRegFile(b, RegFileFormat::Regedit4));

    // Any difference at all shows in the text.
    auto differs = [&](auto change) {
        MemoryRegistry c;
        for (const char* path : {"a\\W", "C", "a\\x", "B\\y"})
            c.CreatePath(kMachine, path);
        c.SetValue(c.FindPath(kMachine, "C"), "v", REG_TYPE_DWORD, Bytes({1, 0, 0, 0}));
        change(c);
        return WriteRegFile(c, RegFileFormat::Version5) != WriteRegFile(a, RegFileFormat::Version5);
    };
    EXPECT_FALSE(differs([](MemoryRegistry&) {}));
    EXPECT_TRUE(differs([](MemoryRegistry& c) { c.CreatePath(kUsers, "New"); }));
    EXPECT_TRUE(differs([](MemoryRegistry& c) {
        c.SetValue(c.FindPath(kMachine, "C"), "v", REG_TYPE_BINARY, Bytes({1, 0, 0, 0}));
    }));
    EXPECT_TRUE(differs([](MemoryRegistry& c) {
        c.SetValue(c.FindPath(kMachine, "C"), "v", REG_TYPE_DWORD, Bytes({1, 0, 0, 0, 0}));
    }));
    EXPECT_TRUE(differs(
        [](MemoryRegistry& c) { c.SetValue(c.FindPath(kMachine, "C"), "", REG_TYPE_SZ, ""); }));
    EXPECT_TRUE(differs([](MemoryRegistry& c) {
        c.RemoveTree(c.FindPath(kMachine, "a\\x"));
        c.CreatePath(kMachine, "a\\X");
    }));
}

TEST(RegFileRoundTrip, LargeFileLoadsAndMatches) {
    MemoryRegistry registry;
    for (int group = 0; group < 50; ++group) {
        NodeId parent = registry.CreatePath(kMachine, "Software\\G" + std::to_string(group));
        for (int i = 0; i < 200; ++i) {
            NodeId key = registry.CreateKey(parent, "Key" + std::to_string(i));
            registry.SetValue(key, "Name", REG_TYPE_SZ, "value " + std::to_string(i) + '\0');
            registry.SetValue(key, "N", REG_TYPE_DWORD, Bytes({i & 0xff, 0, 0, 0}));
        }
    }
    for (RegFileFormat format : {RegFileFormat::Regedit4, RegFileFormat::Version5}) {
        std::string text = WriteRegFile(registry, format);
        MemoryRegistry reread;
        ASSERT_TRUE(Load(reread, text));
        EXPECT_EQ(reread.KeyCount(), registry.KeyCount());
        EXPECT_EQ(WriteRegFile(reread, format), text);
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
            registry.SetValue(key, "DisplayName", REG_TYPE_SZ,
                              "Product " + std::to_string(i) + '\0');
            registry.SetValue(key, "Version", REG_TYPE_DWORD, Bytes({i & 0xff, 1, 0, 0}));
        }
    }
    for (RegFileFormat format : {RegFileFormat::Regedit4, RegFileFormat::Version5}) {
        std::string text = WriteRegFile(registry, format);
        MemoryRegistry reread;
        auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(Load(reread, text));
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("%s: %zu keys, %zu bytes, loaded in %.3f s\n",
                    format == RegFileFormat::Version5 ? "version 5" : "regedit4", reread.KeyCount(),
                    text.size(), seconds);
        EXPECT_EQ(reread.KeyCount(), registry.KeyCount());
        EXPECT_LT(seconds, 3.0);
    }
}

}  // namespace
