#include "call_log.h"

#include <utility>

namespace {
bool Active = false;
std::vector<CallRecord> Calls;
}  // namespace

void StartCallLog() {
    Calls.clear();
    Active = true;
}

std::vector<CallRecord> StopCallLog() {
    Active = false;
    return std::exchange(Calls, {});
}

bool CallLogActive() {
    return Active;
}

void AppendCall(CallRecord record) {
    if (Active) {
        Calls.push_back(std::move(record));
    }
}

std::string JoinPath(const std::string& parent, const std::string& child) {
    return parent.empty() ? child : parent + "\\" + child;
}
