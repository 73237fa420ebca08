// keymendc.exe beyond the scenarios: the backup restores exactly, refusals
// touch nothing, and every bad command line gives 87 and the usage.
#include <aclapi.h>
#include <bcrypt.h>
#include <gtest/gtest.h>
#include <sddl.h>
#include <windows.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <vector>

#include "e2e/system_state.h"
#include "folder_security.h"
#include "keymendc_run.h"
#include "support/planted_dlls.h"
#include "support/platform_answer.h"
#include "support/test_paths.h"
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
    *text += "[" + Utf8(name) + "]\n";
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
        *text += Utf8(std::wstring(valueName, nameChars)) + " type " + std::to_string(type) + ":";
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
        scenario.registryFiles = {ScenarioDir() + "/base/damaged_product.reg"};
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

// Removes a folder tree of files and folders left by an earlier run.
void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            std::wstring path = folder + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                RemoveDirectoryW(path.c_str());  // the link itself, never what it names
            } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

DWORD CreateFolderWithDacl(const std::wstring& path, const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor,
                                                         nullptr);
    PACL dacl = nullptr;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    DWORD result = CreateDirectoryW(path.c_str(), nullptr) ? ERROR_SUCCESS : GetLastError();
    if (result == ERROR_SUCCESS) {
        result =
            SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                                  DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, dacl, nullptr);
    }
    LocalFree(descriptor);
    return result;
}

// On the prefix's own drive: a folder of the host above the build tree may
// let others write (/tmp does), which keymendc would rightly refuse. Closed
// to all but SYSTEM and Administrators: Windows' C:\ passes on to a new
// folder every user's right to add to it.
std::wstring EmptyFolder(const wchar_t* name) {
    CreateFolderWithDacl(L"C:\\keymendc-tests", L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
    std::wstring folder = std::wstring(L"C:\\keymendc-tests\\") + name;
    RemoveTree(folder);
    return folder;
}

// The owner and DACL as Wine stores them: it keeps no descriptor of its own
// but maps it onto the Unix mode, so "others" read back as Everyone (WD).
std::string Sddl(const std::wstring& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
        return "(unreadable)";
    }
    wchar_t* text = nullptr;
    ConvertSecurityDescriptorToStringSecurityDescriptorW(
        descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text,
        nullptr);
    std::string sddl = Utf8(text);
    LocalFree(text);
    LocalFree(descriptor);
    return sddl;
}

bool EveryoneMayAccess(const std::wstring& path) {
    return Sddl(path).find(";WD)") != std::string::npos;
}

std::string Sha256Of(const std::string& bytes) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    UCHAR digest[32] = {};
    BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0);
    BCryptHashData(hash, reinterpret_cast<UCHAR*>(const_cast<char*>(bytes.data())),
                   static_cast<ULONG>(bytes.size()), 0);
    BCryptFinishHash(hash, digest, sizeof digest, 0);
    BCryptDestroyHash(hash);
    BCryptCloseAlgorithmProvider(algorithm, 0);
    std::string hex;
    for (UCHAR byte : digest) {
        hex += "0123456789abcdef"[byte >> 4];
        hex += "0123456789abcdef"[byte & 15];
    }
    return hex;
}

nlohmann::json Parsed(const ProgramRun& run) {
    nlohmann::json report = nlohmann::json::parse(run.out, nullptr, false);
    EXPECT_TRUE(report.is_object()) << run.out;
    return report;
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
    nlohmann::json report = Parsed(repair);
    EXPECT_EQ(report["outcome"], "removed");
    std::vector<std::wstring> files = FilesIn(folder);
    ASSERT_EQ(files.size(), 1u) << "the backup alone, no partial file";
    std::wstring file = folder + L"\\" + files[0];
    EXPECT_EQ(report["backup"]["file"], Utf8(file));
    EXPECT_EQ(report["backup"]["sha256"], Sha256Of(ReadWholeFile(file.c_str())));
    EXPECT_FALSE(EveryoneMayAccess(file)) << Sddl(file);
    EXPECT_EQ(ReadBackBothTrees(), "(none)\n(none)\n");

    ProgramRun import = RunRegExe(L"import \"" + file + L"\"");
    EXPECT_EQ(import.exitCode, 0u) << import.out << import.err;
    EXPECT_EQ(ReadBackBothTrees(), before);
    RemoveTree(folder);
}

TEST_F(KeymendcBackup, MissingFoldersAreMadeForAdministratorsOnly) {
    std::wstring top = EmptyFolder(L"keymendc new");
    std::wstring folder = top + L"\\KEYMEND\\Backups";
    ProgramRun repair = RunKeymendc(L"repair --backup \"" + folder + L"\"");
    EXPECT_EQ(repair.exitCode, 0u) << repair.out;
    EXPECT_EQ(FilesIn(folder).size(), 1u);
    for (const std::wstring& level : {top, top + L"\\KEYMEND", folder}) {
        EXPECT_FALSE(EveryoneMayAccess(level)) << Utf8(level) << ": " << Sddl(level);
    }
    EXPECT_NE(LastLine(repair.out).find("Removed: "), std::string::npos);
    EXPECT_NE(repair.out.find("Backup SHA-256: "), std::string::npos);
    RemoveTree(top);
}

// What keymendc must refuse to write a backup into, or from: each leaves the
// registry as it was and no file of its own behind.
struct BackupRefusal {
    const char* name;
    const char* reason;  // part of the summary
    // Prepares the folder below top; returns the folder to pass.
    std::function<std::wstring(const std::wstring& top)> prepare;
    // A subkey of the installer data key, with a value of that name if given,
    // added for the row alone.
    const wchar_t* subkey = nullptr;
    const wchar_t* value = nullptr;
    bool unreadable = false;  // the subkey refuses to be read
    // Instead: the subkey, in the product registration, is a registry link to
    // this key of HKEY_LOCAL_MACHINE, which holds a value and a subkey.
    const wchar_t* linkTo = nullptr;
};

std::wstring Stamp(int secondsAhead) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER ticks{{now.dwLowDateTime, now.dwHighDateTime}};
    ticks.QuadPart += static_cast<ULONGLONG>(secondsAhead) * 10000000;
    FILETIME later{ticks.LowPart, ticks.HighPart};
    FILETIME local;
    SYSTEMTIME time;
    FileTimeToLocalFileTime(&later, &local);
    FileTimeToSystemTime(&local, &time);
    wchar_t stamp[32];
    swprintf(stamp, 32, L"%04u%02u%02u-%02u%02u%02u", time.wYear, time.wMonth, time.wDay,
             time.wHour, time.wMinute, time.wSecond);
    return stamp;
}

// Files of the names the next seconds' backup would take.
std::wstring PlantNames(const std::wstring& folder, const wchar_t* suffix) {
    CreateFolderWithDacl(folder, L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD chars = MAX_COMPUTERNAME_LENGTH + 1;
    GetComputerNameW(computer, &chars);
    for (int second = 0; second < 30; ++second) {
        std::wstring name =
            folder + L"\\keymend-backup-" + computer + L"-" + Stamp(second) + L".reg" + suffix;
        HANDLE file =
            CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(file, "planted", 7, &written, nullptr);
        CloseHandle(file);
    }
    return folder;
}

bool AddName(const wchar_t* subkey, const wchar_t* value) {
    std::wstring path = PathOf(kDataKey) + L"\\" + subkey;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    LONG result = value == nullptr ? ERROR_SUCCESS
                                   : RegSetValueExW(key, value, 0, REG_SZ,
                                                    reinterpret_cast<const BYTE*>(L"x"), 4);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

void RemoveName(const wchar_t* subkey) {
    std::wstring path = PathOf(kDataKey) + L"\\" + subkey;
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str()), ERROR_SUCCESS);
}

std::wstring Inside(const std::wstring& top) {
    return top + L"\\backups";
}

// The status of NtQueryKey(KeyNameInformation) on HKEY_USERS\\path opened as
// itself with DELETE alone.
std::string KeyNameStatus(const std::wstring& path) {
    HKEY key = nullptr;
    LONG opened = RegOpenKeyExW(HKEY_USERS, path.c_str(), REG_OPTION_OPEN_LINK, DELETE, &key);
    if (opened != ERROR_SUCCESS) {
        return "open failed with " + std::to_string(opened);
    }
    using NtQueryKeyCall = LONG(NTAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    auto query = reinterpret_cast<NtQueryKeyCall>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryKey")));
    alignas(8) unsigned char name[2048];
    ULONG bytes = 0;
    LONG status = query(key, 3 /* KeyNameInformation */, name, sizeof name, &bytes);
    RegCloseKey(key);
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(status));
    return text;
}

bool PlantLink(const wchar_t* subkey, const wchar_t* target) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(target) + L"\\Child").c_str(), 0, nullptr,
                        0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    RegSetValueExW(key, L"Kept", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), 4);
    RegCloseKey(key);
    std::wstring link = PathOf(kProductKey) + L"\\" + subkey;
    if (RegCreateKeyExW(HKEY_USERS, link.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    std::wstring name = std::wstring(L"\\Registry\\Machine\\") + target;
    LONG result = RegSetValueExW(key, L"SymbolicLinkValue", 0, REG_LINK,
                                 reinterpret_cast<const BYTE*>(name.c_str()),
                                 static_cast<DWORD>(name.size() * sizeof(wchar_t)));
    RegCloseKey(key);
    // Neither program relies on the answer: whether an open through a link
    // from a user's registry reaches HKEY_LOCAL_MACHINE, and whether the
    // kernel names a key opened for DELETE alone (as DeleteKeyAsNamedA does).
    HKEY through = nullptr;
    LONG followed = RegOpenKeyExW(HKEY_USERS, (link + L"\\Child").c_str(), 0, KEY_READ, &through);
    if (followed == ERROR_SUCCESS) {
        RegCloseKey(through);
    }
    RecordPlatformAnswer("an open through a link from HKEY_USERS\\<SID> into HKEY_LOCAL_MACHINE",
                         std::to_string(followed), "0");
    RecordPlatformAnswer("NtQueryKey KeyNameInformation of a key opened for DELETE alone",
                         KeyNameStatus(link), "0x00000000");
    return result == ERROR_SUCCESS;
}

// The link as itself, then its target: the mirror never follows a link.
void RemoveLink(const wchar_t* subkey, const wchar_t* target) {
    std::string error;
    EXPECT_EQ(
        ForceDeleteLiveTree(HKEY_USERS_ROOT, Utf8(PathOf(kProductKey) + L"\\" + subkey), &error),
        0u)
        << error;
    EXPECT_EQ(ForceDeleteLiveTree(HKEY_LOCAL_MACHINE_ROOT, Utf8(target), &error), 0u) << error;
}

// A key of HKEY_LOCAL_MACHINE read back, or "" for none.
std::string MachineKeyText(const wchar_t* path) {
    std::string text;
    HKEY key = nullptr;
    if (path != nullptr &&
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        ReadBack(key, path, &text);
        RegCloseKey(key);
    }
    return text;
}

const BackupRefusal kBackupRefusals[] = {
    {"folder others may write", "may be written by",
     [](const std::wstring& top) {
         std::wstring folder = top + L"\\open";
         CreateFolderWithDacl(folder, L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;WD)");
         return folder;
     }},
    {"folder inside one others may change", "replace what it holds",
     [](const std::wstring& top) {
         std::wstring parent = top + L"\\open";
         CreateFolderWithDacl(parent, L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;WD)");
         CreateFolderWithDacl(parent + L"\\closed", L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
         return parent + L"\\closed\\backups";
     }},
    {"path through a reparse point", "reparse point",
     [](const std::wstring& top) {
         // Wine shows only a Unix symbolic link as a reparse point, not its own: the
         // build (or CI, in the bundle's work folder) makes that one beforehand.
         wchar_t full[MAX_PATH];
         GetFullPathNameW(L"reparse-link", MAX_PATH, full, nullptr);
         std::wstring link = full;
         if (!IsWine()) {
             link = top + L"\\link";
             CreateFolderWithDacl(top + L"\\target", L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
             EXPECT_TRUE(CreateSymbolicLinkW(link.c_str(), L"target", SYMBOLIC_LINK_FLAG_DIRECTORY))
                 << GetLastError();
         }
         DWORD attributes = GetFileAttributesW(link.c_str());
         EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES &&
                     (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
             << "the test's link is missing";
         return link + L"\\backups";
     }},
    {"temporary name taken", "exists already",
     [](const std::wstring& top) { return PlantNames(top + L"\\taken", L".partial"); }},
    {"file name taken", "exists already",
     [](const std::wstring& top) { return PlantNames(top + L"\\taken", L""); }},
    {"key name with CR", "cannot hold", Inside, L"a\rb"},
    {"key name with LF", "cannot hold", Inside, L"a\nb"},
    {"value name with CR", "cannot hold", Inside, L"Values", L"a\rb"},
    {"value name with LF", "cannot hold", Inside, L"Values", L"a\nb"},
    {"key that cannot be read", "cannot read", Inside, L"Locked", nullptr, true},
    {"registry link in the tree",
     "a registry link, which a registry file cannot hold, at HKEY_USERS\\S-1-5-21-1111111111-"
     "2222222222-3333333333-1001\\Software\\Microsoft\\Installer\\Products\\"
     "C5B4A39281706F5E4D3C2B1A09F8E7D6\\Lnk",
     Inside, L"Lnk", nullptr, false, L"SOFTWARE\\KeymendTest\\Victim"},
};

TEST_F(KeymendcBackup, EachRefusalDeletesNothing) {
    for (const BackupRefusal& row : kBackupRefusals) {
        std::wstring top = EmptyFolder(L"keymendc refusals");
        CreateDirectoryW(top.c_str(), nullptr);
        std::wstring folder = row.prepare(top);
        std::string subkeyPath =
            row.subkey == nullptr ? std::string() : Utf8(PathOf(kDataKey) + L"\\" + row.subkey);
        if (row.subkey != nullptr) {
            ASSERT_TRUE(row.linkTo != nullptr ? PlantLink(row.subkey, row.linkTo)
                                              : AddName(row.subkey, row.value))
                << row.name;
        }
        std::string targetBefore = MachineKeyText(row.linkTo);
        if (row.unreadable) {
            ASSERT_EQ(RestrictLiveKey(HKEY_LOCAL_MACHINE_ROOT, subkeyPath, KEY_WRITE, false), 0u);
        }
        std::string before = ReadBackBothTrees();
        std::vector<std::wstring> filesBefore = FilesIn(folder);

        ProgramRun repair = RunKeymendc(L"repair --json --backup \"" + folder + L"\"");
        EXPECT_EQ(repair.exitCode, 29u) << row.name << "\n" << repair.out;
        nlohmann::json report = Parsed(repair);
        EXPECT_EQ(report["outcome"], "backup-failed") << row.name;
        EXPECT_EQ(report["backup"]["file"], nullptr) << row.name;
        EXPECT_NE(report["summary"].get<std::string>().find(row.reason), std::string::npos)
            << row.name << ": " << report["summary"];
        EXPECT_TRUE(report["deletions"].empty()) << row.name;
        EXPECT_EQ(ReadBackBothTrees(), before) << row.name;
        EXPECT_EQ(FilesIn(folder), filesBefore) << row.name << ": a file of keymendc's was left";
        EXPECT_EQ(MachineKeyText(row.linkTo), targetBefore) << row.name << ": the link's target";
        if (row.unreadable) {
            EXPECT_EQ(RestrictLiveKey(HKEY_LOCAL_MACHINE_ROOT, subkeyPath, KEY_ALL_ACCESS, false),
                      0u);
        }
        if (row.linkTo != nullptr) {
            RemoveLink(row.subkey, row.linkTo);
        } else if (row.subkey != nullptr) {
            RemoveName(row.subkey);
        }
        RemoveTree(top);
    }
}

// Each row of the folder security that keymendc and the deployment scripts
// judge alike, read through SDDL: Wine keeps no DACL of its own on a folder.
TEST(KeymendcFolderSecurity, EachRowIsJudgedAsItSays) {
    std::ifstream rows(TestPath(KEYMENDC_PROTECTED_FOLDERS));
    ASSERT_TRUE(rows) << TestPath(KEYMENDC_PROTECTED_FOLDERS);
    int count = 0;
    for (std::string line; std::getline(rows, line);) {
        std::istringstream fields(line);
        std::string verdict, named, sddl;
        if (!(fields >> verdict >> named >> sddl) || verdict[0] == '#') {
            continue;
        }
        ++count;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
            sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
            << sddl;
        PSID owner = nullptr;
        PACL dacl = nullptr;
        BOOL present = FALSE;
        BOOL defaulted = FALSE;
        GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
        GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
        std::wstring who;
        DWORD result =
            CheckSecurityIsAdministrators(owner, present ? dacl : nullptr, kWriteRights, &who);
        LocalFree(descriptor);
        std::string expected = named == "owner"     ? "its owner"
                               : named == "no-dacl" ? "no DACL"
                                                    : named;
        EXPECT_EQ(result, verdict == "accepted" ? 0u : 5u) << line << "\n" << Utf8(who);
        if (verdict == "refused") {
            EXPECT_NE(Utf8(who).find(expected), std::string::npos) << line << "\n" << Utf8(who);
        }
    }
    EXPECT_GE(count, 10);
}

// Windows Installer's mutex in each state keymendc may meet it.
enum class MutexState { Owned, OpenOnly, Abandoned, Denied };

class InstallerMutex {
  public:
    explicit InstallerMutex(MutexState state) : state_(state) {
        switch (state) {
            case MutexState::Owned:
                // Taken by waiting: a mutex an earlier row left open is only opened here.
                mutex_ = CreateMutexW(nullptr, FALSE, kName);
                owned_ = WaitForSingleObject(mutex_, 0) != WAIT_TIMEOUT;
                break;
            case MutexState::OpenOnly:
                mutex_ = CreateMutexW(nullptr, FALSE, kName);
                break;
            case MutexState::Abandoned: {
                // Its owner ends without giving it back.
                mutex_ = CreateMutexW(nullptr, FALSE, kName);
                HANDLE owner = CreateThread(
                    nullptr, 0,
                    [](void*) -> DWORD {
                        HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, kName);
                        DWORD waited = WaitForSingleObject(mutex, 0);
                        CloseHandle(mutex);
                        return waited;
                    },
                    nullptr, 0, nullptr);
                WaitForSingleObject(owner, INFINITE);
                CloseHandle(owner);
                break;
            }
            case MutexState::Denied: {
                // Owned by SYSTEM under Wine, which lets an owner open its objects whatever
                // the DACL says; Windows gives an owner no SYNCHRONIZE, and lets no
                // administrator name SYSTEM the owner.
                SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
                ConvertStringSecurityDescriptorToSecurityDescriptorW(
                    IsWine() ? L"O:SYD:P(A;;0x1;;;WD)" : L"D:P(A;;0x1;;;WD)", SDDL_REVISION_1,
                    &attributes.lpSecurityDescriptor, nullptr);
                mutex_ = CreateMutexW(&attributes, FALSE, kName);
                LocalFree(attributes.lpSecurityDescriptor);
                break;
            }
        }
    }
    ~InstallerMutex() {
        if (owned_) {
            ReleaseMutex(mutex_);
        }
        CloseHandle(mutex_);
    }
    InstallerMutex(const InstallerMutex&) = delete;
    InstallerMutex& operator=(const InstallerMutex&) = delete;
    bool active() const { return mutex_ != nullptr && (owned_ || state_ != MutexState::Owned); }

  private:
    static constexpr const wchar_t* kName = L"Global\\_MSIExecute";
    MutexState state_;
    HANDLE mutex_ = nullptr;
    bool owned_ = false;
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

TEST_F(KeymendcRefusal, WindowsInstallerBusyOnlyWhileItsMutexIsOwned) {
    struct Row {
        MutexState state;
        const char* name;
        bool busy;
    };
    for (const Row& row :
         {Row{MutexState::Owned, "owned", true}, Row{MutexState::Denied, "may not be opened", true},
          Row{MutexState::OpenOnly, "merely open", false},
          Row{MutexState::Abandoned, "abandoned", false}}) {
        SCOPED_TRACE(row.name);
        InstallerMutex installer(row.state);
        ASSERT_TRUE(installer.active());
        if (row.busy) {
            ExpectRefusal(1618, "Busy: ");
            continue;
        }
        ProgramRun check = RunKeymendc(L"check");
        EXPECT_EQ(check.exitCode, 1u) << check.out;
        EXPECT_EQ(LastLine(check.out).rfind("Found: ", 0), 0u) << check.out;
    }
}

TEST_F(KeymendcRefusal, NoAdministratorRightsGives2) {
    DriverListReadOnly readOnly;
    ASSERT_TRUE(readOnly.active());
    ASSERT_FALSE(DriverListWritable());
    ExpectRefusal(2, "Refused: ");
}

// keymendc run from a folder where DLLs were planted under the names Windows
// looks for there first: in order, a check and a repair that hashes its
// backup (the path that loads the most), and none of them is loaded.
struct PlantedRow {
    const wchar_t* arguments;
    DWORD exitCode;
};

using KeymendcPlantedDlls = DamagedRegistration;

TEST_F(KeymendcPlantedDlls, NoneIsLoadedFromTheProgramsFolder) {
    PlantedDlls planted(EmptyFolder(L"planted"), TestPathW(KEYMENDC_EXE));
    ASSERT_EQ(planted.error(), "");
    std::wstring backups = EmptyFolder(L"planted backups");
    const PlantedRow rows[] = {
        {L"check", 1},
        {L"repair --backup \"C:\\keymendc-tests\\planted backups\"", 0},
    };
    for (const PlantedRow& row : rows) {
        ProgramRun run = RunProgram(planted.program(), row.arguments);
        EXPECT_EQ(run.exitCode, row.exitCode) << Utf8(row.arguments) << "\n" << run.out;
        EXPECT_EQ(planted.Loaded(), std::vector<std::string>()) << Utf8(row.arguments);
    }
    EXPECT_EQ(FilesIn(backups).size(), 1u);
    RemoveTree(backups);
}

// A registration installed for all users: found and never read as clean,
// left in place unless asked for, then removed by the same rules.
struct PerMachineRow {
    const wchar_t* arguments;
    DWORD exitCode;
    const char* outcome;
    bool treesAfter;
};

TEST(KeymendcPerMachine, RemovedOnlyWhenAsked) {
    Scenario scenario;
    std::string error;
    ASSERT_TRUE(ReadScenario(ScenarioDir() + "/repair/installed_for_all_users_is_keymendcs_own.reg",
                             &scenario, &error))
        << error;
    MemoryRegistry seed;
    ASSERT_TRUE(LoadScenarioRegistry(scenario, seed, &error)) << error;
    LiveArea live;
    ASSERT_TRUE(live.Seed(seed, &error)) << error;
    const std::wstring product =
        L"SOFTWARE\\Classes\\Installer\\Products\\C5B4A39281706F5E4D3C2B1A09F8E7D6";
    const PerMachineRow rows[] = {
        {L"check", 1, "found", true},
        {L"repair", 1, "not-removed", true},
        {L"repair --include-per-machine", 0, "removed", false},
        {L"check", 0, "not-found", false},
    };
    for (const PerMachineRow& row : rows) {
        ProgramRun run = RunKeymendc(std::wstring(row.arguments) + L" --json");
        EXPECT_EQ(run.exitCode, row.exitCode) << Utf8(row.arguments) << "\n" << run.out;
        nlohmann::json report = Parsed(run);
        EXPECT_EQ(report["outcome"], row.outcome) << Utf8(row.arguments);
        for (const nlohmann::json& registration : report["registrations"]) {
            EXPECT_EQ(registration["kind"], "per-machine");
        }
        HKEY key = nullptr;
        bool present =
            RegOpenKeyExW(HKEY_LOCAL_MACHINE, product.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS;
        if (present) {
            RegCloseKey(key);
        }
        EXPECT_EQ(present, row.treesAfter) << Utf8(row.arguments);
    }
    EXPECT_TRUE(live.Remove(&error)) << error;
}

// Hundreds of users with the damage: every one is listed and removed, and
// the output, far beyond one console write of 64 KB, arrives whole with its
// summary last.
TEST(KeymendcManyUsers, EveryRegistrationAndTheWholeOutput) {
    constexpr int kUsers = 300;
    MemoryRegistry seed;
    for (int user = 0; user < kUsers; ++user) {
        std::string sid =
            "S-1-5-21-1111111111-2222222222-3333333333-" + std::to_string(5000 + user);
        std::string code = "C5B4A39281706F5E4D3C2B1A09F8E7D6";
        MemoryRegistry::NodeId properties =
            seed.CreatePath(HKEY_LOCAL_MACHINE_ROOT,
                            "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\" +
                                sid + "\\Products\\" + code + "\\InstallProperties");
        seed.SetValue(properties, "DisplayName", REG_SZ,
                      std::string("DUVA Brelix for Windows", 24));
        seed.SetValue(properties, "DisplayVersion", REG_SZ, std::string("1.11.0050", 10));
        MemoryRegistry::NodeId product = seed.CreatePath(
            HKEY_USERS_ROOT, sid + "\\Software\\Microsoft\\Installer\\Products\\" + code);
        seed.SetValue(product, "ProductName", REG_SZ, std::string("DUVA Brelix for Windows", 24));
    }
    LiveArea live;
    std::string error;
    ASSERT_TRUE(live.Seed(seed, &error)) << error;

    ProgramRun check = RunKeymendc(L"check");
    EXPECT_EQ(check.exitCode, 1u);
    EXPECT_GT(check.out.size(), 65536u);
    std::size_t listed = 0;
    for (std::size_t at = 0; (at = check.out.find("User (SID):", at)) != std::string::npos; ++at) {
        ++listed;
    }
    EXPECT_EQ(listed, static_cast<std::size_t>(kUsers));
    EXPECT_EQ(LastLine(check.out).rfind("Found: 300 damaged Brelix 1.11 registrations;", 0), 0u)
        << LastLine(check.out);
    // The same on a console, where Windows 7 refuses one write of more than 64 KB.
    ProgramRun console;
    bool onConsole = RunKeymendcOnConsole(L"check", &console);
    RecordPlatformAnswer("a console screen buffer of 240 x 32000 characters for keymendc",
                         onConsole ? "yes" : "no", "no");
    ASSERT_TRUE(onConsole || IsWine()) << "no console screen buffer";
    if (onConsole) {
        EXPECT_EQ(console.exitCode, 1u);
        std::size_t shown = 0;
        for (std::size_t at = 0; (at = console.out.find("User (SID):", at)) != std::string::npos;
             ++at) {
            ++shown;
        }
        EXPECT_EQ(shown, static_cast<std::size_t>(kUsers));
        EXPECT_EQ(LastLine(console.out).rfind("Found: 300 damaged Brelix 1.11 registrations;", 0),
                  0u)
            << LastLine(console.out);
    }

    ProgramRun repair = RunKeymendc(L"repair --json");
    EXPECT_EQ(repair.exitCode, 0u);
    nlohmann::json report = Parsed(repair);
    EXPECT_EQ(report["registrations"].size(), static_cast<std::size_t>(kUsers));
    EXPECT_EQ(report["deletions"].size(), 2u * kUsers);
    EXPECT_EQ(LastLine(RunKeymendc(L"check").out).rfind("Not found: ", 0), 0u);
    EXPECT_TRUE(live.Remove(&error)) << error;
}

// What each deployment tool is shown, end to end: a row per tool and state,
// in order, the registration removed half-way.
struct DeploymentRow {
    const wchar_t* arguments;
    bool busy;  // Windows Installer's mutex owned meanwhile
    DWORD exitCode;
    const char* lastLine;  // how standard output's last line begins; "" for no output
    bool reason;           // the summary on standard error
};

const DeploymentRow kDeploymentRows[] = {
    {L"check --deployment intune-detection", false, 1, "Found: ", false},
    {L"check --deployment intune-detection", true, 1, "Busy: ", false},
    {L"check --deployment configmgr-app-detection", true, 0, "", false},
    {L"check --deployment configmgr-discovery", false, 0, "Found: ", false},
    {L"check --deployment configmgr-app-detection", false, 0, "", false},
    {L"repair --deployment configmgr-remediation --backup C:\\keymendc-tests\\deployment", false, 0,
     "Removed: ", false},
    {L"check --deployment configmgr-discovery", false, 0, "Compliant", false},
    {L"check --deployment configmgr-app-detection", false, 0, "Not found: ", false},
    {L"repair --deployment intune-remediation", false, 0, "Not found: ", false},
};

using KeymendcDeployment = DamagedRegistration;

TEST_F(KeymendcDeployment, EachToolSeesItsOwnView) {
    for (const DeploymentRow& row : kDeploymentRows) {
        std::string arguments = Utf8(row.arguments);
        std::unique_ptr<InstallerMutex> installer;
        if (row.busy) {
            installer = std::make_unique<InstallerMutex>(MutexState::Owned);
            ASSERT_TRUE(installer->active());
        }
        ProgramRun run = RunKeymendc(row.arguments);
        EXPECT_EQ(run.exitCode, row.exitCode) << arguments << "\n" << run.out << run.err;
        EXPECT_EQ(LastLine(run.out).rfind(row.lastLine, 0), 0u) << arguments << "\n" << run.out;
        EXPECT_EQ(*row.lastLine == '\0', run.out.empty()) << arguments;
        EXPECT_EQ(run.err.empty(), !row.reason) << arguments << "\n" << run.err;
    }
    RemoveTree(L"C:\\keymendc-tests\\deployment");
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
    {L"-h", 0, true},
    // Help among other arguments is a script's mistake, not a clean run.
    {L"repair --backup C:\\x -h", 87, false},
    {L"repair --backup /?", 87, false},
    {L"repair --deployment intune-remediation -h", 87, false},
    {L"check --deployment intune-detection /?", 87, false},
    // Relative to the working folder, which is System32 for SYSTEM.
    {L"repair --backup backups", 87, false},
    {L"repair --backup C:backups", 87, false},
    {L"repair --backup \\backups", 87, false},
    {L"check --include-per-machine", 87, false},
    {L"fix", 87, false},
    {L"check repair", 87, false},
    {L"--json", 87, false},
    {L"check --jsn", 87, false},
    {L"check --backup C:\\x", 87, false},
    {L"repair --backup", 87, false},
    {L"repair --backup \"\"", 87, false},
    {L"repair --backup --json", 87, false},
    {L"repair --backup /json", 87, false},
    {L"repair --backup C:\\x --backup C:\\y", 87, false},
    {L"check --deployment", 87, false},
    {L"check --deployment intune", 87, false},
    {L"check --deployment intune-detection --json", 87, false},
    {L"check --deployment intune-detection --verbose", 87, false},
    {L"repair --deployment intune-detection", 87, false},
    {L"check --deployment configmgr-remediation", 87, false},
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
