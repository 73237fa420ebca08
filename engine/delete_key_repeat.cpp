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

    char name[kNameCapacity];
    char previousName[kNameCapacity] = "";
    bool childTaken = false;
    for (int childNumber = 1;; ++childNumber) {
        ScopedKey key;
        result = key.Open(root, path, ACCESS_KEY_WRITE_ENUMERATE);
        if (result != REG_OK) {
            ReportDiagnostic(kCaption, "Error: Child%d: RegOpenKeyEx[%s]: Result=%d", childNumber,
                             path, static_cast<int>(result));
            return result;
        }
        bool walkEnds = GetSubKeyName(key.get(), 0, name, kNameCapacity) != REG_OK;
        // The child taken last pass is back at index 0: it survived, and
        // would come back on every pass.
        walkEnds = walkEnds || (childTaken && EqualsIgnoreAsciiCase(name, previousName));
        DeletionPath childPath;
        if (!walkEnds && !childPath.Format("%s\\%s", path, name)) {
            ReportDiagnostic(kCaption, "ERROR_INVALID_PARAMETER");
            walkEnds = true;
        }
        if (walkEnds) {
            key.Close();
            return RegistryDeleteKey(parent.get(), leafName);
        }
        (void)DeleteKeyRepeat(root, childPath.c_str());
        std::memcpy(previousName, name, sizeof name);
        childTaken = true;
    }
}
