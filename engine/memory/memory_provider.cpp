// The engine's registry operations, answered by the active in-memory registry.
#include "memory_registry.h"

namespace {
MemoryRegistry* Active = nullptr;
}

void UseMemoryRegistry(MemoryRegistry* registry) {
    Active = registry;
}
MemoryRegistry* ActiveMemoryRegistry() {
    return Active;
}

RegResult RegistryOpenKey(RegKey root, const char* path, std::uint32_t access, RegKey* key) {
    return Active ? Active->Open(root, path, access, key) : REG_ERROR_INVALID_HANDLE;
}

RegResult RegistryEnumKey(RegKey key, std::uint32_t index, char* name, std::uint32_t* nameChars,
                          char* className, std::uint32_t* classChars) {
    return Active ? Active->Enum(key, index, name, nameChars, className, classChars)
                  : REG_ERROR_INVALID_HANDLE;
}

RegResult RegistryQueryValue(RegKey key, const char* valueName, std::uint32_t* type,
                             unsigned char* data, std::uint32_t* size) {
    return Active ? Active->Query(key, valueName, type, data, size) : REG_ERROR_INVALID_HANDLE;
}

RegResult RegistryDeleteKey(RegKey parent, const char* childName) {
    return Active ? Active->Delete(parent, childName) : REG_ERROR_INVALID_HANDLE;
}

void RegistryCloseKey(RegKey key) {
    if (Active) {
        Active->Close(key);
    }
}

std::uint32_t RegistryOpenHandleCount() {
    return Active ? Active->OpenHandleCount() : 0;
}
