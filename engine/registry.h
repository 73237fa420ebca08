// The five registry operations the engine needs, in the shape of their 8-bit
// Windows forms. Which provider answers them is decided when a binary is
// linked: advapi32 on Windows (win32/), an in-memory registry elsewhere
// (memory/). Nothing here includes windows.h.
#pragma once

#include <cstdint>

using RegResult = std::uint32_t;
// Opaque key handle with the bit pattern of a Windows HKEY.
using RegKey = std::uintptr_t;

// Predefined roots, sign-extended exactly as the Windows headers define them.
constexpr RegKey RootKey(std::int32_t value) {
    return static_cast<RegKey>(static_cast<std::intptr_t>(value));
}
constexpr RegKey HKEY_LOCAL_MACHINE_ROOT = RootKey(static_cast<std::int32_t>(0x80000002u));
constexpr RegKey HKEY_USERS_ROOT = RootKey(static_cast<std::int32_t>(0x80000003u));

constexpr RegResult REG_OK = 0;
constexpr RegResult REG_ERROR_FILE_NOT_FOUND = 2;
constexpr RegResult REG_ERROR_ACCESS_DENIED = 5;
constexpr RegResult REG_ERROR_INVALID_HANDLE = 6;
constexpr RegResult REG_ERROR_INVALID_DATA = 13;
constexpr RegResult REG_ERROR_INVALID_PARAMETER = 87;
constexpr RegResult REG_ERROR_BAD_PATHNAME = 161;
constexpr RegResult REG_ERROR_FILENAME_EXCED_RANGE = 206;
constexpr RegResult REG_ERROR_MORE_DATA = 234;
constexpr RegResult REG_ERROR_NO_MORE_ITEMS = 259;
constexpr RegResult REG_ERROR_KEY_DELETED = 1018;

constexpr std::uint32_t REG_TYPE_NONE = 0;
constexpr std::uint32_t REG_TYPE_SZ = 1;
constexpr std::uint32_t REG_TYPE_EXPAND_SZ = 2;
constexpr std::uint32_t REG_TYPE_BINARY = 3;
constexpr std::uint32_t REG_TYPE_DWORD = 4;
constexpr std::uint32_t REG_TYPE_MULTI_SZ = 7;
constexpr std::uint32_t REG_TYPE_QWORD = 11;

constexpr std::uint32_t ACCESS_QUERY_VALUE = 0x0001;
constexpr std::uint32_t ACCESS_SET_VALUE = 0x0002;
constexpr std::uint32_t ACCESS_CREATE_SUB_KEY = 0x0004;
constexpr std::uint32_t ACCESS_ENUMERATE_SUB_KEYS = 0x0008;
constexpr std::uint32_t ACCESS_NOTIFY = 0x0010;
constexpr std::uint32_t ACCESS_CREATE_LINK = 0x0020;
constexpr std::uint32_t ACCESS_DELETE = 0x00010000;
constexpr std::uint32_t ACCESS_READ_CONTROL = 0x00020000;
constexpr std::uint32_t ACCESS_WRITE_DAC = 0x00040000;
constexpr std::uint32_t ACCESS_WRITE_OWNER = 0x00080000;

constexpr std::uint32_t ACCESS_KEY_READ = 0x20019;
constexpr std::uint32_t ACCESS_KEY_WRITE = 0x20006;
constexpr std::uint32_t ACCESS_KEY_WRITE_ENUMERATE = 0x2000E;
constexpr std::uint32_t ACCESS_KEY_READ_WRITE = 0x2001F;
constexpr std::uint32_t ACCESS_KEY_ALL = 0xF003F;

// RegOpenKeyExA: on success *key holds a handle that stays valid until
// closed; on failure *key is left untouched.
[[nodiscard]] RegResult RegistryOpenKey(RegKey root, const char* path, std::uint32_t access,
                                        RegKey* key);

// RegEnumKeyExA: *nameChars is the capacity of name in characters on entry
// and the name's length on success. The class buffer is filled but unused.
[[nodiscard]] RegResult RegistryEnumKey(RegKey key, std::uint32_t index, char* name,
                                        std::uint32_t* nameChars, char* className,
                                        std::uint32_t* classChars);

// RegQueryValueExA: *size is the capacity of data on entry and the value's
// size on return; data is not terminated by the provider.
[[nodiscard]] RegResult RegistryQueryValue(RegKey key, const char* valueName, std::uint32_t* type,
                                           unsigned char* data, std::uint32_t* size);

// RegDeleteKeyA: removes a child that has no subkeys.
[[nodiscard]] RegResult RegistryDeleteKey(RegKey parent, const char* childName);

// RegCloseKey; the result carries no information the engine acts on.
void RegistryCloseKey(RegKey key);

// Handles opened through this interface and not yet closed.
std::uint32_t RegistryOpenHandleCount();
