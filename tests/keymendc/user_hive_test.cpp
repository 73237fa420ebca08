// The hive of a user who is not signed in, under Wine, with one fixture hive
// made at run time: which profiles are refused, the load and unload, the
// privileges, a handle left open, and what a killed run leaves behind.
#include "user_hive.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <vector>

#include "hive_marker.h"
#include "hive_privileges.h"
#include "keymendc_run.h"
#include "scoped_hkey.h"
#include "support/platform_answer.h"
#include "support/test_paths.h"
#include "user_profile.h"

namespace {

const std::wstring kProfileList = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";
const std::wstring kProduct =
    L"\\Software\\Microsoft\\Installer\\Products\\C5B4A39281706F5E4D3C2B1A09F8E7D6";
const wchar_t kFixtureKey[] = L"Software\\KeymendHiveTestFixture";
const std::wstring kUserData =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\";
const wchar_t kRestore[] = L"SeRestorePrivilege";
const wchar_t kBackup[] = L"SeBackupPrivilege";

std::wstring Sid(int n) {
    return L"S-1-5-21-1111111111-2222222222-3333333333-" + std::to_wstring(n);
}

std::wstring TestRoot() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"keymend-hive-test";
}

std::wstring Folder(int n) {
    return TestRoot() + L"\\" + std::to_wstring(n);
}

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

Handle ProcessToken() {
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &token);
    return Handle(token);
}

// Returns whether the privilege was enabled before.
bool SetPrivilege(HANDLE token, const wchar_t* name, bool enable) {
    TOKEN_PRIVILEGES wanted{1, {{{0, 0}, enable ? DWORD{SE_PRIVILEGE_ENABLED} : 0}}};
    LookupPrivilegeValueW(nullptr, name, &wanted.Privileges[0].Luid);
    TOKEN_PRIVILEGES previous{};
    DWORD bytes = 0;
    AdjustTokenPrivileges(token, FALSE, &wanted, sizeof previous, &previous, &bytes);
    // Windows lists only what changed, Wine everything asked for.
    return previous.PrivilegeCount == 0
               ? enable
               : (previous.Privileges[0].Attributes & SE_PRIVILEGE_ENABLED);
}

bool Enabled(HANDLE token, const wchar_t* name) {
    bool was = SetPrivilege(token, name, false);
    SetPrivilege(token, name, was);
    return was;
}

// A call as the test's own setup and cleanup make it: privileged.
template <class Call>
LONG Privileged(const wchar_t* name, Call call) {
    SetPrivilege(ProcessToken().get(), name, true);
    LONG result = call();
    SetPrivilege(ProcessToken().get(), name, false);
    return result;
}

void RawUnload(const std::wstring& sid) {
    Privileged(kRestore, [&] { return RegUnLoadKeyW(HKEY_USERS, sid.c_str()); });
}

bool KeyExists(HKEY root, const std::wstring& path) {
    ScopedHkey key;
    return RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.receive()) == ERROR_SUCCESS;
}

LONG CreateKey(HKEY root, const std::wstring& path, DWORD options = 0) {
    ScopedHkey key;
    return RegCreateKeyExW(root, path.c_str(), 0, nullptr, options, KEY_READ, nullptr,
                           key.receive(), nullptr);
}

bool Loaded(int n) {
    return KeyExists(HKEY_USERS, Sid(n));
}

bool Marked(int n) {
    return KeyExists(HKEY_LOCAL_MACHINE, std::wstring(kHiveMarkerRoot) + L"\\" + Sid(n));
}

std::vector<std::wstring> UserKeys() {
    std::vector<std::wstring> names;
    wchar_t name[256];
    DWORD chars = 256;
    for (DWORD i = 0; RegEnumKeyExW(HKEY_USERS, i, name, &chars, nullptr, nullptr, nullptr,
                                    nullptr) == ERROR_SUCCESS;
         ++i, chars = 256) {
        names.emplace_back(name);
    }
    return names;
}

// Names and sizes; removes the folder instead when told to.
std::vector<std::wstring> FolderContents(const std::wstring& folder, bool remove = false) {
    std::vector<std::wstring> entries;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
        std::wstring path = folder + L"\\" + found.cFileName;
        bool isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (remove && isFolder && found.cFileName[0] != L'.') {
            FolderContents(path, true);
        } else if (remove && !isFolder) {
            DeleteFileW(path.c_str());
        }
        entries.push_back(std::wstring(found.cFileName) + L" " +
                          std::to_wstring(found.nFileSizeLow));
    }
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
    }
    if (remove) {
        RemoveDirectoryW(folder.c_str());
    }
    return entries;
}

// One product registration, saved as a hive file: Wine's own text format.
// With extraKey, also that key (below the hive's root), which the user put
// there.
void MakeFixtureHive(const wchar_t* file, const std::wstring& extraKey) {
    CreateDirectoryW(TestRoot().c_str(), nullptr);
    ScopedHkey top;
    ScopedHkey product;
    RegCreateKeyExW(HKEY_CURRENT_USER, kFixtureKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    top.receive(), nullptr);
    RegCreateKeyExW(top.get(), kProduct.c_str() + 1, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    product.receive(), nullptr);
    const wchar_t name[] = L"DUVA Brelix for Windows";
    RegSetValueExW(product.get(), L"ProductName", 0, REG_SZ, reinterpret_cast<const BYTE*>(name),
                   sizeof name);
    if (!extraKey.empty()) {
        CreateKey(top.get(), extraKey);
    }
    LONG saved = Privileged(kBackup, [&] {
        return RegSaveKeyW(top.get(), (TestRoot() + L"\\" + file).c_str(), nullptr);
    });
    product.Close();
    top.Close();
    RegDeleteTreeW(HKEY_CURRENT_USER, kFixtureKey);
    ASSERT_EQ(saved, ERROR_SUCCESS);
}

enum class Path { None, Text, Expand, Long, NotText };
enum class Files {
    None,
    Empty,
    Dat,
    DatAndMan,
    Damaged,
    // NTUSER.DAT holding an ordinary key "Volatile Environment" that its user made
    FakedSignIn,
    // NTUSER.DAT whose product registration holds a subkey name of 120 characters
    LongName,
    // NTUSER.DAT held open by another program, as by a sign-in under way
    Held,
};

const wchar_t* FixtureOf(Files files) {
    return files == Files::FakedSignIn ? L"fixture-faked-sign-in.dat"
           : files == Files::LongName  ? L"fixture-long-name.dat"
                                       : L"fixture.dat";
}

// A ProfileList entry for Sid(n) and its folder.
void SeedProfile(int n, Path path, DWORD state, bool backup, Files files) {
    std::wstring folder = Folder(n) + L"\\";
    std::wstring fixture = TestRoot() + L"\\" + FixtureOf(files);
    if (files != Files::None) {
        CreateDirectoryW(folder.c_str(), nullptr);
    }
    if (files == Files::Dat || files == Files::DatAndMan || files == Files::FakedSignIn ||
        files == Files::LongName || files == Files::Held) {
        CopyFileW(fixture.c_str(), (folder + L"NTUSER.DAT").c_str(), TRUE);
    }
    if (files == Files::DatAndMan) {
        CopyFileW(fixture.c_str(), (folder + L"NTUSER.MAN").c_str(), TRUE);
    }
    if (files == Files::Damaged) {
        Handle file(CreateFileW((folder + L"NTUSER.DAT").c_str(), GENERIC_WRITE, 0, nullptr,
                                CREATE_NEW, 0, nullptr));
        DWORD written = 0;
        WriteFile(file.get(), "regf\0\0\0\0garbage", 15, &written, nullptr);
    }
    if (backup) {
        CreateKey(HKEY_LOCAL_MACHINE, kProfileList + Sid(n) + L".bak");
    }
    if (path == Path::None) {
        return;
    }
    ScopedHkey key;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, (kProfileList + Sid(n)).c_str(), 0, nullptr, 0,
                    KEY_ALL_ACCESS, nullptr, key.receive(), nullptr);
    std::wstring text =
        path == Path::Expand ? L"%KEYMEND_HIVE_TEST_ROOT%\\" + std::to_wstring(n) : Folder(n);
    for (int i = 0; path == Path::Long && i < 150; ++i) {
        text += L"\\.";  // the same folder, spelt in over 300 characters
    }
    DWORD type = path == Path::Text ? REG_SZ : path == Path::NotText ? REG_DWORD : REG_EXPAND_SZ;
    DWORD bytes = type == REG_DWORD ? 4 : static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    RegSetValueExW(key.get(), L"ProfileImagePath", 0, type,
                   reinterpret_cast<const BYTE*>(text.c_str()), bytes);
    if (state != 0) {
        RegSetValueExW(key.get(), L"State", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&state),
                       sizeof state);
    }
}

UserProfile Usable(int n) {
    SeedProfile(n, Path::Text, 0, false, Files::Dat);
    UserProfile profile;
    EXPECT_EQ(LookUpUserProfile(Sid(n), &profile), ERROR_SUCCESS);
    EXPECT_EQ(profile.verdict, ProfileVerdict::Usable);
    return profile;
}

double MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

class UserHiveTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        CleanUp();
        FolderContents(TestRoot(), true);
        SetEnvironmentVariableW(L"KEYMEND_HIVE_TEST_ROOT", TestRoot().c_str());
        MakeFixtureHive(FixtureOf(Files::Dat), L"");
        MakeFixtureHive(FixtureOf(Files::FakedSignIn), L"Volatile Environment");
        MakeFixtureHive(FixtureOf(Files::LongName),
                        kProduct.substr(1) + L"\\" + std::wstring(120, L'L'));
    }
    static void TearDownTestSuite() {
        CleanUp();
        FolderContents(TestRoot(), true);
        // The marks' parents, when nothing else is in them.
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, kHiveMarkerRoot);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\DUVA\\KEYMEND");
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\DUVA");
    }
    void TearDown() override { CleanUp(); }

    // Also what a failed run left: every test SID, loaded, marked or seeded.
    static void CleanUp() {
        for (int n = 2000; n < 2050; ++n) {
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, (kUserData + Sid(n)).c_str());
            RawUnload(Sid(n) + L"_Classes");
            RawUnload(Sid(n));
            std::wstring mark = std::wstring(kHiveMarkerRoot) + L"\\" + Sid(n);
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, mark.c_str());
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, (kProfileList + Sid(n)).c_str());
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, (kProfileList + Sid(n) + L".bak").c_str());
            FolderContents(Folder(n), true);
        }
    }
};

struct ProfileRow {
    const char* name;
    int n;  // Sid(n), or the SID below when 0
    const wchar_t* sid;
    Path path;
    DWORD state;
    bool backup;  // a ProfileList\<SID>.bak key beside
    Files files;
    ProfileVerdict verdict;
    DWORD error;  // of the lookup
    DWORD load;   // of LoadUserHive; 0: it loads, and then unloads
};

using V = ProfileVerdict;
constexpr DWORD kRefused = ERROR_INVALID_PARAMETER;
const ProfileRow kProfileRows[] = {
    {"REG_EXPAND_SZ path", 2001, nullptr, Path::Expand, 0, false, Files::Dat, V::Usable, 0, 0},
    {"REG_SZ path", 2002, nullptr, Path::Text, 0, false, Files::Dat, V::Usable, 0, 0},
    {"path over 300 characters", 2003, nullptr, Path::Long, 0, false, Files::Dat, V::Usable, 0, 0},
    {"State of an administrator", 2004, nullptr, Path::Text, 0x104, false, Files::Dat, V::Usable, 0,
     0},
    {"damaged hive file", 2014, nullptr, Path::Text, 0, false, Files::Damaged, V::Usable, 0,
     ERROR_NOT_REGISTRY_FILE},
    {"no ProfileList entry", 2005, nullptr, Path::None, 0, false, Files::Dat, V::NoProfileEntry, 0,
     kRefused},
    {"SYSTEM", 0, L"S-1-5-18", Path::None, 0, false, Files::None, V::SpecialSid, 0, kRefused},
    {"LOCAL SERVICE", 0, L"S-1-5-19", Path::None, 0, false, Files::None, V::SpecialSid, 0,
     kRefused},
    {"NETWORK SERVICE", 0, L"S-1-5-20", Path::None, 0, false, Files::None, V::SpecialSid, 0,
     kRefused},
    {"SID not as Windows writes it", 0, L"S-1-5-21-1111111111-2222222222-3333333333-02006",
     Path::None, 0, false, Files::None, V::NotASid, 0, kRefused},
    {".bak entry beside", 2007, nullptr, Path::Text, 0, true, Files::Dat, V::BackupEntry, 0,
     kRefused},
    {"temporary", 2008, nullptr, Path::Text, 0x800, false, Files::Dat, V::TemporaryProfile, 0,
     kRefused},
    {"mandatory by State", 2009, nullptr, Path::Text, 1, false, Files::Dat, V::MandatoryProfile, 0,
     kRefused},
    {"NTUSER.MAN", 2010, nullptr, Path::Text, 0, false, Files::DatAndMan, V::MandatoryProfile, 0,
     kRefused},
    {"folder missing", 2011, nullptr, Path::Text, 0, false, Files::None, V::FolderMissing, 0,
     kRefused},
    {"NTUSER.DAT missing", 2012, nullptr, Path::Text, 0, false, Files::Empty, V::HiveFileMissing, 0,
     kRefused},
    {"path not text", 2013, nullptr, Path::NotText, 0, false, Files::Dat, V::FolderMissing,
     ERROR_INVALID_DATA, kRefused},
};

// A usable profile loads with the privileges enabled only for the call, its
// subtree shows, and the unload leaves HKEY_USERS and the folder as before.
void LoadAndUnload(const UserProfile& profile, int n) {
    Handle process = ProcessToken();
    SetPrivilege(process.get(), kRestore, false);
    ASSERT_EQ(RegLoadKeyW(HKEY_USERS, profile.sid.c_str(), profile.hiveFile.c_str()),
              ERROR_PRIVILEGE_NOT_HELD);
    SetPrivilege(process.get(), kBackup, true);  // enabled before: must stay so
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(LoadUserHive(profile), ERROR_SUCCESS);
    double loadMs = MsSince(start);
    EXPECT_TRUE(KeyExists(HKEY_USERS, profile.sid + kProduct));
    EXPECT_FALSE(Enabled(process.get(), kRestore));
    EXPECT_TRUE(SetPrivilege(process.get(), kBackup, false));
    ASSERT_TRUE(Marked(n));
    // The mark is volatile: a stable key below it is refused. DUVA is stable.
    std::wstring belowMark = std::wstring(kHiveMarkerRoot) + L"\\" + profile.sid + L"\\stable";
    EXPECT_EQ(CreateKey(HKEY_LOCAL_MACHINE, belowMark), ERROR_CHILD_MUST_BE_VOLATILE);
    EXPECT_EQ(CreateKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\DUVA\\KeymendTestStable"), 0);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, belowMark.c_str());  // when wrongly made
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\DUVA\\KeymendTestStable");
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(UnloadUserHive(profile.sid), ERROR_SUCCESS);
    std::printf("%ls: load %.2f ms, unload %.2f ms\n", profile.sid.c_str(), loadMs, MsSince(start));
    EXPECT_FALSE(Marked(n));
    EXPECT_FALSE(Enabled(process.get(), kRestore));
}

TEST_F(UserHiveTest, OnlyUsableProfilesLoadAndRefusalsTouchNothing) {
    for (const ProfileRow& row : kProfileRows) {
        SCOPED_TRACE(row.name);
        std::wstring sid = row.n != 0 ? Sid(row.n) : row.sid;
        SeedProfile(row.n, row.path, row.state, row.backup, row.files);
        std::vector<std::wstring> files = FolderContents(Folder(row.n));
        std::vector<std::wstring> users = UserKeys();
        UserProfile profile;
        EXPECT_EQ(LookUpUserProfile(sid, &profile), row.error);
        EXPECT_STREQ(ProfileVerdictName(profile.verdict), ProfileVerdictName(row.verdict));
        if (row.load == ERROR_SUCCESS) {
            LoadAndUnload(profile, row.n);
        } else {
            EXPECT_EQ(LoadUserHive(profile), row.load);
        }
        if (row.load == ERROR_NOT_REGISTRY_FILE) {
            RawUnload(sid);  // Wine, unlike Windows, leaves the failed load's empty key
        }
        EXPECT_EQ(FolderContents(Folder(row.n)), files);
        EXPECT_EQ(UserKeys(), users);
        EXPECT_FALSE(Marked(row.n));
        CleanUp();
    }
}

// A token without SeRestorePrivilege (a restricted copy, impersonated): the
// refusal is told, and SeBackupPrivilege, granted meanwhile, is set back.
TEST_F(UserHiveTest, PrivilegesNotGrantedAreARefusal) {
    UserProfile profile = Usable(2020);
    LUID_AND_ATTRIBUTES removed = {};
    LookupPrivilegeValueW(nullptr, kRestore, &removed.Luid);
    HANDLE restricted = nullptr;
    HANDLE impersonation = nullptr;
    ASSERT_TRUE(CreateRestrictedToken(ProcessToken().get(), 0, 0, nullptr, 1, &removed, 0, nullptr,
                                      &restricted));
    Handle owned(restricted);
    ASSERT_TRUE(DuplicateTokenEx(restricted, TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation,
                                 TokenImpersonation, &impersonation));
    Handle token(impersonation);
    ASSERT_TRUE(SetThreadToken(nullptr, impersonation));
    DWORD enabled = HivePrivileges().Enable();
    DWORD loaded = LoadUserHive(profile);
    RevertToSelf();
    EXPECT_EQ(enabled, ERROR_PRIVILEGE_NOT_HELD);
    EXPECT_EQ(loaded, ERROR_PRIVILEGE_NOT_HELD);
    EXPECT_FALSE(Enabled(impersonation, kBackup));
    EXPECT_FALSE(Loaded(2020));
    EXPECT_FALSE(Marked(2020));
}

// A handle into the hive: the unload fails after its tries, is reported,
// and the hive stays loaded and marked until the handle is closed.
TEST_F(UserHiveTest, AnOpenHandleKeepsTheHiveLoaded) {
    UserProfile profile = Usable(2021);
    ASSERT_EQ(LoadUserHive(profile), ERROR_SUCCESS);
    ScopedHkey root;
    ASSERT_EQ(RegOpenKeyExW(HKEY_USERS, profile.sid.c_str(), 0, KEY_READ, root.receive()), 0);
    auto start = std::chrono::steady_clock::now();
    DWORD unload = UnloadUserHive(profile.sid);
    double failedMs = MsSince(start);
    // keymendc tries again on this code alone.
    RecordPlatformAnswer("code of an unload while a key of the hive is open",
                         std::to_string(unload), "5");
    EXPECT_EQ(unload, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    std::printf("failed unload with its tries: %.0f ms\n", failedMs);
    EXPECT_GE(failedMs, 4 * 150 - 20);
    EXPECT_TRUE(Loaded(2021));
    EXPECT_TRUE(Marked(2021));
    root.Close();
    EXPECT_EQ(UnloadUserHive(profile.sid), ERROR_SUCCESS);
    EXPECT_FALSE(Loaded(2021));
}

// What says that a user signed in: the profile's second hive, which only
// Windows loads, or a key the user made in their own registry.
enum class SignIn { None, ClassesHive, VolatileEnvironmentOfTheUsers };

struct LeftoverRow {
    const char* name;
    int n;
    bool load;  // by LoadUserHive when marked (a killed run), else as Windows does
    bool mark;  // and so listed by UnloadLeftoverHives
    SignIn signIn;
    LeftoverAction action;
    bool loadedAfter;
    bool rootClosed = false;  // its user denied everyone their registry's root
};

const LeftoverRow kLeftoverRows[] = {
    {"a killed run's hive", 2030, true, true, SignIn::None, LeftoverAction::Unloaded, false},
    {"its user signed in", 2031, true, true, SignIn::ClassesHive, LeftoverAction::LeftSignedIn,
     true},
    {"a sign-in its user faked", 2034, true, true, SignIn::VolatileEnvironmentOfTheUsers,
     LeftoverAction::Unloaded, false},
    {"a mark without hive", 2032, false, true, SignIn::None, LeftoverAction::NotLoaded, false},
    {"loaded by Windows", 2033, true, false, SignIn::None, LeftoverAction::Unloaded, true},
    // The unload needs no access to the key.
    {"its root closed to administrators", 2035, true, true, SignIn::None, LeftoverAction::Unloaded,
     false, true},
};

// What its user may do to their own registry's root: deny everyone, even
// SYSTEM, and own it as SYSTEM, which keeps Wine's administrators out too.
void CloseRoot(const std::wstring& sid) {
    PSECURITY_DESCRIPTOR closed = nullptr;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:SYD:P", SDDL_REVISION_1, &closed,
                                                         nullptr);
    ScopedHkey root;
    ASSERT_EQ(RegOpenKeyExW(HKEY_USERS, sid.c_str(), 0, WRITE_DAC | WRITE_OWNER, root.receive()),
              ERROR_SUCCESS);
    // Windows lets an administrator name SYSTEM the owner only with this privilege.
    EXPECT_EQ(Privileged(kRestore,
                         [&] {
                             return RegSetKeySecurity(
                                 root.get(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                 closed);
                         }),
              ERROR_SUCCESS);
    LocalFree(closed);
    root.Close();
    ASSERT_NE(RegOpenKeyExW(HKEY_USERS, sid.c_str(), 0, KEY_READ, root.receive()), ERROR_SUCCESS);
}

TEST_F(UserHiveTest, TheNextRunUnloadsOnlyAKilledRunsHive) {
    for (const LeftoverRow& row : kLeftoverRows) {
        UserProfile profile = Usable(row.n);
        auto loadAsWindows = [&] {
            return RegLoadKeyW(HKEY_USERS, profile.sid.c_str(), profile.hiveFile.c_str());
        };
        if (row.load) {
            ASSERT_EQ(row.mark ? LoadUserHive(profile) : Privileged(kRestore, loadAsWindows), 0);
            EXPECT_EQ(LoadUserHive(profile), ERROR_ALREADY_EXISTS);
        } else {
            ASSERT_EQ(WriteHiveMarker(profile.sid), ERROR_SUCCESS);
        }
        if (row.rootClosed) {
            ASSERT_NO_FATAL_FAILURE(CloseRoot(profile.sid));
        }
        if (row.signIn == SignIn::ClassesHive) {
            // As the profile service loads it; nobody can create a key there.
            std::wstring classes = Folder(row.n) + L"\\UsrClass.dat";
            CopyFileW((TestRoot() + L"\\" + FixtureOf(Files::Dat)).c_str(), classes.c_str(), TRUE);
            ASSERT_EQ(Privileged(kRestore,
                                 [&] {
                                     return RegLoadKeyW(HKEY_USERS,
                                                        (profile.sid + L"_Classes").c_str(),
                                                        classes.c_str());
                                 }),
                      ERROR_SUCCESS);
        }
        if (row.signIn == SignIn::VolatileEnvironmentOfTheUsers) {
            ASSERT_EQ(CreateKey(HKEY_USERS, profile.sid + L"\\Volatile Environment"),
                      ERROR_SUCCESS);
        }
    }
    std::vector<LeftoverHive> leftovers;
    std::wstring who;
    ASSERT_EQ(UnloadLeftoverHives(&leftovers, &who), ERROR_SUCCESS) << Utf8(who);
    for (const LeftoverRow& row : kLeftoverRows) {
        SCOPED_TRACE(row.name);
        int listed = 0;
        for (const LeftoverHive& leftover : leftovers) {
            if (leftover.sid == Sid(row.n)) {
                ++listed;
                EXPECT_EQ(static_cast<int>(leftover.action), static_cast<int>(row.action));
                EXPECT_EQ(leftover.error, ERROR_SUCCESS);
            }
        }
        EXPECT_EQ(listed, row.mark ? 1 : 0);
        EXPECT_EQ(Loaded(row.n), row.loadedAfter);
        EXPECT_FALSE(Marked(row.n));
        if (!row.mark) {
            EXPECT_EQ(UnloadUserHive(Sid(row.n)), ERROR_NOT_FOUND);
            EXPECT_TRUE(Loaded(row.n));
        }
    }
}

// Which installer data names the product registration in the fixture hive.
enum class Seed {
    One,           // UserData\<SID>\Products\<code>
    LowerCaseSid,  // the same under the SID in lower case
    TwoDataKeys,   // and beside it UserData\<SID>\Patches\<code>: one product registration
};

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) {
        c = c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c;
    }
    return text;
}

void SeedDataKey(const std::wstring& path) {
    ScopedHkey key;
    ASSERT_EQ(
        RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                        (path + L"\\C5B4A39281706F5E4D3C2B1A09F8E7D6\\InstallProperties").c_str(),
                        0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.receive(), nullptr),
        ERROR_SUCCESS);
    const wchar_t name[] = L"DUVA Brelix for Windows";
    const wchar_t version[] = L"1.11.0050";
    RegSetValueExW(key.get(), L"DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>(name),
                   sizeof name);
    RegSetValueExW(key.get(), L"DisplayVersion", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                   sizeof version);
}

// The damaged registration's installer data for Sid(n); its product
// registration is in the fixture hive.
void SeedInstallerData(int n, Seed seed = Seed::One) {
    std::wstring sid = seed == Seed::LowerCaseSid ? Lower(Sid(n)) : Sid(n);
    ASSERT_NO_FATAL_FAILURE(SeedDataKey(kUserData + sid + L"\\Products"));
    if (seed == Seed::TwoDataKeys) {
        ASSERT_NO_FATAL_FAILURE(SeedDataKey(kUserData + sid + L"\\Patches"));
    }
}

nlohmann::json Keymendc(const std::wstring& arguments, DWORD exitCode) {
    ProgramRun run = RunKeymendc(arguments + L" --json");
    EXPECT_EQ(run.exitCode, exitCode) << run.out;
    nlohmann::json report = nlohmann::json::parse(run.out, nullptr, false);
    EXPECT_TRUE(report.is_object()) << run.out;
    return report;
}

// keymendc itself, with and without --include-signed-out: what it makes of
// a signed-out user's profile and registry, that it leaves HKEY_USERS, the
// marks and the profile folder as they were, and what it leaves of the
// installer data.
struct SignedOutRow {
    const char* name;
    int n;
    Files files;
    Seed seed;
    const wchar_t* arguments;
    DWORD exitCode;
    const char* outcome;
    const char* hive;     // of usersNotLoaded[0]
    const char* refusal;  // of usersNotLoaded[0]
    bool dataKeysRemain;  // afterwards
};

const SignedOutRow kSignedOutRows[] = {
    {"not asked", 2040, Files::Dat, Seed::One, L"check", 1011, "incomplete", "not-loaded", "",
     true},
    {"check", 2040, Files::Dat, Seed::One, L"check --include-signed-out", 1, "found",
     "loaded-and-unloaded", "", true},
    {"mandatory", 2041, Files::DatAndMan, Seed::One, L"repair --include-signed-out", 1011,
     "incomplete", "not-loadable", "mandatory-profile", true},
    {"folder missing", 2042, Files::None, Seed::One, L"repair --include-signed-out", 1011,
     "incomplete", "not-loadable", "folder-missing", true},
    {"damaged hive", 2043, Files::Damaged, Seed::One, L"repair --include-signed-out", 1011,
     "incomplete", "not-loadable", "load-failed", true},
    {"hive held open", 2039, Files::Held, Seed::One, L"repair --include-signed-out", 1011,
     "incomplete", "not-loadable", "load-failed", true},
    // A key of that name in the user's own registry is no sign-in: the hive
    // keymendc loaded is unloaded all the same.
    {"a sign-in its user faked", 2046, Files::FakedSignIn, Seed::One,
     L"repair --include-signed-out", 0, "removed", "loaded-and-unloaded", "", false},
    {"SID in lower case, not asked", 2047, Files::Dat, Seed::LowerCaseSid, L"check", 1011,
     "incomplete", "not-loaded", "", true},
    {"SID in lower case", 2047, Files::Dat, Seed::LowerCaseSid, L"repair --include-signed-out", 0,
     "removed", "loaded-and-unloaded", "", false},
    // The product registration goes once, and both installer data keys after it.
    {"two installer data keys, one product registration", 2048, Files::Dat, Seed::TwoDataKeys,
     L"repair --include-signed-out", 0, "removed", "loaded-and-unloaded", "", false},
    // Its installer data stays, so that the next run finds it again.
    {"a product registration that stays", 2049, Files::LongName, Seed::One,
     L"repair --include-signed-out", 1, "not-removed", "loaded-and-unloaded", "", true},
};

TEST_F(UserHiveTest, KeymendcLooksAtSignedOutUsersOnlyWhenAsked) {
    for (const SignedOutRow& row : kSignedOutRows) {
        SCOPED_TRACE(row.name);
        SeedProfile(row.n, Path::Text, 0, false, row.files);
        ASSERT_NO_FATAL_FAILURE(SeedInstallerData(row.n, row.seed));
        std::vector<std::wstring> files = FolderContents(Folder(row.n));
        std::vector<std::wstring> users = UserKeys();
        Handle held(row.files == Files::Held
                        ? CreateFileW((Folder(row.n) + L"\\NTUSER.DAT").c_str(),
                                      GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                      nullptr)
                        : nullptr);
        nlohmann::json report = Keymendc(row.arguments, row.exitCode);
        held.reset();
        EXPECT_EQ(report["outcome"], row.outcome);
        ASSERT_EQ(report["usersNotLoaded"].size(), 1u);
        EXPECT_EQ(report["usersNotLoaded"][0]["hive"], row.hive);
        EXPECT_EQ(report["usersNotLoaded"][0]["refusal"], row.refusal);
        for (const nlohmann::json& registration : report["registrations"]) {
            EXPECT_EQ(registration["hive"], "loaded-by-keymendc");
        }
        if (row.files == Files::Damaged || row.files == Files::Held) {
            RecordPlatformAnswer(std::string("code of the load of a ") + row.name,
                                 report["usersNotLoaded"][0]["code"].dump(),
                                 row.files == Files::Damaged ? "1017" : "32");
            RecordPlatformAnswer(
                std::string("a key left under HKEY_USERS by the failed load of a ") + row.name,
                Loaded(row.n) ? "yes" : "no", row.files == Files::Damaged ? "yes" : "no");
            RawUnload(Sid(row.n));
        }
        EXPECT_EQ(FolderContents(Folder(row.n)), files);
        EXPECT_EQ(UserKeys(), users);
        EXPECT_FALSE(Marked(row.n));
        const std::wstring code = L"\\C5B4A39281706F5E4D3C2B1A09F8E7D6";
        EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, kUserData + Sid(row.n) + L"\\Products" + code),
                  row.dataKeysRemain);
        EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, kUserData + Sid(row.n) + L"\\Patches" + code),
                  row.dataKeysRemain && row.seed == Seed::TwoDataKeys);
        CleanUp();
    }
}

// The repair of a signed-out user: the backup holds the product registration
// read from the loaded hive, both trees go, the hive is unloaded.
TEST_F(UserHiveTest, KeymendcRepairsASignedOutUser) {
    SeedProfile(2044, Path::Text, 0, false, Files::Dat);
    ASSERT_NO_FATAL_FAILURE(SeedInstallerData(2044));
    std::wstring backups = TestRoot() + L"\\backups";
    std::vector<std::wstring> users = UserKeys();
    nlohmann::json report =
        Keymendc(L"repair --include-signed-out --backup \"" + backups + L"\"", 0);
    EXPECT_EQ(report["outcome"], "removed");
    EXPECT_EQ(report["usersNotLoaded"][0]["hive"], "loaded-and-unloaded");
    ASSERT_EQ(report["deletions"].size(), 2u);
    for (const nlohmann::json& deletion : report["deletions"]) {
        EXPECT_EQ(deletion["deleted"], true) << deletion["key"];
    }
    EXPECT_FALSE(
        KeyExists(HKEY_LOCAL_MACHINE,
                  kUserData + Sid(2044) + L"\\Products\\C5B4A39281706F5E4D3C2B1A09F8E7D6"));
    EXPECT_EQ(UserKeys(), users);
    EXPECT_FALSE(Marked(2044));
    ASSERT_TRUE(report["backup"]["file"].is_string()) << report.dump();
    std::string file = report["backup"]["file"].get<std::string>();
    std::string backup = ReadWholeFile(std::wstring(file.begin(), file.end()).c_str());
    std::wstring header = L"[HKEY_USERS\\" + Sid(2044) + kProduct + L"]";
    std::string wide(reinterpret_cast<const char*>(header.data()), header.size() * 2);
    EXPECT_NE(backup.find(wide), std::string::npos) << "the product registration in the backup";
    FolderContents(backups, true);

    // The deletion in the file itself, once the hive is loaded again: Wine
    // never writes a loaded hive back, Windows must.
    const std::wstring again = Sid(2044) + L"-reloaded";
    ASSERT_EQ(Privileged(kRestore,
                         [&] {
                             return RegLoadKeyW(HKEY_USERS, again.c_str(),
                                                (Folder(2044) + L"\\NTUSER.DAT").c_str());
                         }),
              ERROR_SUCCESS);
    bool gone = !KeyExists(HKEY_USERS, again + kProduct);
    RawUnload(again);
    RecordPlatformAnswer("a deletion in a loaded hive reaches NTUSER.DAT at the unload",
                         gone ? "yes" : "no", "no");
    EXPECT_TRUE(gone || IsWine()) << "the product registration is still in NTUSER.DAT";
}

// A killed run's hive, with a handle into it: the next run cannot unload it,
// says so first with its own code and names that user left loaded (its
// registration, readable all the same, is removed); once the handle is
// closed, the run after unloads it.
TEST_F(UserHiveTest, KeymendcUnloadsAKilledRunsHive) {
    UserProfile profile = Usable(2045);
    ASSERT_NO_FATAL_FAILURE(SeedInstallerData(2045));
    ASSERT_EQ(LoadUserHive(profile), ERROR_SUCCESS);
    ScopedHkey root;
    ASSERT_EQ(RegOpenKeyExW(HKEY_USERS, profile.sid.c_str(), 0, KEY_READ, root.receive()), 0);
    ProgramRun held = RunKeymendc(L"check");
    EXPECT_EQ(held.exitCode, 170u) << held.out;
    EXPECT_EQ(LastLine(held.out).rfind("Hive left loaded: ", 0), 0u) << LastLine(held.out);
    nlohmann::json repaired = Keymendc(L"repair --include-signed-out", 170);
    EXPECT_EQ(repaired["outcome"], "hive-left-loaded");
    EXPECT_EQ(repaired["outcomeBeneath"], "removed");
    ASSERT_EQ(repaired["usersNotLoaded"].size(), 1u);
    EXPECT_EQ(repaired["usersNotLoaded"][0]["hive"], "left-loaded");
    EXPECT_TRUE(Loaded(2045));
    EXPECT_TRUE(Marked(2045));
    root.Close();

    nlohmann::json report = Keymendc(L"check", 0);
    ASSERT_EQ(report["leftoverHives"].size(), 1u);
    EXPECT_EQ(report["leftoverHives"][0]["action"], "unloaded");
    EXPECT_FALSE(Loaded(2045));
    EXPECT_FALSE(Marked(2045));
}

// The marks decide which hive keymendc unloads: under a key that others may
// change, or that cannot be read, none is trusted, nothing is loaded or
// unloaded, and the run is never clean.
struct MarksRow {
    const char* name;
    const wchar_t* keySecurity;  // KEYMEND's before the run; nullptr: no such key
    bool forgedMark;             // a hive another program loaded, marked as keymendc's
    DWORD exitCode;
    DWORD marksCode;
    const char* hive;  // of the signed-out user
};

const MarksRow kMarksRows[] = {
    {"others may write the marks", L"O:BAD:P(A;OICI;KA;;;SY)(A;OICI;KA;;;BA)(A;OICI;KA;;;WD)",
     false, 1011, ERROR_ACCESS_DENIED, "not-loadable"},
    {"a forged mark where others may write",
     L"O:BAD:P(A;OICI;KA;;;SY)(A;OICI;KA;;;BA)(A;OICI;KA;;;WD)", true, 1011, ERROR_ACCESS_DENIED,
     "not-loadable"},
    // Only DELETE and WRITE_DAC, so that the test can take it back.
    {"the marks cannot be read", L"O:SYD:P(A;;0x50000;;;BA)", false, 1011, ERROR_ACCESS_DENIED,
     "not-loadable"},
    {"the marks keymendc makes", nullptr, false, 1, 0, "loaded-and-unloaded"},
};

const wchar_t kMarksParent[] = L"SOFTWARE\\DUVA\\KEYMEND";

std::string KeySddl(HKEY root, const wchar_t* path) {
    ScopedHkey key;
    if (RegOpenKeyExW(root, path, 0, READ_CONTROL, key.receive()) != ERROR_SUCCESS) {
        return "(unreadable)";
    }
    char buffer[4096];
    DWORD bytes = sizeof buffer;
    if (RegGetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, buffer, &bytes) != ERROR_SUCCESS) {
        return "(unreadable)";
    }
    wchar_t* text = nullptr;
    ConvertSecurityDescriptorToStringSecurityDescriptorW(buffer, SDDL_REVISION_1,
                                                         DACL_SECURITY_INFORMATION, &text, nullptr);
    std::string sddl = Utf8(text);
    LocalFree(text);
    return sddl;
}

void RemoveMarksKey() {
    ScopedHkey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMarksParent, 0, WRITE_DAC, key.receive()) ==
        ERROR_SUCCESS) {
        PSECURITY_DESCRIPTOR open = nullptr;
        ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;OICI;KA;;;WD)", SDDL_REVISION_1,
                                                             &open, nullptr);
        RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, open);
        LocalFree(open);
    }
    key.Close();
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kMarksParent);
}

TEST_F(UserHiveTest, MarksAreTrustedOnlyWhereNoOneElseMayChangeThem) {
    for (const MarksRow& row : kMarksRows) {
        SCOPED_TRACE(row.name);
        RemoveMarksKey();
        UserProfile signedOut = Usable(2026);
        ASSERT_NO_FATAL_FAILURE(SeedInstallerData(2026));
        UserProfile other = Usable(2027);
        if (row.keySecurity != nullptr) {
            ScopedHkey key;
            ASSERT_EQ(
                RegCreateKeyExW(HKEY_LOCAL_MACHINE, kMarksParent, 0, nullptr, REG_OPTION_VOLATILE,
                                KEY_ALL_ACCESS, nullptr, key.receive(), nullptr),
                ERROR_SUCCESS);
            if (row.forgedMark) {
                ASSERT_EQ(CreateKey(key.get(), L"LoadedHives\\" + other.sid, REG_OPTION_VOLATILE),
                          ERROR_SUCCESS);
            }
            // Set, not passed at creation: Wine ignores the latter.
            PSECURITY_DESCRIPTOR descriptor = nullptr;
            ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
                row.keySecurity, SDDL_REVISION_1, &descriptor, nullptr));
            EXPECT_EQ(Privileged(kRestore,
                                 [&] {
                                     return RegSetKeySecurity(
                                         key.get(),
                                         OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                         descriptor);
                                 }),
                      ERROR_SUCCESS);
            LocalFree(descriptor);
        }
        if (row.forgedMark) {
            ASSERT_EQ(Privileged(kRestore,
                                 [&] {
                                     return RegLoadKeyW(HKEY_USERS, other.sid.c_str(),
                                                        other.hiveFile.c_str());
                                 }),
                      ERROR_SUCCESS);
        }
        nlohmann::json report = Keymendc(L"check --include-signed-out", row.exitCode);
        EXPECT_EQ(report["complete"], row.marksCode == 0);
        if (row.marksCode != 0) {
            EXPECT_EQ(report["marks"]["code"], row.marksCode) << report["marks"];
        } else {
            EXPECT_TRUE(report["marks"].is_null()) << report["marks"];
            // SYSTEM and Administrators alone (Wine keeps no protection flag to show).
            std::string sddl = KeySddl(HKEY_LOCAL_MACHINE, kMarksParent);
            EXPECT_EQ(sddl.substr(sddl.find('(')), "(A;OICI;KA;;;SY)(A;OICI;KA;;;BA)") << sddl;
        }
        ASSERT_EQ(report["usersNotLoaded"].size(), 1u) << report.dump();
        EXPECT_EQ(report["usersNotLoaded"][0]["hive"], row.hive);
        EXPECT_FALSE(Loaded(2026));
        EXPECT_EQ(Loaded(2027), row.forgedMark) << "another program's hive was unloaded";
        RemoveMarksKey();
        CleanUp();
    }
}

}  // namespace
