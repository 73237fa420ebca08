#include "command_line.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    const char* commandLine;
    std::uint16_t language;  // after starting from 1041's primary, 17
    bool diagnostic;
};

TEST(ScanCommandLine, SwitchesFollowTheFirstSlash) {
    const Case cases[] = {
        {"", 17, false},
        {"/e", 9, false},
        {"/e /j", 17, false},
        {"/j /e", 9, false},
        {"/xj", 17, true},
        {"/ej", 17, false},
        {"ejx", 17, false},                      // no slash anywhere before them
        {"path\\ex /j", 17, false},              // letters before the first slash do nothing
        {"/E /J /X", 17, false},                 // capitals do nothing
        {"/x C:\\temp\\ProgramFiles", 9, true},  // the "e" of the path selects English
        {"/", 17, false},
        {"/x/", 17, true},
        {"abc/", 17, false},
        {"/\xE6\x97\xA5j", 17, false},  // bytes, not characters: the j still counts
        {"/\x83\x65", 9, false},        // a Shift-JIS trail byte that is "e" counts too
    };
    for (const Case& c : cases) {
        std::uint16_t language = 17;
        bool diagnostic = false;
        ScanCommandLine(c.commandLine, &language, &diagnostic);
        EXPECT_EQ(language, c.language) << '"' << c.commandLine << '"';
        EXPECT_EQ(diagnostic, c.diagnostic) << '"' << c.commandLine << '"';
    }
}

TEST(ScanCommandLine, KeepsTheSystemLanguageWithoutSwitches) {
    std::uint16_t language = 7;  // German stays 7, not normalised to English
    bool diagnostic = false;
    ScanCommandLine("/x", &language, &diagnostic);
    EXPECT_EQ(language, 7);
    ScanCommandLine(nullptr, &language, &diagnostic);
    EXPECT_EQ(language, 7);
    EXPECT_TRUE(diagnostic);
}

}  // namespace
