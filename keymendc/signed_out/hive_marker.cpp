#include "hive_marker.h"

#include <aclapi.h>
#include <sddl.h>

#include "administrators_only.h"
#include "local_memory.h"
#include "scoped_hkey.h"

const wchar_t kHiveMarkerRoot[] = L"SOFTWARE\\DUVA\\KEYMEND\\LoadedHives";
const wchar_t kMarksKeySecurity[] = L"D:P(A;OICI;KA;;;SY)(A;OICI;KA;;;BA)";

namespace {

const wchar_t kVendorKey[] = L"SOFTWARE\\DUVA";
const wchar_t kProgramKey[] = L"KEYMEND";
const wchar_t kMarksKey[] = L"LoadedHives";
// Rights that let someone add, drop or redirect a mark.
constexpr DWORD kKeyWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE |
                                  WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
constexpr REGSAM kMarksAccess =
    READ_CONTROL | KEY_QUERY_VALUE | KEY_CREATE_SUB_KEY | KEY_ENUMERATE_SUB_KEYS;

DWORD CheckTrusted(HKEY key, const wchar_t* name, std::wstring* who) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD result = GetSecurityInfo(key, SE_REGISTRY_KEY,
                                   OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                   nullptr, &dacl, nullptr, &descriptor);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    LocalMemory<> hold(descriptor);
    std::wstring whom;
    result = CheckSecurityIsAdministrators(owner, dacl, kKeyWriteRights, &whom);
    if (result == ERROR_ACCESS_DENIED) {
        *who = std::wstring(name) + L" may be changed by " + whom;
    }
    return result;
}

// Owner Administrators and the protected DACL, set on a key just created:
// set rather than passed at creation, which Wine ignores, and on each key,
// since Wine passes nothing on to a subkey.
DWORD Protect(HKEY key) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kMarksKeySecurity, SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        return GetLastError();
    }
    LocalMemory<> hold(descriptor);
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) {
        return GetLastError();
    }
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof administrators;
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size)) {
        return GetLastError();
    }
    return SetSecurityInfo(key, SE_REGISTRY_KEY,
                           OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                               PROTECTED_DACL_SECURITY_INFORMATION,
                           administrators, nullptr, dacl, nullptr);
}

// Opens parent\name as itself, never through a link that someone planted
// in its place; with create, makes it volatile and protected if it is
// missing. Then checks that it is trusted.
DWORD OpenTrusted(HKEY parent, const wchar_t* name, bool create, ScopedHkey* key,
                  std::wstring* who) {
    LONG result = RegOpenKeyExW(parent, name, REG_OPTION_OPEN_LINK, kMarksAccess, key->receive());
    if (result == ERROR_FILE_NOT_FOUND && create) {
        DWORD disposition = 0;
        result = RegCreateKeyExW(parent, name, 0, nullptr, REG_OPTION_VOLATILE,
                                 kMarksAccess | WRITE_DAC | WRITE_OWNER, nullptr, key->receive(),
                                 &disposition);
        if (result == ERROR_SUCCESS && disposition == REG_CREATED_NEW_KEY) {
            result = static_cast<LONG>(Protect(key->get()));
        }
    }
    if (result != ERROR_SUCCESS) {
        return static_cast<DWORD>(result);
    }
    return CheckTrusted(key->get(), name, who);
}

// LoadedHives, trusted along with KEYMEND above it. ERROR_FILE_NOT_FOUND
// when there are no marks and create is false.
DWORD OpenMarks(bool create, ScopedHkey* marks, std::wstring* who) {
    ScopedHkey vendor;
    LONG result = create ? RegCreateKeyExW(HKEY_LOCAL_MACHINE, kVendorKey, 0, nullptr,
                                           REG_OPTION_NON_VOLATILE, KEY_CREATE_SUB_KEY, nullptr,
                                           vendor.receive(), nullptr)
                         : RegOpenKeyExW(HKEY_LOCAL_MACHINE, kVendorKey, 0, KEY_ENUMERATE_SUB_KEYS,
                                         vendor.receive());
    if (result != ERROR_SUCCESS) {
        return static_cast<DWORD>(result);
    }
    ScopedHkey program;
    DWORD opened = OpenTrusted(vendor.get(), kProgramKey, create, &program, who);
    if (opened != ERROR_SUCCESS) {
        return opened;
    }
    return OpenTrusted(program.get(), kMarksKey, create, marks, who);
}

DWORD Absent(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
}

}  // namespace

DWORD WriteHiveMarker(const std::wstring& sid) {
    ScopedHkey marks;
    std::wstring who;
    DWORD opened = OpenMarks(true, &marks, &who);
    if (opened != ERROR_SUCCESS) {
        return opened;
    }
    ScopedHkey marker;
    return static_cast<DWORD>(RegCreateKeyExW(marks.get(), sid.c_str(), 0, nullptr,
                                              REG_OPTION_VOLATILE, KEY_QUERY_VALUE, nullptr,
                                              marker.receive(), nullptr));
}

DWORD HiveMarkerExists(const std::wstring& sid, bool* exists) {
    *exists = false;
    ScopedHkey marks;
    std::wstring who;
    DWORD opened = OpenMarks(false, &marks, &who);
    if (opened != ERROR_SUCCESS) {
        return Absent(opened);
    }
    ScopedHkey marker;
    LONG result = RegOpenKeyExW(marks.get(), sid.c_str(), 0, KEY_QUERY_VALUE, marker.receive());
    *exists = result == ERROR_SUCCESS;
    return Absent(static_cast<DWORD>(result));
}

DWORD DropHiveMarker(const std::wstring& sid) {
    ScopedHkey marks;
    std::wstring who;
    DWORD opened = OpenMarks(false, &marks, &who);
    if (opened != ERROR_SUCCESS) {
        return Absent(opened);
    }
    return Absent(static_cast<DWORD>(RegDeleteKeyW(marks.get(), sid.c_str())));
}

DWORD ListHiveMarkers(std::vector<std::wstring>* sids, std::wstring* who) {
    sids->clear();
    ScopedHkey marks;
    DWORD opened = OpenMarks(false, &marks, who);
    if (opened != ERROR_SUCCESS) {
        return Absent(opened);
    }
    LONG result = ERROR_SUCCESS;
    for (DWORD index = 0; result == ERROR_SUCCESS; ++index) {
        wchar_t name[256];  // a key name holds at most 255 characters
        DWORD chars = 256;
        result =
            RegEnumKeyExW(marks.get(), index, name, &chars, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_SUCCESS) {
            sids->emplace_back(name, chars);
        }
    }
    return result == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : static_cast<DWORD>(result);
}
