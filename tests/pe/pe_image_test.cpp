// The built KEYMEND.EXE as Windows 7 SP1 x64 will load it: a GUI program
// with ASLR and NX, importing only system DLLs that every such machine has.
// Built a second time for keymendc.exe, a console program.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "support/test_paths.h"

#ifndef KEYMEND_SUBSYSTEM
#define KEYMEND_SUBSYSTEM 2  // GUI
#endif

namespace {

std::vector<unsigned char> ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(file), {});
}

class PeImage {
  public:
    explicit PeImage(std::vector<unsigned char> bytes) : bytes_(std::move(bytes)) {}

    template <typename T>
    T At(std::size_t offset) const {
        T value{};
        if (offset + sizeof(T) <= bytes_.size()) {
            std::memcpy(&value, bytes_.data() + offset, sizeof(T));
        }
        return value;
    }
    std::size_t Header() const { return At<std::uint32_t>(0x3C); }
    std::size_t Optional() const { return Header() + 24; }

    std::size_t FileOffset(std::uint32_t rva) const {
        std::size_t sections = Optional() + At<std::uint16_t>(Header() + 20);
        for (int i = 0; i < At<std::uint16_t>(Header() + 6); ++i) {
            std::size_t section = sections + static_cast<std::size_t>(i) * 40;
            std::uint32_t address = At<std::uint32_t>(section + 12);
            std::uint32_t size = At<std::uint32_t>(section + 16);
            if (rva >= address && rva < address + size) {
                return rva - address + At<std::uint32_t>(section + 20);
            }
        }
        return bytes_.size();
    }
    std::string StringAt(std::uint32_t rva) const {
        std::string text;
        for (std::size_t offset = FileOffset(rva); offset < bytes_.size() && bytes_[offset];
             ++offset) {
            text += static_cast<char>(bytes_[offset]);
        }
        return text;
    }
    std::vector<std::string> Imports() const {
        std::vector<std::string> imports;
        std::uint32_t directory = At<std::uint32_t>(Optional() + 112 + 8);
        for (std::size_t entry = FileOffset(directory); At<std::uint32_t>(entry + 12) != 0;
             entry += 20) {
            std::string dll = StringAt(At<std::uint32_t>(entry + 12));
            for (char& c : dll)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            std::uint32_t thunks = At<std::uint32_t>(entry);
            for (std::size_t thunk = FileOffset(thunks); At<std::uint64_t>(thunk) != 0;
                 thunk += 8) {
                std::uint64_t value = At<std::uint64_t>(thunk);
                imports.push_back(
                    dll + "!" +
                    ((value >> 63) ? "#ordinal" : StringAt(static_cast<std::uint32_t>(value) + 2)));
            }
        }
        return imports;
    }

  private:
    std::vector<unsigned char> bytes_;
};

PeImage& Keymend() {
    static PeImage image(ReadFile(TestPath(KEYMEND_EXE)));
    return image;
}

TEST(PeImage, IsA64BitGuiProgramWithAslrAndNx) {
    PeImage& image = Keymend();
    ASSERT_EQ(image.At<std::uint32_t>(image.Header()), 0x00004550u);  // "PE\0\0"
    EXPECT_EQ(image.At<std::uint16_t>(image.Header() + 4), 0x8664);   // x64
    EXPECT_EQ(image.At<std::uint16_t>(image.Optional()), 0x20B);      // PE32+
    EXPECT_EQ(image.At<std::uint16_t>(image.Optional() + 68), KEYMEND_SUBSYSTEM);
    std::uint16_t flags = image.At<std::uint16_t>(image.Optional() + 70);
    EXPECT_EQ(flags & 0x0020, 0x0020) << "high-entropy addresses";
    EXPECT_EQ(flags & 0x0040, 0x0040) << "dynamic base";
    EXPECT_EQ(flags & 0x0100, 0x0100) << "NX compatible";
    // Windows 7 is 6.1: the loader refuses an image that asks for more.
    EXPECT_LE(image.At<std::uint16_t>(image.Optional() + 48), 6);
}

// Every import was checked against what Windows 7 SP1 offers; a new one
// must be checked too before it joins this list. The DLLs are all KnownDLLs,
// which Windows never looks for beside the program (the search kept to
// System32 at the entry point covers only what loads after it), or ntdll,
// which the kernel maps into every process before any DLL is looked for.
TEST(PeImage, ImportsOnlyCallsThatWindows7Has) {
    std::set<std::string> allowed;
    std::ifstream list(TestPath(KEYMEND_IMPORT_LIST));
    for (std::string line; std::getline(list, line);) {
        if (!line.empty() && line[0] != '#') {
            allowed.insert(line);
        }
    }
    ASSERT_FALSE(allowed.empty());
    const std::set<std::string> dlls = {"kernel32.dll", "user32.dll", "gdi32.dll",
                                        "advapi32.dll", "msvcrt.dll", "ntdll.dll"};
    std::vector<std::string> imports = Keymend().Imports();
    EXPECT_GT(imports.size(), 20u);
    for (const std::string& import : imports) {
        EXPECT_TRUE(dlls.count(import.substr(0, import.find('!')))) << import;
        EXPECT_TRUE(allowed.count(import)) << "not yet checked against Windows 7: " << import;
    }
}

}  // namespace
