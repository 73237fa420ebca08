// libFuzzer target for the .reg loader the scenarios are written in: a file
// loads whole or not at all, a refusal names a line of the file, and what
// loads writes back to a text that loads to the same registry.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "memory/reg_file.h"

namespace {

void Fail(const char* what, int line) {
    std::fprintf(stderr, "%s (line %d)\n", what, line);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    MemoryRegistry registry;
    if (!LoadRegFile(registry, "REGEDIT4\n[HKEY_USERS\\Kept]\n\"v\"=\"1\"\n", nullptr)) {
        Fail("the base file did not load", 0);
    }
    std::string before = WriteRegFile(registry, RegFileFormat::Regedit4);
    RegFileError error;
    if (!LoadRegFile(registry, text, &error)) {
        // A UTF-16 file may have fewer lines than bytes suggest; never more.
        int lines = 1 + static_cast<int>(std::count(text.begin(), text.end(), '\n'));
        if (error.line < 0 || error.line > lines || error.message.empty()) {
            Fail("refusal without a line of the file", error.line);
        }
        if (WriteRegFile(registry, RegFileFormat::Regedit4) != before) {
            Fail("half-loaded", error.line);
        }
        return 0;
    }
    for (RegFileFormat format : {RegFileFormat::Regedit4, RegFileFormat::Version5}) {
        std::string written = WriteRegFile(registry, format);
        MemoryRegistry again;
        RegFileError againError;
        if (!LoadRegFile(again, written, &againError)) {
            Fail("what was written does not load", againError.line);
        }
        if (WriteRegFile(again, RegFileFormat::Regedit4) !=
            WriteRegFile(registry, RegFileFormat::Regedit4)) {
            Fail("what was written loads to another registry", 0);
        }
    }
    return 0;
}
