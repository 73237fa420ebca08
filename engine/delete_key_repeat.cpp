#include "delete_key_repeat.h"

#include <cstring>

#include "ascii_case.h"
#include "bounded_text.h"
#include "diagnostics.h"
#include "get_sub_key_name.h"
#include "scoped_key.h"

// Recursion is bounded: a 255-character path nests at most 128 keys.

namespace {

constexpr char kCaption[] = "DeleteKeyRepeat()";
using DeletionPath = BoundedText<256>;
constexpr std::uint32_t kNameCapacity = 120;

// Composes the path of the subkey at index 0 of key, and remembers its name.
// False when the walk of the key ends: no subkey is left, the enumeration
// failed, the child taken on the previous pass survived its deletion (it
// would come back on every pass), the child's name cannot be used, or the
// child's path would not fit.
bool TakeFirstChild(RegKey key, const char* path, char (&previousName)[kNameCapacity],
                    DeletionPath& childPath) {
    char name[kNameCapacity];
    std::uint32_t nameLength = 0;
    RegResult enumerated = GetSubKeyName(key, 0, name, kNameCapacity, &nameLength);
    if (enumerated == SUBKEY_NAME_UNUSABLE) {
        // Deleting by its text would reach the key itself or a sibling.
        ReportDiagnostic(kCaption,
                         "Error: RegEnumKeyEx[%s] Index=0: a name of %d characters holds a NUL; "
                         "key not emptied",
                         path, static_cast<int>(nameLength));
        return false;
    }
    if (enumerated != REG_OK) {
        return false;
    }
    if (previousName[0] != '\0' && EqualsIgnoreAsciiCase(name, previousName)) {
        return false;
    }
    if (!childPath.Format("%s\\%s", path, name)) {
        ReportDiagnostic(kCaption, "ERROR_INVALID_PARAMETER");
        return false;
    }
    std::memcpy(previousName, name, std::strlen(name) + 1);
    return true;
}

}  // namespace

RegResult DeleteKeyRepeat(RegKey root, const char* path) {
    DeletionPath parentPath;
    char* lastBackslash = nullptr;
    if (parentPath.Assign(path)) {
        lastBackslash = std::strrchr(parentPath.data(), '\\');
    }
    // An empty leaf would name the parent itself.
    if (lastBackslash == nullptr || lastBackslash[1] == '\0') {
        ReportDiagnostic(kCaption, "ERROR_INVALID_PARAMETER");
        return REG_ERROR_INVALID_PARAMETER;
    }
    *lastBackslash = '\0';
    const char* leafName = lastBackslash + 1;

    ScopedKey parent;
    RegResult result = parent.Open(root, parentPath.c_str(), ACCESS_KEY_WRITE);
    if (result != REG_OK) {
        ReportDiagnostic(kCaption, "Error: RegOpenKeyEx[%s] Result=%d", parentPath.c_str(),
                         static_cast<int>(result));
        return result;
    }
    if (RegistryDeleteKey(parent.get(), leafName) == REG_OK) {
        return REG_OK;
    }

    char previousName[kNameCapacity] = "";
    for (int childNumber = 1;; ++childNumber) {
        ScopedKey key;
        result = key.Open(root, path, ACCESS_KEY_WRITE_ENUMERATE);
        if (result != REG_OK) {
            ReportDiagnostic(kCaption, "Error: Child%d: RegOpenKeyEx[%s]: Result=%d", childNumber,
                             path, static_cast<int>(result));
            return result;
        }
        DeletionPath childPath;
        if (!TakeFirstChild(key.get(), path, previousName, childPath)) {
            key.Close();
            return RegistryDeleteKey(parent.get(), leafName);
        }
        (void)DeleteKeyRepeat(root, childPath.c_str());
    }
}
