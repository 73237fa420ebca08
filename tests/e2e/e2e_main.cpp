// The end-to-end tests: KEYMEND.EXE started, driven and watched from this
// program, in the same Wine prefix, on a display of its own.
//
//   keymend_e2e.exe --system=english|japanese|german [GoogleTest flags]
//
// The system's language comes from the environment (LC_ALL for Wine); it is
// checked first, since a Japanese or German run that silently got an English
// system would prove nothing. On a German system every text is English.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "driver.h"
#include "expected_texts.h"
#include "system_state.h"

Language SystemLanguage() {
    return (GetSystemDefaultLangID() & 0x3FF) == 17 ? Language::Japanese : Language::English;
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const char* wanted = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--system=", 9) == 0) {
            wanted = argv[i] + 9;
        }
    }
    struct System {
        const char* name;
        LANGID primaryLanguage;
    };
    const System systems[] = {
        {"english", LANG_ENGLISH}, {"japanese", LANG_JAPANESE}, {"german", LANG_GERMAN}};
    bool matches = false;
    for (const System& system : systems) {
        matches = matches || (wanted != nullptr && std::strcmp(wanted, system.name) == 0 &&
                              PRIMARYLANGID(GetSystemDefaultLangID()) == system.primaryLanguage);
    }
    if (!matches) {
        std::fprintf(stderr,
                     "expected --system=english|japanese|german matching the system; it "
                     "reports language 0x%04x\n",
                     GetSystemDefaultLangID());
        return 1;
    }
    // It would take every start of the tests for a second instance.
    if (FindWindowW(L"KEYMEND", nullptr) != nullptr) {
        std::fprintf(stderr, "a KEYMEND.EXE runs in this Wine prefix already; end it first\n");
        return 1;
    }
    ForgetReportedVersion(KeymendProgram());
    return RUN_ALL_TESTS();
}
