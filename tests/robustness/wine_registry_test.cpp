// The repair against the real registry through advapi32 (run under Wine):
// deep chains, a path of 1023 characters, a key with 100,000 subkeys, long
// subkey names in the target trees, and a second process changing the
// installer data while the repair walks it. All below test-only SIDs, all
// removed afterwards.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "support/win32_user_root.h"
#include "win32_harness.h"

namespace {

const std::string kInstaller = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer";
const std::string kUserData = kInstaller + "\\UserData";
// Sorts before the test user, so the walk meets the churn before the target.
const std::string kChurnSid = "S-1-5-21-0-0-0-4241";
const std::string kSid = "S-1-5-21-0-0-0-4242";
const std::string kCode = "C5B4A39281706F5E4D3C2B1A09F8E7D6";
const std::string kName = "DUVA Brelix for Windows";
const char kChurnStop[] = "KeymendChurnStop";
const char kChurnReady[] = "KeymendChurnReady";

HKEY Root(RegKey root) {
    return reinterpret_cast<HKEY>(root);
}

// Level by level: Wine's RegCreateKeyExA takes at most 260 characters.
bool CreatePath(RegKey root, const std::string& path, HKEY* opened = nullptr) {
    std::string user = path.substr(0, path.find('\\'));
    HKEY exists = nullptr;
    if (IsLoadedUserRoot(root, user)) {
        if (RegOpenKeyExA(HKEY_USERS, user.c_str(), 0, KEY_READ, &exists) == ERROR_SUCCESS) {
            RegCloseKey(exists);
        } else if (LoadUserRoot(user) != REG_OK) {
            return false;
        }
    }
    HKEY key = Root(root);
    std::size_t start = 0;
    for (;;) {
        std::size_t cut = path.find('\\', start);
        std::string name = path.substr(start, cut == std::string::npos ? cut : cut - start);
        HKEY next = nullptr;
        LONG result = RegCreateKeyExA(key, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                      &next, nullptr);
        if (key != Root(root)) {
            RegCloseKey(key);
        }
        if (result != ERROR_SUCCESS) {
            return false;
        }
        key = next;
        if (cut == std::string::npos) {
            break;
        }
        start = cut + 1;
    }
    if (opened != nullptr) {
        *opened = key;
    } else {
        RegCloseKey(key);
    }
    return true;
}

bool SetText(RegKey root, const std::string& path, const char* name, const std::string& text) {
    HKEY key = nullptr;
    if (!CreatePath(root, path, &key)) {
        return false;
    }
    LONG result = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                 static_cast<DWORD>(text.size() + 1));
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

// Wide, so that names the ANSI code page cannot spell go too.
void RemoveTree(RegKey root, const std::string& path) {
    if (IsLoadedUserRoot(root, path)) {
        EXPECT_EQ(UnloadUserRoot(path), REG_OK) << path;
        return;
    }
    std::wstring wide(path.begin(), path.end());
    RegDeleteTreeW(Root(root), wide.c_str());
    RegDeleteKeyW(Root(root), wide.c_str());
}

std::string DataPath(const std::string& sid = kSid, const std::string& code = kCode) {
    return kUserData + "\\" + sid + "\\Products\\" + code;
}
std::string ProductPath(const std::string& sid = kSid, const std::string& code = kCode) {
    return sid + "\\Software\\Microsoft\\Installer\\Products\\" + code;
}

// Both keys of one product; version decides whether it is the target.
bool AddProduct(const std::string& sid, const std::string& code, const std::string& version,
                const std::string& middle = "Products") {
    std::string data = kUserData + "\\" + sid + "\\" + middle + "\\" + code;
    return SetText(HKEY_LOCAL_MACHINE_ROOT, data + "\\InstallProperties", "DisplayName", kName) &&
           SetText(HKEY_LOCAL_MACHINE_ROOT, data + "\\InstallProperties", "DisplayVersion",
                   version) &&
           CreatePath(HKEY_LOCAL_MACHINE_ROOT, data + "\\Features") &&
           SetText(HKEY_USERS_ROOT, ProductPath(sid, code), "ProductName", kName) &&
           CreatePath(HKEY_USERS_ROOT, ProductPath(sid, code) + "\\SourceList\\Net");
}

std::string Lines(const std::vector<std::string>& violations) {
    std::string text;
    for (std::size_t i = 0; i < violations.size() && i < 8; ++i) {
        text += "  " + violations[i] + "\n";
    }
    return text;
}

// Everything the engine could change: the installer data and every user.
const std::vector<RegistryLocation> kScopes = {{HKEY_LOCAL_MACHINE_ROOT, kInstaller},
                                               {HKEY_USERS_ROOT, ""}};

class WineRegistry : public ::testing::Test {
  protected:
    void SetUp() override { RemoveTestKeys(); }
    void TearDown() override {
        RemoveTestKeys();
        for (const auto& [root, path] :
             {std::pair<HKEY, std::string>{HKEY_LOCAL_MACHINE, kUserData + "\\" + kSid},
              {HKEY_USERS, kSid}}) {
            HKEY left = nullptr;
            EXPECT_NE(RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &left), ERROR_SUCCESS)
                << "test keys left behind: " << path;
        }
    }
    static void RemoveTestKeys() {
        for (const std::string& sid : {kSid, kChurnSid}) {
            RemoveTree(HKEY_LOCAL_MACHINE_ROOT, kUserData + "\\" + sid);
            RemoveTree(HKEY_USERS_ROOT, sid);
        }
    }

    RepairOutcome RepairChecked(const InvariantOptions& options = {}, CheckedRun* out = nullptr) {
        CheckedRun run;
        EXPECT_EQ(Lines(LiveRepairAndCheck(kScopes, true, {true}, options, &run)), "");
        if (out != nullptr) {
            *out = run;
        }
        return run.outcome;
    }

    // How deep the walk got: the longest path the engine opened, and the
    // codes of the opens that failed.
    static void PrintReach(const CheckedRun& run) {
        std::size_t longest = 0;
        std::string failed;
        for (const CallRecord& call : run.calls) {
            if (call.kind == CallKind::Open && call.result == REG_OK) {
                longest = std::max(longest, call.path.size());
            } else if (call.kind == CallKind::Open) {
                failed += " " + std::to_string(call.result) + " at " +
                          std::to_string(call.path.size()) + " characters;";
            }
        }
        std::printf(
            "[ wine     ] %zu calls, %zu reports, longest path opened %zu characters,"
            " failed opens:%s\n",
            run.calls.size(), run.reports.size(), longest, failed.c_str());
    }
};

TEST_F(WineRegistry, ChainOf512LevelsAndPathOf1023Characters) {
    // 512 levels of one-character names below the test user.
    HKEY key = nullptr;
    ASSERT_TRUE(CreatePath(HKEY_LOCAL_MACHINE_ROOT, kUserData + "\\" + kSid + "\\Chain", &key));
    for (int level = 1; level < 512; ++level) {
        HKEY next = nullptr;
        ASSERT_EQ(RegCreateKeyExA(key, "L", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &next, nullptr),
                  ERROR_SUCCESS)
            << "level " << level;
        RegCloseKey(key);
        key = next;
    }
    RegCloseKey(key);
    // A key whose path has exactly 1023 characters, InstallProperties below it.
    std::string deep = kUserData + "\\" + kSid + "\\Deep";
    while (deep.size() + 1 < 1023) {
        deep += "\\" + std::string(std::min<std::size_t>(200, 1023 - deep.size() - 1), 'D');
    }
    ASSERT_EQ(deep.size(), 1023u);
    ASSERT_TRUE(SetText(HKEY_LOCAL_MACHINE_ROOT, deep + "\\InstallProperties", "DisplayVersion",
                        "1.11.0050"));
    ASSERT_TRUE(AddProduct(kSid, kCode, "1.11.0050"));

    CheckedRun run;
    EXPECT_EQ(RepairChecked({}, &run), RepairOutcome::Removed);
    PrintReach(run);
}

TEST_F(WineRegistry, ChainOf512LevelsInsideTheTarget) {
    ASSERT_TRUE(AddProduct(kSid, kCode, "1.11.0050"));
    HKEY key = nullptr;
    ASSERT_TRUE(CreatePath(HKEY_LOCAL_MACHINE_ROOT, DataPath() + "\\Features", &key));
    for (int level = 0; level < 512; ++level) {
        HKEY next = nullptr;
        ASSERT_EQ(RegCreateKeyExA(key, "L", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &next, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
        key = next;
    }
    RegCloseKey(key);
    // Paths past 255 characters cannot be deleted: the data key stays.
    CheckedRun run;
    EXPECT_EQ(RepairChecked({}, &run), RepairOutcome::NotRemoved);
    PrintReach(run);
}

TEST_F(WineRegistry, SubkeyNamesOf119And120And255Characters) {
    const struct {
        std::size_t length;
        RepairOutcome outcome;
    } cases[] = {{119, RepairOutcome::Removed},
                 {120, RepairOutcome::NotRemoved},
                 {255, RepairOutcome::NotRemoved}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        RemoveTestKeys();
        ASSERT_TRUE(AddProduct(kSid, kCode, "1.11.0050"));
        ASSERT_TRUE(CreatePath(HKEY_USERS_ROOT,
                               ProductPath() + "\\SourceList\\" + std::string(c.length, 'n')));
        EXPECT_EQ(RepairChecked(), c.outcome);
    }
}

TEST_F(WineRegistry, KeyWithAHundredThousandSubkeys) {
    HKEY products = nullptr;
    ASSERT_TRUE(
        CreatePath(HKEY_LOCAL_MACHINE_ROOT, kUserData + "\\" + kSid + "\\Products", &products));
    auto begin = std::chrono::steady_clock::now();
    for (int i = 0; i < 100000; ++i) {
        char name[40];
        std::snprintf(name, sizeof name, "%032X", i);
        HKEY subkey = nullptr;
        ASSERT_EQ(RegCreateKeyExA(products, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &subkey,
                                  nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(subkey);
    }
    RegCloseKey(products);
    ASSERT_TRUE(AddProduct(kSid, "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF", "1.11.0050"));
    auto built = std::chrono::steady_clock::now();
    EXPECT_EQ(RepairChecked(), RepairOutcome::Removed);
    auto done = std::chrono::steady_clock::now();
    std::printf("[ wine     ] 100,000 subkeys: built in %.1f s, repaired and checked in %.1f s\n",
                std::chrono::duration<double>(built - begin).count(),
                std::chrono::duration<double>(done - built).count());
}

bool SpelledByCodePage(const std::wstring& name) {
    BOOL defaulted = FALSE;
    char narrow[64];
    return WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name.c_str(),
                               static_cast<int>(name.size()), narrow, sizeof narrow, nullptr,
                               &defaulted) > 0 &&
           !defaulted;
}

// The 8-bit enumeration gives "?" for what the ANSI code page lacks (on a
// Japanese system: accented Latin letters, emoji; Cyrillic is there), and
// the text may then name a sibling or nothing. Inside a target such a key
// cannot be deleted; outside, nothing may change.
TEST_F(WineRegistry, NamesTheCodePageCannotSpell) {
    const std::string kNearMiss = "0A1B2C3D4E5F60718293A4B5C6D7E8F9";
    const struct {
        RegKey root;
        std::string parent;
        bool insideTarget;
        std::vector<std::wstring> names;
    } cases[] = {
        {HKEY_USERS_ROOT, ProductPath(), true, {L"A\u00E9"}},
        {HKEY_LOCAL_MACHINE_ROOT, DataPath(), true, {L"A\U0001F600"}},
        {HKEY_LOCAL_MACHINE_ROOT, DataPath(), true, {L"A?", L"A\u00E9"}},
        {HKEY_LOCAL_MACHINE_ROOT, DataPath(), true, {L"\u0416"}},
        {HKEY_LOCAL_MACHINE_ROOT, DataPath(kSid, kNearMiss), false, {L"A\u00E9", L"A?"}},
        {HKEY_LOCAL_MACHINE_ROOT, kUserData + "\\" + kSid, false, {L"\u00E9\U0001F600"}},
        {HKEY_USERS_ROOT, kSid + "\\Software", false, {L"A\u00E9", L"A?"}},
    };
    std::printf("[ wine     ] ANSI code page %u\n", GetACP());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.parent);
        RemoveTestKeys();
        ASSERT_TRUE(AddProduct(kSid, kNearMiss, "1.11.0090"));
        ASSERT_TRUE(AddProduct(kSid, kCode, "1.11.0050"));
        HKEY parent = nullptr;
        ASSERT_TRUE(CreatePath(c.root, c.parent, &parent));
        bool spelled = true;
        for (const std::wstring& name : c.names) {
            HKEY child = nullptr;
            ASSERT_EQ(RegCreateKeyExW(parent, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                      &child, nullptr),
                      ERROR_SUCCESS);
            RegCloseKey(child);
            spelled = spelled && SpelledByCodePage(name);
        }
        RegCloseKey(parent);
        bool kept = c.insideTarget && !spelled;
        EXPECT_EQ(RepairChecked(), kept ? RepairOutcome::NotRemoved : RepairOutcome::Removed);
    }
}

// The other process: adds and deletes near-miss products of the churn user
// (walked before the target) and siblings of the target itself (which shift
// its enumeration index) until told to stop.
std::string ChurnCode(int i) {
    char code[40];
    std::snprintf(code, sizeof code, "%032X", i % 64);  // sorts before the target
    return code;
}

int Churn() {
    HANDLE stop = OpenEventA(SYNCHRONIZE, FALSE, kChurnStop);
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, kChurnReady);
    if (stop == nullptr || ready == nullptr) {
        return 3;
    }
    int rounds = 0;
    for (;; ++rounds) {
        for (int i = 0; i < 8; ++i) {
            std::string code = ChurnCode(rounds * 8 + i);
            for (const std::string& sid : {kChurnSid, kSid}) {
                if (rounds % 2 == 0) {
                    AddProduct(sid, code, "1.11.0090");
                } else {
                    RemoveTree(HKEY_LOCAL_MACHINE_ROOT, DataPath(sid, code));
                    RemoveTree(HKEY_USERS_ROOT, ProductPath(sid, code));
                }
            }
        }
        if (rounds == 2) {
            SetEvent(ready);
        }
        if (WaitForSingleObject(stop, 0) == WAIT_OBJECT_0) {
            break;
        }
    }
    std::printf("[ wine     ] the other process changed the installer data %d times\n", rounds);
    return rounds > 2 ? 0 : 4;
}

TEST_F(WineRegistry, AnotherProcessChangesTheInstallerDataDuringTheRepair) {
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, kChurnStop);
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, kChurnReady);
    ASSERT_NE(stop, nullptr);
    ASSERT_NE(ready, nullptr);
    char self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, self, sizeof self), 0u);
    std::string commandLine = std::string("\"") + self + "\" --churn";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &process));
    ASSERT_EQ(WaitForSingleObject(ready, 60000), WAIT_OBJECT_0) << "the churn did not start";

    // What the other process changes is not compared; the engine's calls into
    // it still are, deletes above all.
    InvariantOptions options;
    options.unwatched = {{HKEY_LOCAL_MACHINE_ROOT, kUserData + "\\" + kChurnSid},
                         {HKEY_USERS_ROOT, kChurnSid}};
    for (int i = 0; i < 64; ++i) {
        options.unwatched.push_back({HKEY_LOCAL_MACHINE_ROOT, DataPath(kSid, ChurnCode(i))});
        options.unwatched.push_back({HKEY_USERS_ROOT, ProductPath(kSid, ChurnCode(i))});
    }
    int removed = 0;
    int notFound = 0;
    int callsIntoChurn = 0;
    int failedThere = 0;
    for (int run = 0; run < 20; ++run) {
        SCOPED_TRACE(run);
        ASSERT_TRUE(AddProduct(kSid, kCode, "1.11.0050"));
        CheckedRun checked;
        RepairOutcome outcome = RepairChecked(options, &checked);
        // A sibling that vanishes mid-walk may hide the target for one run.
        EXPECT_NE(outcome, RepairOutcome::NotRemoved);
        removed += outcome == RepairOutcome::Removed;
        notFound += outcome == RepairOutcome::NotFound;
        for (const CallRecord& call : checked.calls) {
            if (call.path.find(kChurnSid) != std::string::npos ||
                call.path.find("\\0000000000000000000000000000") != std::string::npos) {
                ++callsIntoChurn;
                failedThere += call.result != REG_OK && call.result != REG_ERROR_NO_MORE_ITEMS;
            }
        }
    }
    SetEvent(stop);
    ASSERT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    EXPECT_EQ(exitCode, 0u) << "the churning process failed";
    std::printf(
        "[ wine     ] 20 repairs: %d removed, %d not found; %d calls into changing keys,"
        " %d of them failed\n",
        removed, notFound, callsIntoChurn, failedThere);
    EXPECT_GT(callsIntoChurn, 0) << "the walk never met the other process's keys";
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    CloseHandle(stop);
    CloseHandle(ready);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--churn") {
        return Churn();
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
