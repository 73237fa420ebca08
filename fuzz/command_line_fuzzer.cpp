// libFuzzer target for the command-line scan: any bytes, read only up to
// their terminator, give what the switch rule says.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Exactly the input and its terminator: a read beyond is an ASan error.
    std::unique_ptr<char[]> line(new char[size + 1]);
    std::memcpy(line.get(), data, size);
    line[size] = '\0';

    std::uint16_t expectedLanguage = 7;
    bool expectedDiagnostic = false;
    const char* slash = std::strchr(line.get(), '/');
    for (const char* c = slash ? slash + 1 : ""; *c != '\0'; ++c) {
        expectedLanguage = *c == 'e' ? 9 : *c == 'j' ? 17 : expectedLanguage;
        expectedDiagnostic = expectedDiagnostic || *c == 'x';
    }

    std::uint16_t language = 7;
    bool diagnostic = false;
    ScanCommandLine(line.get(), &language, &diagnostic);
    if (language != expectedLanguage || diagnostic != expectedDiagnostic) {
        std::abort();
    }
    return 0;
}
