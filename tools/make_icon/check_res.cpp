// Checks the resources of KEYMEND.EXE field by field, since windres quietly changes some of what a
// script says (class names, styles, languages). Usage:
//   check_res keymend.res|KEYMEND.EXE keymend.ico keymend.manifest
// An executable is read directly: windres -O res on an .exe writes every language as 0.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

int failures = 0;

void Expect(bool ok, const std::string& what) {
    if (!ok) {
        ++failures;
        std::fprintf(stderr, "FAIL: %s\n", what.c_str());
    }
}

std::string Hex(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(v));
    return buf;
}

void ExpectHex(uint32_t actual, uint32_t expected, const std::string& what) {
    Expect(actual == expected, what + ": got " + Hex(actual) + ", want " + Hex(expected));
}

template <typename T>
void ExpectEq(const T& actual, const T& expected, const std::string& what) {
    Expect(actual == expected,
           what + ": got " + std::to_string(actual) + ", want " + std::to_string(expected));
}

Bytes ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Little-endian reader that never reads past its end; a short resource reads as zeros and fails
// the comparisons instead of crashing.
class Reader {
  public:
    Reader(const Bytes& data, size_t begin, size_t end) : data_(data), pos_(begin), end_(end) {}
    size_t pos() const { return pos_; }
    size_t left() const { return pos_ < end_ ? end_ - pos_ : 0; }
    void Seek(size_t pos) { pos_ = pos; }
    void AlignFrom(size_t base, size_t to) { pos_ = base + (pos_ - base + to - 1) / to * to; }
    uint8_t U8() {
        uint8_t value = pos_ < end_ ? data_[pos_] : uint8_t{0};
        ++pos_;
        return value;
    }
    uint16_t U16() {
        uint16_t lo = U8();
        return static_cast<uint16_t>(lo | U8() << 8);
    }
    uint32_t U32() {
        uint32_t lo = U16();
        return lo | static_cast<uint32_t>(U16()) << 16;
    }
    std::u16string Text() {
        std::u16string s;
        while (left() >= 2) {
            char16_t c = U16();
            if (c == 0) {
                break;
            }
            s += c;
        }
        return s;
    }
    // A name-or-ordinal field: the ordinal is returned, or -1 with the name in `name`.
    long NameOrOrdinal(std::u16string& name) {
        uint16_t first = U16();
        if (first == 0xFFFF) {
            return U16();
        }
        name.clear();
        for (char16_t c = first; c != 0 && left() >= 2; c = U16()) {
            name += c;
        }
        return first == 0 ? 0 : -1;
    }

  private:
    const Bytes& data_;
    size_t pos_;
    size_t end_;
};

std::string Narrow(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(c));
            out += buf;
        }
    }
    return out;
}

void ExpectText(const std::u16string& actual, const std::u16string& expected,
                const std::string& what) {
    Expect(actual == expected,
           what + ": got \"" + Narrow(actual) + "\", want \"" + Narrow(expected) + "\"");
}

struct Resource {
    long type;  // -1 when named
    long name;
    uint16_t language;
    size_t offset;
    size_t size;
};

std::vector<Resource> ParseRes(const Bytes& file) {
    std::vector<Resource> list;
    size_t pos = 0;
    while (pos + 32 <= file.size()) {
        Reader r(file, pos, file.size());
        uint32_t data_size = r.U32();
        uint32_t header_size = r.U32();
        std::u16string ignored;
        long type = r.NameOrOrdinal(ignored);
        long name = r.NameOrOrdinal(ignored);
        r.AlignFrom(pos, 4);
        r.U32();  // data version
        r.U16();  // memory flags
        uint16_t language = r.U16();
        size_t data = pos + header_size;
        // The .res format opens with an empty entry; it is no resource.
        if (!(data_size == 0 && type == 0 && name == 0)) {
            list.push_back({type, name, language, data, data_size});
        }
        pos = (data + data_size + 3) / 4 * 4;
    }
    return list;
}

// The resource tree of a PE image: type, name and language directories down to the data leaves.
std::vector<Resource> ParseExe(const Bytes& file) {
    std::vector<Resource> list;
    Reader r(file, 0, file.size());
    r.Seek(0x3C);
    size_t pe = r.U32();
    r.Seek(pe);
    if (r.U32() != 0x00004550) {
        return list;
    }
    r.U16();
    uint16_t sections = r.U16();
    r.Seek(pe + 20);
    uint16_t optional_size = r.U16();
    size_t optional = pe + 24;
    r.Seek(optional);
    size_t directories = optional + (r.U16() == 0x20B ? 112 : 96);
    r.Seek(directories + 2 * 8);  // the resource directory is entry 2
    uint32_t root_rva = r.U32();
    struct Section {
        uint32_t rva, size, raw;
    };
    std::vector<Section> table;
    for (size_t i = 0; i < sections; ++i) {
        r.Seek(optional + optional_size + 40 * i + 8);
        uint32_t virtual_size = r.U32(), rva = r.U32(), raw_size = r.U32(), raw = r.U32();
        table.push_back({rva, virtual_size > raw_size ? virtual_size : raw_size, raw});
    }
    auto offset_of = [&](uint32_t rva) -> size_t {
        for (const Section& s : table) {
            if (rva >= s.rva && rva < s.rva + s.size) {
                return s.raw + (rva - s.rva);
            }
        }
        return file.size();
    };
    size_t root = offset_of(root_rva);
    // Entries of one directory as (id, offset within the tree); named entries get id -1.
    auto entries = [&](size_t dir) {
        std::vector<std::pair<long, uint32_t>> out;
        Reader d(file, root + dir + 12, file.size());
        unsigned count = d.U16();
        count += d.U16();
        for (unsigned i = 0; i < count; ++i) {
            uint32_t name = d.U32(), target = d.U32();
            out.push_back({name & 0x80000000 ? -1L : static_cast<long>(name), target});
        }
        return out;
    };
    for (auto [type, names] : entries(0)) {
        for (auto [name, languages] : entries(names & 0x7FFFFFFF)) {
            for (auto [language, leaf] : entries(languages & 0x7FFFFFFF)) {
                Reader l(file, root + leaf, file.size());
                uint32_t rva = l.U32(), size = l.U32();
                list.push_back({type, name, static_cast<uint16_t>(language), offset_of(rva), size});
            }
        }
    }
    return list;
}

const Resource* Find(const std::vector<Resource>& list, long type, long name) {
    for (const Resource& r : list) {
        if (r.type == type && r.name == name) {
            return &r;
        }
    }
    return nullptr;
}

constexpr long kIcon = 3, kDialog = 5, kGroupIcon = 14, kVersion = 16, kManifest = 24;
constexpr uint16_t kEnglish = 1033, kJapanese = 1041;

void CheckInventory(const std::vector<Resource>& list) {
    struct Key {
        long type, name;
        uint16_t language;
    };
    std::vector<Key> expected;
    for (long id = 1; id <= 7; ++id) {
        expected.push_back({kIcon, id, kEnglish});
    }
    expected.push_back({kDialog, 2001, kEnglish});
    expected.push_back({kDialog, 2101, kJapanese});
    expected.push_back({kGroupIcon, 1, kEnglish});
    expected.push_back({kVersion, 1, kEnglish});
    expected.push_back({kManifest, 1, kJapanese});
    ExpectEq(list.size(), expected.size(), "number of resources");
    for (const Key& k : expected) {
        int copies = 0;
        for (const Resource& r : list) {
            if (r.type == k.type && r.name == k.name) {
                ++copies;
                ExpectEq(r.language, k.language,
                         "language of " + std::to_string(k.type) + "/" + std::to_string(k.name));
            }
        }
        ExpectEq(copies, 1, "copies of " + std::to_string(k.type) + "/" + std::to_string(k.name));
    }
}

// ---- Dialog templates ----

constexpr uint16_t kButton = 0x0080, kStatic = 0x0082;

struct Control {
    uint32_t id;
    uint16_t class_ordinal;
    std::u16string text;
    uint32_t style;
    int16_t x, y, cx, cy;
};

struct Dialog {
    long name;
    uint8_t charset;
    std::vector<Control> controls;
};

std::vector<Dialog> ExpectedDialogs() {
    const uint32_t kNone = 0xFFFFFFFF;
    Dialog english{2001, 0, {}};
    english.controls = {
        {1, kButton, u"Execute", 0x50010301, 143, 50, 50, 15},
        {2, kButton, u"Cancel", 0x50010300, 209, 50, 50, 15},
        {kNone, kStatic, u"\u00A9", 0x50000000, 11, 54, 10, 8},
        {101, kStatic, u"2004 DUVA INC.", 0x50000000, 19, 54, 70, 8},
        {kNone, kStatic, u"", 0x50000012, 3, 44, 268, 1},
        {103, kStatic,
         u"After running this tool, You can install the Brelix V1.12 even if you can't uninstall "
         u"the Brelix V1.11 properly. \nClick 'Execute'.",
         0x50000000, 43, 10, 223, 32},
    };
    Dialog japanese{2101, 1, {}};
    japanese.controls = {
        {1, kButton, u"実行", 0x50010301, 143, 51, 50, 15},
        {2, kButton, u"キャンセル", 0x50010300, 209, 51, 50, 15},
        {kNone, kStatic, u"\u00A9", 0x50000000, 10, 55, 10, 8},
        {101, kStatic, u"2004 DUVA INC.", 0x50000000, 18, 55, 70, 8},
        {kNone, kStatic, u"", 0x50000012, 3, 45, 268, 1},
        {103, kStatic,
         u"このツールを実行すると、正常にBrelix "
         u"V1.11をアンインストールできなくても、Brelix "
         u"V1.12をインストールできるようになります。\n[実行] ボタンをクリックしてください。",
         0x50000000, 43, 10, 223, 32},
    };
    return {english, japanese};
}

void CheckDialog(const Bytes& file, const Resource& res, const Dialog& want) {
    std::string at = "dialog " + std::to_string(want.name) + " ";
    Reader r(file, res.offset, res.offset + res.size);
    ExpectEq(r.U16(), uint16_t{1}, at + "dlgVer");
    ExpectEq(r.U16(), uint16_t{0xFFFF}, at + "signature");
    ExpectEq(r.U32(), uint32_t{0}, at + "helpID");
    ExpectEq(r.U32(), uint32_t{0}, at + "exStyle");
    ExpectHex(r.U32(), 0x80C808C4, at + "style");
    uint16_t count = r.U16();
    ExpectEq(count, static_cast<uint16_t>(want.controls.size()), at + "cDlgItems");
    int16_t frame[4];
    for (int16_t& v : frame) {
        v = static_cast<int16_t>(r.U16());
    }
    Expect(frame[0] == 0 && frame[1] == 0 && frame[2] == 275 && frame[3] == 70,
           at + "position and size");
    std::u16string name;
    ExpectEq(r.NameOrOrdinal(name), 0L, at + "menu (none)");
    Expect(r.NameOrOrdinal(name) == -1 && name == u"KEYMEND", at + "window class");
    ExpectText(r.Text(), u"", at + "title");
    ExpectEq(r.U16(), uint16_t{8}, at + "point size");
    ExpectEq(r.U16(), uint16_t{0}, at + "weight");
    ExpectEq(r.U8(), uint8_t{0}, at + "italic");
    ExpectEq(r.U8(), want.charset, at + "charset");
    ExpectText(r.Text(), u"Tahoma", at + "typeface");
    for (size_t i = 0; i < want.controls.size() && i < count; ++i) {
        const Control& c = want.controls[i];
        std::string item = at + "control " + std::to_string(i + 1) + " ";
        r.AlignFrom(res.offset, 4);
        ExpectEq(r.U32(), uint32_t{0}, item + "helpID");
        ExpectEq(r.U32(), uint32_t{0}, item + "exStyle");
        ExpectHex(r.U32(), c.style, item + "style");
        ExpectEq(static_cast<int16_t>(r.U16()), c.x, item + "x");
        ExpectEq(static_cast<int16_t>(r.U16()), c.y, item + "y");
        ExpectEq(static_cast<int16_t>(r.U16()), c.cx, item + "cx");
        ExpectEq(static_cast<int16_t>(r.U16()), c.cy, item + "cy");
        ExpectHex(r.U32(), c.id, item + "id");
        ExpectEq(r.NameOrOrdinal(name), static_cast<long>(c.class_ordinal), item + "class ordinal");
        std::u16string text;
        long ordinal = r.NameOrOrdinal(text);
        Expect(ordinal == -1 || (ordinal == 0 && c.text.empty()), item + "text is a string");
        ExpectText(ordinal == -1 ? text : u"", c.text, item + "text");
        ExpectEq(r.U16(), uint16_t{0}, item + "extraCount");
    }
    Expect(r.left() == 0, at + "ends after its last control");
}

// ---- Icons ----

struct IconFormat {
    int side, bits;
    uint32_t bytes;
};

const IconFormat kIcons[] = {{48, 8, 3752},  {32, 8, 2216},  {16, 8, 1384}, {256, 32, 270376},
                             {48, 32, 9640}, {32, 32, 4264}, {16, 32, 1128}};

void CheckIcons(const Bytes& file, const std::vector<Resource>& list, const Bytes& ico) {
    const Resource* group = Find(list, kGroupIcon, 1);
    if (group == nullptr) {
        return;
    }
    Reader g(file, group->offset, group->offset + group->size);
    ExpectEq(group->size, size_t{6 + 14 * 7}, "group icon size");
    ExpectEq(g.U16(), uint16_t{0}, "group reserved");
    ExpectEq(g.U16(), uint16_t{1}, "group type");
    ExpectEq(g.U16(), uint16_t{7}, "group count");
    Reader f(ico, 0, ico.size());
    f.Seek(6);
    for (int i = 0; i < 7; ++i) {
        const IconFormat& want = kIcons[i];
        std::string at = "group entry " + std::to_string(i + 1) + " ";
        uint8_t stored = static_cast<uint8_t>(want.side == 256 ? 0 : want.side);
        ExpectEq(g.U8(), stored, at + "width");
        ExpectEq(g.U8(), stored, at + "height");
        ExpectEq(g.U8(), uint8_t{0}, at + "colour count");
        ExpectEq(g.U8(), uint8_t{0}, at + "reserved");
        ExpectEq(g.U16(), uint16_t{1}, at + "planes");
        ExpectEq(g.U16(), static_cast<uint16_t>(want.bits), at + "bits per pixel");
        ExpectEq(g.U32(), want.bytes, at + "bytes");
        ExpectEq(g.U16(), static_cast<uint16_t>(i + 1), at + "icon id");
        // The image itself must be the one of the .ico, byte for byte.
        f.Seek(6 + 16 * static_cast<size_t>(i) + 8);
        uint32_t size = f.U32(), offset = f.U32();
        const Resource* icon = Find(list, kIcon, i + 1);
        Expect(icon != nullptr && icon->size == size && offset + size <= ico.size() &&
                   Bytes(file.begin() + static_cast<long>(icon->offset),
                         file.begin() + static_cast<long>(icon->offset + icon->size)) ==
                       Bytes(ico.begin() + offset, ico.begin() + offset + size),
               "icon " + std::to_string(i + 1) + " equals image " + std::to_string(i + 1) +
                   " of the .ico");
    }
}

// ---- Version block ----

struct Node {
    std::u16string key;
    uint16_t value_length;
    uint16_t type;
    size_t value;  // offset of the value
    size_t end;
    size_t children;  // offset of the first child
};

Node ReadNode(const Bytes& file, size_t base, size_t pos) {
    Reader r(file, pos, file.size());
    Node n;
    uint16_t length = r.U16();
    n.value_length = r.U16();
    n.type = r.U16();
    n.key = r.Text();
    r.AlignFrom(base, 4);
    n.value = r.pos();
    n.end = pos + length;
    size_t value_bytes = n.type == 1 ? n.value_length * 2u : n.value_length;
    n.children = base + (n.value + value_bytes - base + 3) / 4 * 4;
    return n;
}

std::vector<Node> Children(const Bytes& file, size_t base, const Node& parent) {
    std::vector<Node> list;
    for (size_t pos = parent.children; pos + 6 <= parent.end && pos < file.size();) {
        Node n = ReadNode(file, base, pos);
        if (n.end <= pos) {
            break;
        }
        list.push_back(n);
        pos = base + (n.end - base + 3) / 4 * 4;
    }
    return list;
}

void CheckVersion(const Bytes& file, const Resource& res) {
    size_t base = res.offset;
    Node root = ReadNode(file, base, base);
    ExpectText(root.key, u"VS_VERSION_INFO", "version root key");
    ExpectEq(root.end, base + res.size, "version root length");
    ExpectEq(root.value_length, uint16_t{52}, "VS_FIXEDFILEINFO size");
    Reader r(file, root.value, root.value + 52);
    const uint32_t fixed[] = {0xFEEF04BD, 0x00010000, 0x00010000, 0, 0x00010000, 0, 0,
                              0,          0x00040004, 1,          0, 0,          0};
    const char* names[] = {"signature",
                           "structure version",
                           "file version MS",
                           "file version LS",
                           "product version MS",
                           "product version LS",
                           "flags mask",
                           "flags",
                           "file OS",
                           "file type",
                           "file subtype",
                           "date MS",
                           "date LS"};
    for (int i = 0; i < 13; ++i) {
        ExpectHex(r.U32(), fixed[i], std::string("fixed file info ") + names[i]);
    }
    std::vector<Node> blocks = Children(file, base, root);
    Expect(blocks.size() == 2, "version block holds StringFileInfo and VarFileInfo");
    if (blocks.size() != 2) {
        return;
    }
    ExpectText(blocks[0].key, u"StringFileInfo", "first version child");
    std::vector<Node> tables = Children(file, base, blocks[0]);
    Expect(tables.size() == 1 && tables[0].key == u"040904e4", "one string table 040904e4");
    if (!tables.empty()) {
        const std::u16string want[][2] = {
            {u"CompanyName", u"DUVA Inc."},
            {u"FileDescription", u"DUVA Driver Fix Tool"},
            {u"FileVersion", u"1.0"},
            {u"InternalName", u"KeyMend"},
            {u"LegalCopyright", u""},  // wording is free; it must only be present and name DUVA
            {u"OriginalFilename", u"KEYMEND.EXE"},
            {u"ProductVersion", u"1, 0, 0, 0"},
        };
        std::vector<Node> strings = Children(file, base, tables[0]);
        ExpectEq(strings.size(), size_t{7}, "number of version strings");
        for (size_t i = 0; i < strings.size() && i < 7; ++i) {
            ExpectText(strings[i].key, want[i][0], "version string key " + std::to_string(i + 1));
            Reader v(file, strings[i].value, strings[i].end);
            std::u16string value = v.Text();
            ExpectEq(strings[i].value_length, static_cast<uint16_t>(value.size() + 1),
                     Narrow(want[i][0]) + " length in characters with its terminator");
            if (want[i][0] == u"LegalCopyright") {
                Expect(value.find(u"DUVA Inc.") != std::u16string::npos, "LegalCopyright");
            } else {
                ExpectText(value, want[i][1], Narrow(want[i][0]));
            }
        }
    }
    ExpectText(blocks[1].key, u"VarFileInfo", "second version child");
    std::vector<Node> vars = Children(file, base, blocks[1]);
    Expect(vars.size() == 1 && vars[0].key == u"Translation" && vars[0].value_length == 4 &&
               vars[0].type == 0,
           "one binary Translation value");
    if (!vars.empty()) {
        Reader v(file, vars[0].value, vars[0].end);
        ExpectEq(v.U16(), uint16_t{0x0409}, "translation language");
        ExpectEq(v.U16(), uint16_t{0x04E4}, "translation code page");
    }
}

// ---- Manifest ----

void CheckManifest(const Bytes& file, const Resource& res, const Bytes& manifest) {
    Bytes data(file.begin() + static_cast<long>(res.offset),
               file.begin() + static_cast<long>(res.offset + res.size));
    Expect(data == manifest, "manifest resource equals the manifest file");
    std::string text(data.begin(), data.end());
    const char* in_order[] = {
        R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)",
        R"(<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">)",
        R"(<assemblyIdentity version="1.0.0.0" processorArchitecture="amd64" )"
        R"(name="Duva.Fix.KeyMend" type="win32"/>)",
        R"(<description>DUVA MIDI Driver Fix Tool</description>)",
        R"(<dependency>)",
        R"(<dependentAssembly>)",
        R"(<assemblyIdentity type="win32" name="Microsoft.Windows.Common-Controls" )"
        R"(version="6.0.0.0" processorArchitecture="amd64" publicKeyToken="6595b64144ccf1df" )"
        R"(language="*"/>)",
        R"(</dependentAssembly>)",
        R"(</dependency>)",
        R"(<trustInfo xmlns="urn:schemas-microsoft-com:asm.v3">)",
        R"(<security>)",
        R"(<requestedPrivileges>)",
        R"(<requestedExecutionLevel level="requireAdministrator" uiAccess="false"/>)",
        R"(</requestedPrivileges>)",
        R"(</security>)",
        R"(</trustInfo>)",
        R"(</assembly>)",
    };
    Expect(text.rfind(in_order[0], 0) == 0, "manifest starts with its XML declaration");
    size_t from = 0;
    for (const char* piece : in_order) {
        size_t at = text.find(piece, from);
        Expect(at != std::string::npos, std::string("manifest holds, in order: ") + piece);
        if (at != std::string::npos) {
            from = at + 1;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: check_res FILE.res keymend.ico keymend.manifest\n");
        return 2;
    }
    Bytes res = ReadFile(argv[1]), ico = ReadFile(argv[2]), manifest = ReadFile(argv[3]);
    Expect(!res.empty() && !ico.empty() && !manifest.empty(), "input files readable");
    bool exe = res.size() > 2 && res[0] == 'M' && res[1] == 'Z';
    std::vector<Resource> list = exe ? ParseExe(res) : ParseRes(res);
    for (const Resource& r : list) {
        Expect(r.offset + r.size <= res.size(), "resource data inside the file");
        if (r.offset + r.size > res.size()) {
            return 1;
        }
    }
    CheckInventory(list);
    for (const Dialog& dialog : ExpectedDialogs()) {
        if (const Resource* r = Find(list, kDialog, dialog.name)) {
            CheckDialog(res, *r, dialog);
        }
    }
    CheckIcons(res, list, ico);
    if (const Resource* r = Find(list, kVersion, 1)) {
        CheckVersion(res, *r);
    }
    if (const Resource* r = Find(list, kManifest, 1)) {
        CheckManifest(res, *r, manifest);
    }
    if (failures != 0) {
        std::fprintf(stderr, "check_res: %d failure(s)\n", failures);
        return 1;
    }
    std::printf("check_res: %zu resources as required\n", list.size());
    return 0;
}
