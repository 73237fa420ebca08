#include "get_sub_key_name.h"

#include <cstring>

#include "diagnostics.h"

RegResult GetSubKeyName(RegKey key, std::uint32_t index, char* name, std::uint32_t capacity,
                        std::uint32_t* nameLength) {
    char className[260];
    std::uint32_t nameChars = capacity;
    std::uint32_t classChars = sizeof className;
    RegResult result = RegistryEnumKey(key, index, name, &nameChars, className, &classChars);
    if (result != REG_OK && result != REG_ERROR_NO_MORE_ITEMS) {
        ReportDiagnostic("GetSubKeyName", "ERROR: RegEnumKeyEx()");
    }
    if (result != REG_OK) {
        return result;
    }
    if (nameLength != nullptr) {
        *nameLength = nameChars;
    }
    // The 8-bit text stops at a NUL that the counted name holds.
    const void* nul = std::memchr(name, '\0', capacity);
    std::size_t textLength =
        nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - name) : capacity;
    return textLength == nameChars ? REG_OK : SUBKEY_NAME_UNUSABLE;
}
