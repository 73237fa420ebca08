#include "get_sub_key_name.h"

#include "diagnostics.h"

RegResult GetSubKeyName(RegKey key, std::uint32_t index, char* name, std::uint32_t capacity) {
    char className[260];
    std::uint32_t nameChars = capacity;
    std::uint32_t classChars = sizeof className;
    RegResult result = RegistryEnumKey(key, index, name, &nameChars, className, &classChars);
    if (result != REG_OK && result != REG_ERROR_NO_MORE_ITEMS) {
        ReportDiagnostic("GetSubKeyName", "ERROR: RegEnumKeyEx()");
    }
    return result;
}
