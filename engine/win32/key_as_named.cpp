#include "key_as_named.h"

#include <winternl.h>

#include <cstring>
#include <cwchar>

#include "scoped_hkey.h"

extern "C" {
NTSTATUS NTAPI NtQueryKey(HANDLE key, int informationClass, PVOID information, ULONG length,
                          PULONG resultLength);
NTSTATUS NTAPI NtDeleteKey(HANDLE key);
BOOLEAN NTAPI RtlEqualUnicodeString(const UNICODE_STRING* first, const UNICODE_STRING* second,
                                    BOOLEAN caseInsensitive);
}

namespace {

constexpr int kKeyNameInformation = 3;  // of KEY_INFORMATION_CLASS
// The kernel holds a key's name in a UNICODE_STRING: no name is longer.
constexpr std::size_t kMaxNameChars = 32767;

// A key's full kernel name ("\REGISTRY\USER\..."), laid out as
// KEY_NAME_INFORMATION.
struct KeyName {
    ULONG bytes;
    WCHAR text[kMaxNameChars];
};

LONG FromStatus(NTSTATUS status) {
    return static_cast<LONG>(RtlNtStatusToDosError(status));
}

// KeyNameInformation needs no access right on the handle.
LONG QueryName(HKEY key, KeyName* name) {
    ULONG got = 0;
    NTSTATUS status = NtQueryKey(key, kKeyNameInformation, name, sizeof *name, &got);
    return status == 0 ? ERROR_SUCCESS : FromStatus(status);
}

bool IsPredefined(HKEY key) {
    auto value = reinterpret_cast<ULONG_PTR>(key);
    return value >= reinterpret_cast<ULONG_PTR>(HKEY_CLASSES_ROOT) &&
           value <= reinterpret_cast<ULONG_PTR>(HKEY_CURRENT_USER_LOCAL_SETTINGS);
}

// An empty path under a predefined root: RegOpenKeyEx hands back the root's
// own handle, which the kernel cannot name, and no link lies on the way.
bool IsRootItself(HKEY root, bool emptyPath) {
    return emptyPath && IsPredefined(root);
}

void SetName(KeyName* name, const wchar_t* text) {
    std::size_t chars = std::wcslen(text);
    std::wmemcpy(name->text, text, chars);
    name->bytes = static_cast<ULONG>(chars * sizeof(WCHAR));
}

// The name root stands for. The predefined handles are advapi32's own, which
// the kernel cannot name; of them only the two roots the programs use.
LONG NameOfRoot(HKEY root, KeyName* name) {
    if (root == HKEY_USERS) {
        SetName(name, L"\\REGISTRY\\USER");
        return ERROR_SUCCESS;
    }
    if (root == HKEY_LOCAL_MACHINE) {
        SetName(name, L"\\REGISTRY\\MACHINE");
        return ERROR_SUCCESS;
    }
    return IsPredefined(root) ? ERROR_INVALID_HANDLE : QueryName(root, name);
}

// Room for a backslash and chars more characters after the name.
WCHAR* MakeRoom(KeyName* name, std::size_t chars) {
    std::size_t used = name->bytes / sizeof(WCHAR);
    if (used + 1 + chars > kMaxNameChars) {
        return nullptr;
    }
    name->text[used] = L'\\';
    name->bytes = static_cast<ULONG>((used + 1 + chars) * sizeof(WCHAR));
    return name->text + used + 1;
}

// A path's length in UTF-16 units, and the path in them. The 8-bit path is
// read in the ANSI code page, as RegOpenKeyExA reads it.
std::size_t WideLength(const char* path) {
    int bytes = path == nullptr ? 0 : static_cast<int>(std::strlen(path));
    return bytes == 0
               ? 0
               : static_cast<std::size_t>(MultiByteToWideChar(CP_ACP, 0, path, bytes, nullptr, 0));
}
std::size_t WideLength(const wchar_t* path) {
    return path == nullptr ? 0 : std::wcslen(path);
}
void Widen(const char* path, WCHAR* room, std::size_t chars) {
    (void)MultiByteToWideChar(CP_ACP, 0, path, static_cast<int>(std::strlen(path)), room,
                              static_cast<int>(chars));
}
void Widen(const wchar_t* path, WCHAR* room, std::size_t chars) {
    std::wmemcpy(room, path, chars);
}

LONG OpenKey(HKEY root, const char* path, DWORD options, REGSAM access, HKEY* key) {
    return RegOpenKeyExA(root, path, options, access, key);
}
LONG OpenKey(HKEY root, const wchar_t* path, DWORD options, REGSAM access, HKEY* key) {
    return RegOpenKeyExW(root, path, options, access, key);
}

// The kernel name of root\path; an empty path names root itself.
// ERROR_FILENAME_EXCED_RANGE: no key can bear it.
template <typename Char>
LONG ExpectedName(HKEY root, const Char* path, KeyName* name) {
    LONG result = NameOfRoot(root, name);
    std::size_t chars = WideLength(path);
    if (result != ERROR_SUCCESS || chars == 0) {
        return result;
    }
    WCHAR* room = MakeRoom(name, chars);
    if (room == nullptr) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    Widen(path, room, chars);
    return ERROR_SUCCESS;
}

UNICODE_STRING Counted(const KeyName& name) {
    UNICODE_STRING counted;
    counted.Length = static_cast<USHORT>(name.bytes);
    counted.MaximumLength = counted.Length;
    counted.Buffer = const_cast<WCHAR*>(name.text);
    return counted;
}

// A link holds its target in SymbolicLinkValue, of type REG_LINK.
LONG RefuseLink(HKEY key) {
    DWORD type = REG_NONE;
    LONG result = RegQueryValueExA(key, "SymbolicLinkValue", nullptr, &type, nullptr, nullptr);
    if (result == ERROR_FILE_NOT_FOUND) {
        return ERROR_SUCCESS;
    }
    if (result != ERROR_SUCCESS) {
        return result;
    }
    return type == REG_LINK ? kErrorStoppedOnLink : ERROR_SUCCESS;
}

// The registry compares names as RtlEqualUnicodeString does, ignoring case.
LONG HoldToName(HKEY key, const KeyName& expected, REGSAM access) {
    KeyName actual;
    LONG result = QueryName(key, &actual);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    UNICODE_STRING named = Counted(expected);
    UNICODE_STRING opened = Counted(actual);
    if (!RtlEqualUnicodeString(&named, &opened, TRUE)) {
        return kErrorStoppedOnLink;
    }
    return (access & KEY_QUERY_VALUE) != 0 ? RefuseLink(key) : ERROR_SUCCESS;
}

template <typename Char>
LONG OpenAsNamed(HKEY root, const Char* path, REGSAM access, HKEY* key) {
    if (IsRootItself(root, path == nullptr || path[0] == 0)) {
        return OpenKey(root, path, 0, access, key);
    }
    KeyName expected;
    LONG result = ExpectedName(root, path, &expected);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    ScopedHkey opened;
    result = OpenKey(root, path, REG_OPTION_OPEN_LINK, access, opened.receive());
    if (result != ERROR_SUCCESS) {
        return result;
    }
    result = HoldToName(opened.get(), expected, access);
    if (result == ERROR_SUCCESS) {
        *key = opened.release();
    }
    return result;
}

}  // namespace

LONG OpenKeyAsNamedA(HKEY root, const char* path, REGSAM access, HKEY* key) {
    return OpenAsNamed(root, path, access, key);
}

LONG OpenKeyAsNamedW(HKEY root, const wchar_t* path, REGSAM access, HKEY* key) {
    return OpenAsNamed(root, path, access, key);
}

LONG DeleteKeyAsNamedA(HKEY parent, const char* child) {
    ScopedHkey key;
    LONG result = OpenKeyAsNamedA(parent, child, DELETE, key.receive());
    if (result != ERROR_SUCCESS) {
        return result;
    }
    NTSTATUS status = NtDeleteKey(key.get());
    return status == 0 ? ERROR_SUCCESS : FromStatus(status);
}
