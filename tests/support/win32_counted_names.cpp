#include "support/win32_counted_names.h"

#include <winternl.h>

#include <vector>

extern "C" {
NTSTATUS NTAPI NtCreateKey(PHANDLE key, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
                           ULONG titleIndex, PUNICODE_STRING className, ULONG options,
                           PULONG disposition);
NTSTATUS NTAPI NtOpenKey(PHANDLE key, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes);
NTSTATUS NTAPI NtDeleteKey(HANDLE key);
ULONG NTAPI RtlNtStatusToDosError(NTSTATUS status);
}

namespace {

// The test names are ASCII apart from their NULs, so one byte is one unit.
std::wstring Widen(std::string_view name) {
    std::wstring wide;
    for (char c : name) {
        wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
    }
    return wide;
}

struct CountedName {
    std::wstring text;
    UNICODE_STRING counted;
    OBJECT_ATTRIBUTES attributes;

    CountedName(HKEY parent, std::string_view name) : text(Widen(name)) {
        counted.Buffer = &text[0];
        counted.Length = static_cast<USHORT>(text.size() * sizeof(wchar_t));
        counted.MaximumLength = counted.Length;
        InitializeObjectAttributes(&attributes, &counted, OBJ_CASE_INSENSITIVE, parent, nullptr);
    }
};

RegResult FromStatus(NTSTATUS status) {
    return static_cast<RegResult>(RtlNtStatusToDosError(status));
}

}  // namespace

RegResult CreateCountedKey(HKEY parent, std::string_view name) {
    CountedName counted(parent, name);
    HANDLE key = nullptr;
    NTSTATUS status =
        NtCreateKey(&key, KEY_ALL_ACCESS, &counted.attributes, 0, nullptr, 0, nullptr);
    if (status != 0) {
        return FromStatus(status);
    }
    RegCloseKey(static_cast<HKEY>(key));
    return REG_OK;
}

RegResult DeleteCountedKey(HKEY parent, std::string_view name) {
    CountedName counted(parent, name);
    HANDLE key = nullptr;
    NTSTATUS status = NtOpenKey(&key, DELETE, &counted.attributes);
    if (status != 0) {
        return FromStatus(status);
    }
    status = NtDeleteKey(key);
    RegCloseKey(static_cast<HKEY>(key));
    return status == 0 ? REG_OK : FromStatus(status);
}

RegResult EnumCountedName(HKEY key, DWORD index, std::string* name) {
    std::vector<wchar_t> wide(256);
    DWORD chars = static_cast<DWORD>(wide.size());
    LONG result =
        RegEnumKeyExW(key, index, wide.data(), &chars, nullptr, nullptr, nullptr, nullptr);
    if (result != ERROR_SUCCESS) {
        return static_cast<RegResult>(result);
    }
    name->clear();
    for (DWORD i = 0; i < chars; ++i) {
        *name += static_cast<char>(wide[i]);
    }
    return REG_OK;
}
