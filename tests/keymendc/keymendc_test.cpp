// keymendc.exe beyond the scenarios: the backup restores exactly, refusals
// touch nothing, and every bad command line gives 87 and the usage.
#include <gtest/gtest.h>

#include <cstring>
#include <nlohmann/json.hpp>
#include <vector>

#include "e2e/system_state.h"
#include "keymendc_run.h"
#include "support/win32_live_area.h"
#include "support/win32_registry_mirror.h"

namespace {

const std::wstring kProductKey =
    L"HKEY_USERS\\S-1-5-21-1111111111-2222222222-3333333333-1001\\Software\\Microsoft\\Installer"
    L"\\Products\\C5B4A39281706F5E4D3C2B1A09F8E7D6";
const std::wstring kDataKey =
    L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-"
    L"21-1111111111-2222222222-3333333333-1001\\Products\\C5B4A39281706F5E4D3C2B1A09F8E7D6";

std::string Text(const std::wstring& text) {
    return std::string(reinterpret_cast<const char*>(text.c_str()),
                       (text.size() + 1) * sizeof(wchar_t));
}

std::string Wide(const wchar_t* text, std::size_t chars) {
    return std::string(reinterpret_cast<const char*>(text), chars * sizeof(wchar_t));
}

std::string Bytes(std::size_t count) {
    std::string bytes;
    for (std::size_t i = 0; i < count; ++i) {
        bytes += static_cast<char>(i * 7 + 1);
    }
    return bytes;
}

// Values beside the damaged registration's own, written through the wide
// calls: every type, names beyond ASCII, a default value, an empty key.
// Not a REG_SZ without its terminating NUL: Wine's reg import cuts the
// last character of such hex(1) data, which Windows keeps.
struct ExtraValue {
    bool inProduct;
    const wchar_t* subkey;
    const wchar_t* name;  // nullptr: the key only
    DWORD type;
    std::string data;
};

const std::vector<ExtraValue>& ExtraValues() {
    static const std::vector<ExtraValue> values = {
        {true, L"", L"", REG_SZ, Text(L"default value")},
        {true, L"Types", L"none", REG_NONE, std::string("\x01\x02", 2)},
        {true, L"Types", L"quoted", REG_SZ, Text(L"a \"quoted\" C:\\path\\ and ; = @")},
        {true, L"Types", L"empty text", REG_SZ, Text(L"")},
        {true, L"Types", L"two lines", REG_SZ, Text(L"one\r\ntwo")},
        {true, L"Types", L"expand", REG_EXPAND_SZ, Text(L"%SystemRoot%\\system32")},
        {true, L"Types", L"binary", REG_BINARY, Bytes(100)},
        {true, L"Types", L"binary empty", REG_BINARY, std::string()},
        {true, L"Types", L"dword", REG_DWORD, std::string("\x01\x00\x00\x2a", 4)},
        {true, L"Types", L"dword short", REG_DWORD, std::string("\x01\x02", 2)},
        {true, L"Types", L"big endian", REG_DWORD_BIG_ENDIAN, std::string("\x2a\0\0\x01", 4)},
        {true, L"Types", L"multi", REG_MULTI_SZ, Wide(L"one\0two\0", 9)},
        {true, L"Types", L"qword", REG_QWORD, Bytes(8)},
        {true, L"Types", L"resource list", REG_RESOURCE_LIST, Bytes(12)},
        {false, L"Gr\u00f6\u00dfe \u00f1", L"\u30b5\u30a4\u30ba \u2713", REG_SZ,
         Text(L"\u00dcn\u00efc\u00f8d\u00e9 \u65e5\u672c")},
        {false, L"Empty", nullptr, REG_NONE, std::string()},
    };
    return values;
}

HKEY RootOf(const std::wstring& key) {
    return key.rfind(L"HKEY_USERS\\", 0) == 0 ? HKEY_USERS : HKEY_LOCAL_MACHINE;
}

std::wstring PathOf(const std::wstring& key) {
    return key.substr(key.find(L'\\') + 1);
}

bool WriteExtraValues() {
    for (const ExtraValue& value : ExtraValues()) {
        const std::wstring& top = value.inProduct ? kProductKey : kDataKey;
        std::wstring path = PathOf(top) + (*value.subkey ? L"\\" : L"") + value.subkey;
        HKEY key = nullptr;
        if (RegCreateKeyExW(RootOf(top), path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr) != ERROR_SUCCESS) {
            return false;
        }
        LONG result = value.name == nullptr
                          ? ERROR_SUCCESS
                          : RegSetValueExW(key, value.name, 0, value.type,
                                           reinterpret_cast<const BYTE*>(value.data.data()),
                                           static_cast<DWORD>(value.data.size()));
        RegCloseKey(key);
        if (result != ERROR_SUCCESS) {
            return false;
        }
    }
    return true;
}

// A tree read back through the wide calls: every key, and every value's
// name, type and bytes exactly. reg.exe export would not do: Wine's writes
// a REG_DWORD of two bytes as four.
void ReadBack(HKEY key, const std::wstring& name, std::string* text) {
    *text += "[" + WideToUtf8(name) + "]\n";
    wchar_t valueName[16384];
    BYTE data[4096];
    for (DWORD index = 0;; ++index) {
        DWORD nameChars = 16384;
        DWORD size = sizeof data;
        DWORD type = 0;
        if (RegEnumValueW(key, index, valueName, &nameChars, nullptr, &type, data, &size) !=
            ERROR_SUCCESS) {
            break;
        }
        *text +=
            WideToUtf8(std::wstring(valueName, nameChars)) + " type " + std::to_string(type) + ":";
        for (DWORD i = 0; i < size; ++i) {
            *text += " " + std::to_string(data[i]);
        }
        *text += "\n";
    }
    wchar_t childName[256];
    for (DWORD index = 0;; ++index) {
        DWORD chars = 256;
        HKEY child = nullptr;
        if (RegEnumKeyExW(key, index, childName, &chars, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS ||
            RegOpenKeyExW(key, childName, 0, KEY_READ, &child) != ERROR_SUCCESS) {
            break;
        }
        ReadBack(child, name + L"\\" + childName, text);
        RegCloseKey(child);
    }
}

// Both trees; "(none)" for a tree that is gone.
std::string ReadBackBothTrees() {
    std::string text;
    for (const std::wstring& top : {kProductKey, kDataKey}) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(RootOf(top), PathOf(top).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
            text += "(none)\n";
            continue;
        }
        ReadBack(key, top, &text);
        RegCloseKey(key);
    }
    return text;
}

// The damaged registration on the live registry for one test.
class DamagedRegistration : public ::testing::Test {
  protected:
    void SetUp() override {
        Scenario scenario;
        scenario.registryFiles = {KEYMEND_SCENARIO_DIR "/base/damaged_product.reg"};
        MemoryRegistry seed;
        std::string error;
        ASSERT_TRUE(LoadScenarioRegistry(scenario, seed, &error)) << error;
        ASSERT_TRUE(live_.Seed(seed, &error)) << error;
    }
    void TearDown() override {
        std::string error;
        EXPECT_TRUE(live_.Remove(&error)) << error;
    }
    LiveArea live_;
};

std::vector<std::wstring> FilesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            names.push_back(found.cFileName);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

std::wstring EmptyFolder(const wchar_t* name) {
    wchar_t full[MAX_PATH];
    GetFullPathNameW(name, MAX_PATH, full, nullptr);
    for (const std::wstring& file : FilesIn(full)) {
        DeleteFileW((std::wstring(full) + L"\\" + file).c_str());
    }
    RemoveDirectoryW(full);
    return full;
}

using KeymendcBackup = DamagedRegistration;

TEST_F(KeymendcBackup, RegImportRestoresBothTreesExactly) {
    ASSERT_TRUE(WriteExtraValues());
    std::string before = ReadBackBothTrees();
    ASSERT_EQ(before.find("(none)"), std::string::npos) << before;
    // Beyond ASCII and the ANSI code page: the JSON must still name it right.
    std::wstring folder = EmptyFolder(L"keymendc backups \u00fc\u65e5");

    ProgramRun repair = RunKeymendc(L"repair --json --backup \"" + folder + L"\"");
    ASSERT_EQ(repair.exitCode, 0u) << repair.out;
    nlohmann::json report = nlohmann::json::parse(repair.out, nullptr, false);
    ASSERT_TRUE(report.is_object()) << repair.out;
    EXPECT_EQ(report["outcome"], "removed");
    std::vector<std::wstring> files = FilesIn(folder);
    ASSERT_EQ(files.size(), 1u) << "the backup alone, no partial file";
    std::wstring file = folder + L"\\" + files[0];
    EXPECT_EQ(report["backup"]["file"], WideToUtf8(file));
    EXPECT_EQ(ReadBackBothTrees(), "(none)\n(none)\n");

    ProgramRun import = RunRegExe(L"import \"" + file + L"\"");
    EXPECT_EQ(import.exitCode, 0u) << import.out << import.err;
    EXPECT_EQ(ReadBackBothTrees(), before);
}

TEST_F(KeymendcBackup, FolderThatCannotBeWrittenDeletesNothing) {
    std::string before = ReadBackBothTrees();
    ProgramRun repair = RunKeymendc(L"repair --json --backup C:\\keymendc-missing\\deeper");
    EXPECT_EQ(repair.exitCode, 29u) << repair.out;
    nlohmann::json report = nlohmann::json::parse(repair.out, nullptr, false);
    ASSERT_TRUE(report.is_object()) << repair.out;
    EXPECT_EQ(report["outcome"], "backup-failed");
    EXPECT_TRUE(report["deletions"].empty());
    EXPECT_EQ(report["backup"]["file"], nullptr);
    EXPECT_EQ(ReadBackBothTrees(), before);
}

// Held by "another installation" for the life of one test.
class InstallerMutex {
  public:
    InstallerMutex() : mutex_(CreateMutexW(nullptr, TRUE, L"Global\\_MSIExecute")) {}
    ~InstallerMutex() {
        if (mutex_ != nullptr) {
            ReleaseMutex(mutex_);
            CloseHandle(mutex_);
        }
    }
    InstallerMutex(const InstallerMutex&) = delete;
    InstallerMutex& operator=(const InstallerMutex&) = delete;
    bool active() const { return mutex_ != nullptr; }

  private:
    HANDLE mutex_;
};

using KeymendcRefusal = DamagedRegistration;

void ExpectRefusal(DWORD exitCode, const char* summary) {
    std::string before = ReadBackBothTrees();
    for (const wchar_t* command : {L"check", L"repair", L"repair --backup C:\\windows\\temp"}) {
        ProgramRun run = RunKeymendc(command);
        EXPECT_EQ(run.exitCode, exitCode) << command;
        EXPECT_EQ(LastLine(run.out).rfind(summary, 0), 0u) << run.out;
        EXPECT_EQ(run.err, "");
    }
    EXPECT_EQ(ReadBackBothTrees(), before);
}

TEST_F(KeymendcRefusal, WindowsInstallerBusyGives1618) {
    InstallerMutex installer;
    ASSERT_TRUE(installer.active());
    ExpectRefusal(1618, "Busy: ");
}

TEST_F(KeymendcRefusal, NoAdministratorRightsGives2) {
    DriverListReadOnly readOnly;
    ASSERT_TRUE(readOnly.active());
    ASSERT_FALSE(DriverListWritable());
    ExpectRefusal(2, "Refused: ");
}

struct BadCommandLine {
    const wchar_t* arguments;
    DWORD exitCode;
    bool usageOnStdout;  // asked for, or no argument at all
};

const BadCommandLine kCommandLines[] = {
    {L"", 87, true},
    {L"/?", 0, true},
    {L"--help", 0, true},
    {L"repair --backup C:\\x -h", 0, true},
    {L"fix", 87, false},
    {L"check repair", 87, false},
    {L"--json", 87, false},
    {L"check --jsn", 87, false},
    {L"check --backup C:\\x", 87, false},
    {L"repair --backup", 87, false},
    {L"repair --backup \"\"", 87, false},
    {L"repair --backup C:\\x --backup C:\\y", 87, false},
    {L"check /x", 87, false},
};

using KeymendcCommandLine = DamagedRegistration;

TEST_F(KeymendcCommandLine, EachBadLineGivesItsCodeAndTheUsage) {
    std::string before = ReadBackBothTrees();
    for (const BadCommandLine& line : kCommandLines) {
        ProgramRun run = RunKeymendc(line.arguments);
        std::string arguments(line.arguments, line.arguments + std::wcslen(line.arguments));
        EXPECT_EQ(run.exitCode, line.exitCode) << arguments;
        const std::string& usage = line.usageOnStdout ? run.out : run.err;
        const std::string& other = line.usageOnStdout ? run.err : run.out;
        EXPECT_NE(usage.find("Usage: keymendc check"), std::string::npos) << arguments;
        EXPECT_EQ(other, "") << arguments;
    }
    EXPECT_EQ(ReadBackBothTrees(), before) << "a bad command line ran something";
}

}  // namespace
