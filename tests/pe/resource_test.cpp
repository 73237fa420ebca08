// Reads every resource back out of the built KEYMEND.EXE through the
// Windows loader and checks each field the program and the shell rely on.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "support/test_paths.h"

namespace {

using Bytes = std::vector<unsigned char>;

HMODULE Image() {
    static HMODULE image =
        LoadLibraryExA(TestPath(KEYMEND_EXE).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    return image;
}

Bytes Resource(WORD type, WORD id, WORD language) {
    HRSRC found = FindResourceExW(Image(), MAKEINTRESOURCEW(type), MAKEINTRESOURCEW(id), language);
    if (found == nullptr) {
        return {};
    }
    const auto* data =
        static_cast<const unsigned char*>(LockResource(LoadResource(Image(), found)));
    return Bytes(data, data + SizeofResource(Image(), found));
}

// Reads a resource field by field, as the loader's consumers do.
class Reader {
  public:
    explicit Reader(const Bytes& bytes) : bytes_(bytes) {}
    template <typename T>
    T Take() {
        T value{};
        if (offset_ + sizeof(T) <= bytes_.size()) {
            std::memcpy(&value, bytes_.data() + offset_, sizeof(T));
        }
        offset_ += sizeof(T);
        return value;
    }
    std::u16string TakeText() {
        std::u16string text;
        for (char16_t c; (c = Take<char16_t>()) != 0 && offset_ <= bytes_.size();) {
            text += c;
        }
        return text;
    }
    void Align4() { offset_ = (offset_ + 3) & ~std::size_t{3}; }
    std::size_t offset() const { return offset_; }
    void Seek(std::size_t offset) { offset_ = offset; }

  private:
    const Bytes& bytes_;
    std::size_t offset_ = 0;
};

// The index-th image of the committed icon file, as its directory places it.
Bytes IcoImage(int index) {
    std::ifstream file(TestPath(KEYMEND_ICO), std::ios::binary);
    Bytes ico((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    Reader entry(ico);
    entry.Seek(6 + 16 * static_cast<std::size_t>(index) + 8);
    DWORD size = entry.Take<DWORD>();
    DWORD offset = entry.Take<DWORD>();
    if (offset > ico.size() || size > ico.size() - offset) {
        return {};
    }
    return Bytes(ico.begin() + offset, ico.begin() + offset + size);
}

// type -> id -> language
using Listing = std::map<std::tuple<WORD, WORD, WORD>, int>;

BOOL CALLBACK OnLanguage(HMODULE, LPCWSTR type, LPCWSTR name, WORD language, LONG_PTR listing) {
    auto* entries = reinterpret_cast<Listing*>(listing);
    WORD typeId =
        IS_INTRESOURCE(type) ? static_cast<WORD>(reinterpret_cast<ULONG_PTR>(type)) : 0xFFFF;
    WORD nameId =
        IS_INTRESOURCE(name) ? static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name)) : 0xFFFF;
    ++(*entries)[{typeId, nameId, language}];
    return TRUE;
}
BOOL CALLBACK OnName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR listing) {
    EnumResourceLanguagesW(module, type, name, OnLanguage, listing);
    return TRUE;
}
BOOL CALLBACK OnType(HMODULE module, LPWSTR type, LONG_PTR listing) {
    EnumResourceNamesW(module, type, OnName, listing);
    return TRUE;
}

TEST(Resources, ExactlyTheListedOnes) {
    ASSERT_NE(Image(), nullptr);
    Listing listing;
    EnumResourceTypesW(Image(), OnType, reinterpret_cast<LONG_PTR>(&listing));
    Listing expected;
    for (WORD id = 1; id <= 7; ++id)
        expected[{3, id, 1033}] = 1;
    expected[{5, 2001, 1033}] = 1;
    expected[{5, 2101, 1041}] = 1;
    expected[{14, 1, 1033}] = 1;
    expected[{16, 1, 1033}] = 1;
    expected[{24, 1, 1041}] = 1;
    EXPECT_EQ(listing, expected);
}

struct Control {
    std::uint32_t id;
    WORD classOrdinal;
    std::u16string text;
    std::uint32_t style;
    short x, y, cx, cy;
};

void ExpectDialog(WORD id, WORD language, std::uint8_t charset,
                  const std::vector<Control>& controls) {
    SCOPED_TRACE(id);
    Bytes bytes = Resource(5, id, language);
    ASSERT_FALSE(bytes.empty());
    Reader r(bytes);
    EXPECT_EQ(r.Take<WORD>(), 1);  // dlgVer
    EXPECT_EQ(r.Take<WORD>(), 0xFFFF);
    EXPECT_EQ(r.Take<DWORD>(), 0u);  // helpID
    EXPECT_EQ(r.Take<DWORD>(), 0u);  // exStyle
    EXPECT_EQ(r.Take<DWORD>(), 0x80C808C4u);
    EXPECT_EQ(r.Take<WORD>(), controls.size());
    EXPECT_EQ(r.Take<short>(), 0);
    EXPECT_EQ(r.Take<short>(), 0);
    EXPECT_EQ(r.Take<short>(), 275);
    EXPECT_EQ(r.Take<short>(), 70);
    EXPECT_EQ(r.Take<WORD>(), 0);  // no menu
    EXPECT_EQ(r.TakeText(), u"KEYMEND");
    EXPECT_EQ(r.TakeText(), u"");  // title
    EXPECT_EQ(r.Take<WORD>(), 8);
    EXPECT_EQ(r.Take<WORD>(), 0);  // weight
    EXPECT_EQ(r.Take<BYTE>(), 0);  // italic
    EXPECT_EQ(r.Take<BYTE>(), charset);
    EXPECT_EQ(r.TakeText(), u"Tahoma");
    for (const Control& control : controls) {
        SCOPED_TRACE(control.id);
        r.Align4();
        EXPECT_EQ(r.Take<DWORD>(), 0u);  // helpID
        EXPECT_EQ(r.Take<DWORD>(), 0u);  // exStyle
        EXPECT_EQ(r.Take<DWORD>(), control.style);
        EXPECT_EQ(r.Take<short>(), control.x);
        EXPECT_EQ(r.Take<short>(), control.y);
        EXPECT_EQ(r.Take<short>(), control.cx);
        EXPECT_EQ(r.Take<short>(), control.cy);
        EXPECT_EQ(r.Take<DWORD>(), control.id);
        EXPECT_EQ(r.Take<WORD>(), 0xFFFF) << "class by ordinal";
        EXPECT_EQ(r.Take<WORD>(), control.classOrdinal);
        EXPECT_TRUE(r.TakeText() == control.text);
        EXPECT_EQ(r.Take<WORD>(), 0) << "no creation data";
    }
    EXPECT_LE(r.offset(), bytes.size());
    EXPECT_GE(r.offset() + 3, bytes.size()) << "nothing after the last control";
}

TEST(Resources, EnglishTemplate) {
    ExpectDialog(2001, 1033, 0,
                 {{1, 0x80, u"Execute", 0x50010301, 143, 50, 50, 15},
                  {2, 0x80, u"Cancel", 0x50010300, 209, 50, 50, 15},
                  {0xFFFFFFFF, 0x82, u"\u00A9", 0x50000000, 11, 54, 10, 8},
                  {101, 0x82, u"2004 DUVA INC.", 0x50000000, 19, 54, 70, 8},
                  {0xFFFFFFFF, 0x82, u"", 0x50000012, 3, 44, 268, 1},
                  {103, 0x82,
                   u"After running this tool, You can install the Brelix V1.12 even if you can't "
                   u"uninstall the Brelix V1.11 properly. \nClick 'Execute'.",
                   0x50000000, 43, 10, 223, 32}});
}

TEST(Resources, JapaneseTemplate) {
    ExpectDialog(
        2101, 1041, 1,
        {{1, 0x80, u"実行", 0x50010301, 143, 51, 50, 15},
         {2, 0x80, u"キャンセル", 0x50010300, 209, 51, 50, 15},
         {0xFFFFFFFF, 0x82, u"\u00A9", 0x50000000, 10, 55, 10, 8},
         {101, 0x82, u"2004 DUVA INC.", 0x50000000, 18, 55, 70, 8},
         {0xFFFFFFFF, 0x82, u"", 0x50000012, 3, 45, 268, 1},
         {103, 0x82,
          u"このツールを実行すると、正常にBrelix V1.11をアンインストールできなくても、Brelix "
          u"V1.12をインストールできるようになります。\n[実行] ボタンをクリックしてください。",
          0x50000000, 43, 10, 223, 32}});
}

TEST(Resources, IconGroupOfSevenUncompressedImages) {
    struct Entry {
        int size;
        WORD bits;
        DWORD bytes;
    };
    const Entry entries[] = {{48, 8, 3752},  {32, 8, 2216},  {16, 8, 1384}, {256, 32, 270376},
                             {48, 32, 9640}, {32, 32, 4264}, {16, 32, 1128}};
    Bytes group = Resource(14, 1, 1033);
    Reader r(group);
    EXPECT_EQ(r.Take<WORD>(), 0);
    EXPECT_EQ(r.Take<WORD>(), 1);
    EXPECT_EQ(r.Take<WORD>(), 7);
    EXPECT_EQ(group.size(), 6u + 7 * 14);
    WORD id = 1;
    for (const Entry& entry : entries) {
        SCOPED_TRACE(id);
        EXPECT_EQ(r.Take<BYTE>(), entry.size & 0xFF);
        EXPECT_EQ(r.Take<BYTE>(), entry.size & 0xFF);
        EXPECT_EQ(r.Take<BYTE>(), 0);  // colour count
        EXPECT_EQ(r.Take<BYTE>(), 0);
        EXPECT_EQ(r.Take<WORD>(), 1);  // planes
        EXPECT_EQ(r.Take<WORD>(), entry.bits);
        EXPECT_EQ(r.Take<DWORD>(), entry.bytes);
        EXPECT_EQ(r.Take<WORD>(), id);

        Bytes image = Resource(3, id, 1033);
        ASSERT_EQ(image.size(), entry.bytes);
        EXPECT_TRUE(image == IcoImage(id - 1)) << "the image of res/keymend.ico, unchanged";
        Reader header(image);
        EXPECT_EQ(header.Take<DWORD>(), 40u);
        EXPECT_EQ(header.Take<LONG>(), entry.size);
        EXPECT_EQ(header.Take<LONG>(), 2 * entry.size) << "colour image and mask";
        EXPECT_EQ(header.Take<WORD>(), 1);
        EXPECT_EQ(header.Take<WORD>(), entry.bits);
        EXPECT_EQ(header.Take<DWORD>(), 0u) << "uncompressed, not PNG";
        std::size_t palette = entry.bits == 8 ? 1024 : 0;
        std::size_t pixels = static_cast<std::size_t>(entry.size * entry.size * entry.bits / 8);
        std::size_t mask = static_cast<std::size_t>((entry.size + 31) / 32 * 4 * entry.size);
        EXPECT_EQ(image.size(), 40 + palette + pixels + mask);
        ++id;
    }
    // What the window paints: the loader finds a 48 x 48 image in the group.
    HICON icon = static_cast<HICON>(
        LoadImageW(Image(), MAKEINTRESOURCEW(1), IMAGE_ICON, 48, 48, LR_DEFAULTCOLOR));
    ASSERT_NE(icon, nullptr);
    ICONINFO info;
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP colour;
    GetObjectW(info.hbmColor, sizeof colour, &colour);
    EXPECT_EQ(colour.bmWidth, 48);
    EXPECT_EQ(colour.bmHeight, 48);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);
}

TEST(Resources, ManifestAsksForAdministratorAndCommonControls6) {
    Bytes bytes = Resource(24, 1, 1041);
    std::string manifest(bytes.begin(), bytes.end());
    const char* inOrder[] = {
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>",
        "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">",
        "<assemblyIdentity version=\"1.0.0.0\" processorArchitecture=\"amd64\" "
        "name=\"Duva.Fix.KeyMend\" type=\"win32\"",
        "<description>DUVA MIDI Driver Fix Tool</description>",
        "<dependency>",
        "<dependentAssembly>",
        "<assemblyIdentity type=\"win32\" name=\"Microsoft.Windows.Common-Controls\" "
        "version=\"6.0.0.0\" processorArchitecture=\"amd64\" "
        "publicKeyToken=\"6595b64144ccf1df\" language=\"*\"",
        "<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">",
        "<security>",
        "<requestedPrivileges>",
        "<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"",
        "</assembly>"};
    std::size_t at = 0;
    for (const char* part : inOrder) {
        std::size_t found = manifest.find(part, at);
        EXPECT_NE(found, std::string::npos) << "missing or out of order: " << part;
        if (found != std::string::npos) {
            at = found + std::strlen(part);
        }
    }
}

// One node of the version block: length, value length, type, key, value,
// children, each on 32-bit boundaries.
struct VersionNode {
    std::u16string key;
    Bytes value;
    std::vector<VersionNode> children;
};

VersionNode ParseVersionNode(const Bytes& bytes, std::size_t begin) {
    Reader r(bytes);
    r.Seek(begin);
    WORD length = r.Take<WORD>();
    WORD valueLength = r.Take<WORD>();
    WORD type = r.Take<WORD>();
    VersionNode node;
    node.key = r.TakeText();
    r.Align4();
    std::size_t valueBytes = type == 1 ? valueLength * 2u : valueLength;
    node.value.assign(
        bytes.begin() + static_cast<long>(r.offset()),
        bytes.begin() + static_cast<long>(std::min(bytes.size(), r.offset() + valueBytes)));
    r.Seek(r.offset() + valueBytes);
    r.Align4();
    while (r.offset() + 6 <= begin + length && r.offset() < bytes.size()) {
        VersionNode child = ParseVersionNode(bytes, r.offset());
        Reader peek(bytes);
        peek.Seek(r.offset());
        WORD childLength = peek.Take<WORD>();
        if (childLength == 0)
            break;
        node.children.push_back(child);
        r.Seek(r.offset() + childLength);
        r.Align4();
    }
    return node;
}

std::u16string AsText(const Bytes& value) {
    std::u16string text(value.size() / 2, u'\0');
    std::memcpy(text.data(), value.data(), text.size() * 2);
    while (!text.empty() && text.back() == u'\0')
        text.pop_back();
    return text;
}

TEST(Resources, VersionBlock) {
    Bytes bytes = Resource(16, 1, 1033);
    ASSERT_FALSE(bytes.empty());
    VersionNode root = ParseVersionNode(bytes, 0);
    EXPECT_TRUE(root.key == u"VS_VERSION_INFO");
    ASSERT_EQ(root.value.size(), sizeof(VS_FIXEDFILEINFO));
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, root.value.data(), sizeof fixed);
    EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed.dwStrucVersion, 0x00010000u);
    EXPECT_EQ(fixed.dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed.dwFileVersionLS, 0u);
    EXPECT_EQ(fixed.dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed.dwProductVersionLS, 0u);
    EXPECT_EQ(fixed.dwFileFlagsMask, 0u);
    EXPECT_EQ(fixed.dwFileFlags, 0u);
    EXPECT_EQ(fixed.dwFileOS, 0x00040004u);
    EXPECT_EQ(fixed.dwFileType, 1u);
    EXPECT_EQ(fixed.dwFileSubtype, 0u);
    EXPECT_EQ(fixed.dwFileDateMS, 0u);
    EXPECT_EQ(fixed.dwFileDateLS, 0u);

    ASSERT_EQ(root.children.size(), 2u);
    const VersionNode& strings = root.children[0];
    EXPECT_TRUE(strings.key == u"StringFileInfo");
    ASSERT_EQ(strings.children.size(), 1u);
    const VersionNode& table = strings.children[0];
    EXPECT_TRUE(table.key == u"040904e4");
    const std::u16string keys[] = {u"CompanyName",   u"FileDescription", u"FileVersion",
                                   u"InternalName",  u"LegalCopyright",  u"OriginalFilename",
                                   u"ProductVersion"};
    const std::u16string values[] = {
        u"DUVA Inc.", u"DUVA Driver Fix Tool", u"1.0",       u"KeyMend",
        u"",          u"KEYMEND.EXE",          u"1, 0, 0, 0"};
    ASSERT_EQ(table.children.size(), 7u);
    for (std::size_t i = 0; i < 7; ++i) {
        EXPECT_TRUE(table.children[i].key == keys[i]) << i;
        if (!values[i].empty()) {
            EXPECT_TRUE(AsText(table.children[i].value) == values[i]) << i;
        } else {
            EXPECT_NE(AsText(table.children[i].value).find(u"DUVA Inc."), std::u16string::npos);
        }
    }
    const VersionNode& variables = root.children[1];
    EXPECT_TRUE(variables.key == u"VarFileInfo");
    ASSERT_EQ(variables.children.size(), 1u);
    EXPECT_TRUE(variables.children[0].key == u"Translation");
    EXPECT_EQ(variables.children[0].value, (Bytes{0x09, 0x04, 0xE4, 0x04}));
}

}  // namespace
