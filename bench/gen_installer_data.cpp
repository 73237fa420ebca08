// Writes the synthetic installer data as a .reg file, for looking at it or
// importing it by hand (`reg import`) into a scratch registry.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "installer_data.h"

int main(int argc, char** argv) {
    InstallerDataOptions options;
    const char* output = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--keys=", 7) == 0) {
            options.keys = std::strtoull(argv[i] + 7, nullptr, 10);
        } else if (std::strncmp(argv[i], "--seed=", 7) == 0) {
            options.seed = std::strtoull(argv[i] + 7, nullptr, 0);
        } else if (std::strcmp(argv[i], "--damaged") == 0) {
            options.damagedProduct = true;
        } else if (std::strncmp(argv[i], "--output=", 9) == 0) {
            output = argv[i] + 9;
        } else {
            std::fprintf(stderr,
                         "usage: %s [--keys=N] [--damaged] [--seed=N] [--output=FILE]\n"
                         "  N keys below UserData (at least %zu); --damaged adds the 1.11\n"
                         "  registration last in walk order; standard output by default\n",
                         argv[0], kMinimumInstallerDataKeys);
            return 2;
        }
    }
    InstallerDataSummary summary;
    std::string text = InstallerDataRegText(options, &summary);
    std::FILE* file = output ? std::fopen(output, "wb") : stdout;
    if (file == nullptr || std::fwrite(text.data(), 1, text.size(), file) != text.size() ||
        (output && std::fclose(file) != 0)) {
        std::fprintf(stderr, "cannot write %s\n", output ? output : "standard output");
        return 1;
    }
    std::fprintf(stderr, "%zu keys below UserData, %zu under HKEY_USERS, %zu products\n",
                 summary.dataKeys, summary.productKeys, summary.products);
    if (!summary.damagedDataPath.empty()) {
        std::fprintf(stderr, "damaged: HKEY_LOCAL_MACHINE\\%s\n", summary.damagedDataPath.c_str());
    }
    return 0;
}
