// Input from outside the registry: the command line, read byte by byte, and
// the scenario .reg files the tests are written in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>

#include "command_line.h"
#include "memory/reg_file.h"
#include "scenario/scenario.h"

namespace {

// The switch rule, stated once more: after the first "/", every e, j and x
// counts; the terminator ends the scan.
void ModelScan(const std::string& line, std::uint16_t* language, bool* diagnostic) {
    std::size_t slash = line.find('/');
    std::size_t end = line.find('\0');
    if (slash == std::string::npos || slash > end) {
        return;
    }
    for (std::size_t i = slash + 1; i < line.size() && line[i] != '\0'; ++i) {
        if (line[i] == 'e') {
            *language = 9;
        } else if (line[i] == 'j') {
            *language = 17;
        } else if (line[i] == 'x') {
            *diagnostic = true;
        }
    }
}

// Scans a copy in a buffer of exactly its size, so that a read past the
// terminator is a sanitizer error and not a silent pass.
void CheckAgainstModel(const std::string& line) {
    std::unique_ptr<char[]> exact(new char[line.size() + 1]);
    std::memcpy(exact.get(), line.data(), line.size());
    exact[line.size()] = '\0';
    std::uint16_t language = 7;
    bool diagnostic = false;
    ScanCommandLine(exact.get(), &language, &diagnostic);
    std::uint16_t modelLanguage = 7;
    bool modelDiagnostic = false;
    ModelScan(line, &modelLanguage, &modelDiagnostic);
    ASSERT_EQ(language, modelLanguage) << "line of " << line.size() << " bytes";
    ASSERT_EQ(diagnostic, modelDiagnostic) << "line of " << line.size() << " bytes";
}

TEST(CommandLine, RandomBytesFollowTheRule) {
    std::mt19937 random(4);
    // Mostly the bytes that matter, so that every order of them occurs.
    const char kLikely[] = {'/', 'e', 'j', 'x', 'E', 'J', 'X', ' ', '\0', '\x83', '\xFF', '"'};
    for (int i = 0; i < 200000; ++i) {
        std::string line(random() % 24, ' ');
        for (char& c : line) {
            c = random() % 3 ? kLikely[random() % sizeof kLikely]
                             : static_cast<char>(random() % 256);
        }
        CheckAgainstModel(line);
    }
}

TEST(CommandLine, VeryLongLinesAndFinalSlashes) {
    std::string megabyte(1 << 20, 'a');
    for (std::string line : {megabyte, "/" + megabyte + "x", megabyte + "/j", megabyte + "/",
                             std::string(1 << 20, '/'), "/" + std::string((1 << 20) - 1, 'e')}) {
        CheckAgainstModel(line);
        CheckAgainstModel(line + "/");
        CheckAgainstModel("/x" + line + "/");
    }
    for (const char* line : {"/", "//", "x/", "/j/", "/e /", "/e\0j"}) {
        CheckAgainstModel(line);
    }
}

struct MalformedFile {
    const char* text;
    int line;  // of the fault
};

const MalformedFile kMalformedFiles[] = {
    {"", 1},
    {"REGEDIT5\n", 1},
    {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\A\n", 3},
    {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]x\n", 2},
    {"REGEDIT4\n[HKEY_CURRENT_USER\\A]\n", 2},
    {"REGEDIT4\n[HKLX\\A]\n", 2},
    {"REGEDIT4\n[-HKEY_USERS]\n", 2},
    {"REGEDIT4\n\"a\"=\"b\"\n", 2},
    {"REGEDIT4\n[HKEY_USERS\\A]\n\"a\"=\"b\n", 3},
    {"REGEDIT4\n[HKEY_USERS\\A]\n\"a\"=dword:123456789\n", 3},
    {"REGEDIT4\n[HKEY_USERS\\A]\n\"a\"=dword:\n", 3},
    {"REGEDIT4\n[HKEY_USERS\\A]\n\"a\"=dword:1g\n", 3},
    {"REGEDIT4\n[HKEY_USERS\\A]\n\"a\"=hex:0,1z\n", 3},
    {"REGEDIT4\n[HKEY_USERS\\A]\n\"a\"=hex:001\n", 3},
    {"REGEDIT4\n[HKEY_USERS\\A]\n\"a\"=hex:00,\\\n", 3},
    {"REGEDIT4\n[HKEY_USERS\\A]\n\"a\"=hex(1ffffffff):00\n", 3},
    {"REGEDIT4\n[HKEY_USERS\\A]\n\"a\"=hex(:00\n", 3},
    {"REGEDIT4\n[HKEY_USERS\\A]\n\"a\"=word:1\n", 3},
    {"REGEDIT4\n[HKEY_USERS\\A]\n\"a\"\n", 3},
    {"REGEDIT4\n[HKEY_USERS\\A]\n\"a=\"b\"\n", 3},
    {"REGEDIT4\n[HKEY_USERS\\A]\n\"a\"=\"b\" x\n", 3},
    {"REGEDIT4\n[HKEY_USERS\\A]\n\"a\"=-x\n", 3},
    {"REGEDIT4\n[-HKEY_USERS\\A]\n\"a\"=\"b\"\n", 3},
    {"REGEDIT4\n[HKEY_USERS\\A]\nvalue\n", 3},
    {"REGEDIT4\r\n[HKEY_USERS\\A]\r\n\r\n\"a\"=dword:x\r\n", 4},
};

TEST(RegFile, MalformedFileNamesItsLineAndLoadsNothing) {
    const std::string kAlready = "REGEDIT4\n[HKEY_USERS\\Kept]\n\"v\"=\"1\"\n";
    for (const MalformedFile& file : kMalformedFiles) {
        for (const std::string& longer : {std::string(), std::string("[HKEY_USERS\\Half]\n")}) {
            // The same fault after a line that would load: still nothing.
            std::string text = file.text;
            int line = file.line;
            // (A value line needs a key before it: a key line ahead would mend it.)
            if (!longer.empty() && text.size() > 9 && text.rfind("REGEDIT4\n", 0) == 0 &&
                text[9] != '"') {
                text.insert(9, longer);
                ++line;
            }
            SCOPED_TRACE(text);
            MemoryRegistry registry;
            ASSERT_TRUE(LoadRegFile(registry, kAlready, nullptr));
            std::string before = WriteRegFile(registry, RegFileFormat::Regedit4);
            RegFileError error;
            EXPECT_FALSE(LoadRegFile(registry, text, &error));
            EXPECT_EQ(error.line, line) << error.message;
            EXPECT_FALSE(error.message.empty());
            EXPECT_EQ(WriteRegFile(registry, RegFileFormat::Regedit4), before) << "half-loaded";
        }
    }
}

// Every scenario file, cut short and with bytes replaced by the format's
// own punctuation: each either loads, or fails on a line it has and leaves
// the registry as it was.
TEST(RegFile, DamagedScenarioFilesLoadWholeOrNotAtAll) {
    const char kPunctuation[] = {'[', ']', '"', '\\', '=', ':', ',', '\n', '-', '@', '\0', '\xFF'};
    std::mt19937 random(11);
    int cases = 0;
    int refused = 0;
    for (const std::string& path : ListScenarioFiles(ScenarioDir())) {
        std::ifstream in(path, std::ios::binary);
        std::string original((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
        for (int round = 0; round < 60; ++round) {
            std::string text = original;
            if (round % 3 == 0) {
                text.resize(random() % (text.size() + 1));
            } else {
                for (int n = 0; n <= round % 4; ++n) {
                    text[random() % text.size()] = kPunctuation[random() % sizeof kPunctuation];
                }
            }
            MemoryRegistry registry;
            ASSERT_TRUE(LoadRegFile(registry, "REGEDIT4\n[HKEY_USERS\\Kept]\n", nullptr));
            std::string before = WriteRegFile(registry, RegFileFormat::Regedit4);
            RegFileError error;
            ++cases;
            if (LoadRegFile(registry, text, &error)) {
                continue;
            }
            ++refused;
            int lines = 1 + static_cast<int>(std::count(text.begin(), text.end(), '\n'));
            EXPECT_GE(error.line, 1) << path << " round " << round;
            EXPECT_LE(error.line, lines) << path << " round " << round;
            EXPECT_EQ(WriteRegFile(registry, RegFileFormat::Regedit4), before)
                << path << " round " << round << ": half-loaded";
        }
    }
    std::cout << "[ reg file ] " << cases << " damaged files, " << refused << " refused\n";
}

TEST(ScenarioFile, MalformedDirectiveNamesFileAndLine) {
    std::string path = ::testing::TempDir() + "malformed_directive.reg";
    std::ofstream(path) << "REGEDIT4\n; outcome: removed\n; inject: open x 5\n";
    Scenario scenario;
    std::string error;
    EXPECT_FALSE(ReadScenario(path, &scenario, &error));
    EXPECT_NE(error.find(path + ":3:"), std::string::npos) << error;

    std::ofstream(path) << "REGEDIT4\n; outcome: removed\n[HKEY_USERS\\A]\n\"v\"=hex:zz\n";
    ASSERT_TRUE(ReadScenario(path, &scenario, &error)) << error;
    MemoryRegistry registry;
    EXPECT_FALSE(LoadScenarioRegistry(scenario, registry, &error));
    EXPECT_NE(error.find(path + ":4:"), std::string::npos) << error;
    EXPECT_EQ(registry.KeyCount(), 0u);
}

}  // namespace
