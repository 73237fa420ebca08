#include "candidate_walk.h"

#include <cstring>
#include <vector>

#include "ascii_case.h"
#include "detect_target.h"
#include "diagnostics.h"
#include "get_sub_key_name.h"
#include "read_text_value.h"
#include "scoped_key.h"
#include "search_key.h"

// The walk keeps its levels on the heap rather than the call stack: installer
// data may nest 512 levels deep, more than a thread's stack holds at 4 KB of
// working storage a level. One path buffer serves every level, cut back to a
// level's own length before each of its steps.

namespace {

constexpr char kCaption[] = "SearchKey()";
constexpr std::uint32_t kNameCapacity = 1024;
constexpr char kUnusableNameReport[] =
    "Error: RegEnumKeyEx[%s] Index=%d: a name of %d characters holds a NUL; subkey skipped";

struct Level {
    ScopedKey key;
    std::uint32_t nextIndex = 0;
    std::size_t pathLength = 0;
};

// Tests that the parent of path can be opened for writing, then opens path
// for enumeration into key. Reports each failure. The parent is named by
// cutting path at its last backslash for the one call, not by a copy.
RegResult EnterKey(RegKey root, RegistryPath& path, ScopedKey& key) {
    char* lastBackslash = std::strrchr(path.data(), '\\');
    if (lastBackslash == nullptr) {
        ReportDiagnostic(kCaption, "ERROR_INVALID_PARAMETER");
        return REG_ERROR_INVALID_PARAMETER;
    }
    {
        ScopedKey probe;
        *lastBackslash = '\0';
        RegResult result = probe.Open(root, path.c_str(), ACCESS_KEY_WRITE);
        if (result != REG_OK) {
            ReportDiagnostic(kCaption, "Error: RegOpenKeyEx[%s] Result=%d", path.c_str(),
                             static_cast<int>(result));
        }
        *lastBackslash = '\\';
        if (result != REG_OK) {
            return result;
        }
    }
    RegResult result = key.Open(root, path.c_str(), ACCESS_KEY_WRITE_ENUMERATE);
    if (result != REG_OK) {
        ReportDiagnostic(kCaption, "Error: Child%d: RegOpenKeyEx[%s]: Result=%d", 1, path.c_str(),
                         static_cast<int>(result));
    }
    return result;
}

// Reads the candidate's two values and offers it. The reads' results are not
// examined: a failed read offers empty text.
bool OfferCandidate(RegKey root, const RegistryPath& candidatePath,
                    const RegistryPath& propertiesPath, CandidateVisitor& visitor) {
    ValueText displayName;
    ValueText displayVersion;
    {
        ScopedKey properties;
        RegResult opened = properties.Open(root, propertiesPath.c_str(), ACCESS_KEY_READ);
        if (opened != REG_OK) {
            visitor.Unseen(propertiesPath.c_str(), opened);
            return false;
        }
        (void)ReadTextValue(properties.get(), "DisplayName", displayName);
        (void)ReadTextValue(properties.get(), "DisplayVersion", displayVersion);
    }
    return visitor.Offer(candidatePath.c_str(), displayName.c_str(), displayVersion.c_str());
}

}  // namespace

RegResult WalkCandidates(RegKey root, const char* path, CandidateVisitor& visitor) {
    RegistryPath walkPath;
    if (!walkPath.Assign(path)) {
        ReportDiagnostic(kCaption, "ERROR_INVALID_PARAMETER");
        return REG_ERROR_INVALID_PARAMETER;
    }
    std::vector<Level> levels(1);
    RegResult result = EnterKey(root, walkPath, levels.back().key);
    if (result != REG_OK) {
        if (result != REG_ERROR_INVALID_PARAMETER) {
            visitor.Unseen(walkPath.c_str(), result);
        }
        return result;
    }
    levels.back().pathLength = walkPath.length();

    char name[kNameCapacity];
    RegistryPath candidatePath;
    while (!levels.empty()) {
        Level& level = levels.back();
        walkPath.Truncate(level.pathLength);
        std::uint32_t nameLength = 0;
        RegResult enumerated =
            GetSubKeyName(level.key.get(), level.nextIndex, name, kNameCapacity, &nameLength);
        if (enumerated == SUBKEY_NAME_UNUSABLE) {
            // Its text would name the key itself, a sibling or nothing.
            ReportDiagnostic(kCaption, kUnusableNameReport, walkPath.c_str(),
                             static_cast<int>(level.nextIndex), static_cast<int>(nameLength));
            visitor.Unseen(walkPath.c_str(), enumerated);
            ++level.nextIndex;
            continue;
        }
        if (enumerated != REG_OK) {
            if (enumerated != REG_ERROR_NO_MORE_ITEMS) {
                visitor.Unseen(walkPath.c_str(), enumerated);
            }
            levels.pop_back();
            continue;
        }
        ++level.nextIndex;
        if (!walkPath.Append("\\") || !walkPath.Append(name)) {
            // Deeper than any path the walk can name: skipped as unopenable.
            ReportDiagnostic(kCaption, "Error: Child%d: RegOpenKeyEx[%s]: Result=%d", 1,
                             walkPath.c_str(), static_cast<int>(REG_ERROR_FILENAME_EXCED_RANGE));
            walkPath.Truncate(level.pathLength);
            visitor.Unseen(walkPath.c_str(), REG_ERROR_FILENAME_EXCED_RANGE);
            continue;
        }
        if (EqualsIgnoreAsciiCase(name, "InstallProperties")) {
            (void)candidatePath.Assign(walkPath.c_str());
            candidatePath.Truncate(level.pathLength);
            if (OfferCandidate(root, candidatePath, walkPath, visitor)) {
                // Deepest key first, as each level of a recursive walk would.
                while (!levels.empty()) {
                    levels.pop_back();
                }
                return SEARCH_FOUND;
            }
        }
        ScopedKey child;
        RegResult entered = EnterKey(root, walkPath, child);
        if (entered != REG_OK) {
            visitor.Unseen(walkPath.c_str(), entered);
            continue;
        }
        levels.push_back(Level{std::move(child), 0, walkPath.length()});
    }
    return REG_OK;
}
