#include "stages.h"
#include "user_hive.h"

namespace {

const char* ActionName(LeftoverAction action) {
    switch (action) {
        case LeftoverAction::Unloaded:
            return "unloaded";
        case LeftoverAction::LeftSignedIn:
            return "left-signed-in";
        case LeftoverAction::NotLoaded:
            return "not-loaded";
        case LeftoverAction::UnloadFailed:
            return "unload-failed";
    }
    return "?";
}

}  // namespace

bool ReleaseLeftoverHives(const Options&, RunRecord* record) {
    std::vector<LeftoverHive> leftovers;
    std::wstring who;
    DWORD read = UnloadLeftoverHives(&leftovers, &who);
    // Marks that cannot be read or trusted leave unknown what a killed run
    // left loaded: the run can then never be clean.
    record->marks = {read, who};
    for (const LeftoverHive& leftover : leftovers) {
        record->leftovers.push_back({leftover.sid, ActionName(leftover.action), leftover.error,
                                     leftover.action == LeftoverAction::UnloadFailed});
    }
    return true;
}
