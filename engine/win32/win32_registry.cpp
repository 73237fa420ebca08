// The engine's registry operations, answered by advapi32; under
// HKEY_USERS, and for every deletion, through key_as_named.h.
#include <windows.h>

#include <atomic>

#include "../registry.h"
#include "key_as_named.h"

namespace {

std::atomic<std::uint32_t> OpenHandles{0};

HKEY ToHkey(RegKey key) {
    return reinterpret_cast<HKEY>(key);
}

DWORD* AsDword(std::uint32_t* value) {
    static_assert(sizeof(DWORD) == sizeof(std::uint32_t));
    return reinterpret_cast<DWORD*>(value);
}

}  // namespace

// The engine names every key from a root. Below HKEY_USERS each user may
// plant links; the installer data below HKEY_LOCAL_MACHINE only
// administrators and SYSTEM may write, so its opens stay plain and the
// search as fast as it was.
RegResult RegistryOpenKey(RegKey root, const char* path, std::uint32_t access, RegKey* key) {
    HKEY opened = nullptr;
    LONG result = root == HKEY_USERS_ROOT ? OpenKeyAsNamedA(ToHkey(root), path, access, &opened)
                                          : RegOpenKeyExA(ToHkey(root), path, 0, access, &opened);
    if (result == ERROR_SUCCESS) {
        ++OpenHandles;
        *key = reinterpret_cast<RegKey>(opened);
    }
    return static_cast<RegResult>(result);
}

RegResult RegistryEnumKey(RegKey key, std::uint32_t index, char* name, std::uint32_t* nameChars,
                          char* className, std::uint32_t* classChars) {
    FILETIME lastWrite;
    return static_cast<RegResult>(RegEnumKeyExA(ToHkey(key), index, name, AsDword(nameChars),
                                                nullptr, className, AsDword(classChars),
                                                &lastWrite));
}

RegResult RegistryQueryValue(RegKey key, const char* valueName, std::uint32_t* type,
                             unsigned char* data, std::uint32_t* size) {
    return static_cast<RegResult>(
        RegQueryValueExA(ToHkey(key), valueName, nullptr, AsDword(type), data, AsDword(size)));
}

// A link is deleted as itself, wherever it is.
RegResult RegistryDeleteKey(RegKey parent, const char* childName) {
    return static_cast<RegResult>(DeleteKeyAsNamedA(ToHkey(parent), childName));
}

void RegistryCloseKey(RegKey key) {
    if (RegCloseKey(ToHkey(key)) == ERROR_SUCCESS) {
        --OpenHandles;
    }
}

std::uint32_t RegistryOpenHandleCount() {
    return OpenHandles;
}
