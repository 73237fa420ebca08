#include "record_survey.h"

#include "console_output.h"
#include "describe.h"
#include "users.h"

void RecordSurvey(const InstallerDataSurvey& survey, HiveState hive, RunRecord* record) {
    for (const FoundRegistration& found : survey.found) {
        Registration registration = Describe(found);
        registration.user = found.perMachine ? kNoUser : UserFor(record, registration.sid, hive);
        record->registrations.push_back(registration);
    }
    for (const UnseenKey& unseen : survey.unseen) {
        record->unreadable.push_back({Rooted(unseen.root, unseen.path.c_str()), unseen.code});
    }
    for (const UnloadedCandidate& candidate : survey.unloaded) {
        std::size_t user = UserFor(record, AnsiToWide(candidate.sid.c_str()), HiveState::NotLoaded);
        record->users[user].candidates.push_back(candidate);
    }
}
