// Writes the icon of KEYMEND.EXE. Regenerate res/keymend.ico from the repository root with:
//   cmake -S tools/make_icon -B build-icon && cmake --build build-icon &&
//   build-icon/make_icon res/keymend.ico
#include <cstdio>
#include <fstream>
#include <map>

#include "artwork.h"
#include "ico_file.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_icon OUTPUT.ico\n");
        return 2;
    }
    using namespace make_icon;
    std::map<int, Image> pictures;
    for (int size : {16, 32, 48, 256}) {
        pictures[size] = DrawPicture(size);
    }
    // The order of the icon group: the 8-bit images first, then the 32-bit ones from the largest.
    std::vector<IconEntry> entries;
    for (int size : {48, 32, 16}) {
        entries.push_back({size, 8, EncodeDib8(pictures[size])});
    }
    for (int size : {256, 48, 32, 16}) {
        entries.push_back({size, 32, EncodeDib32(pictures[size])});
    }
    Bytes ico = BuildIco(entries);
    std::ofstream out(argv[1], std::ios::binary);
    out.write(reinterpret_cast<const char*>(ico.data()), static_cast<std::streamsize>(ico.size()));
    if (!out.flush()) {
        std::fprintf(stderr, "make_icon: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
