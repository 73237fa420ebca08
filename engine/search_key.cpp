#include "search_key.h"

#include "candidate_walk.h"
#include "detect_target.h"

namespace {

// The first candidate that detection accepts ends the walk; keys the walk
// could not look into are only reported, in diagnostic mode.
class FirstTarget final : public CandidateVisitor {
  public:
    bool Offer(const char* candidatePath, const char* displayName,
               const char* displayVersion) override {
        return DetectTarget(HKEY_USERS_ROOT, candidatePath, displayName, displayVersion) != 0;
    }
    void Unseen(const char*, RegResult) override {}
};

}  // namespace

RegResult SearchKey(RegKey root, const char* path) {
    FirstTarget visitor;
    return WalkCandidates(root, path, visitor);
}
