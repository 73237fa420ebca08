// Every registry call the engine makes during a checked run and what the
// registry answered, so that each change and each diagnostic report can be
// tied to the call behind it. The recording providers append to it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "registry.h"

enum class CallKind { Open, Enum, Query, Delete };

struct CallRecord {
    CallKind kind = CallKind::Open;
    // The key the call is about: the key opened, enumerated or read, or the
    // child deleted; the path as the engine spelled it.
    RegKey root = 0;
    std::string path;
    std::uint32_t access = 0;  // Open
    std::uint32_t index = 0;   // Enum
    RegResult result = 0;
    // Delete: the key had subkeys at the moment of the call. Enum: it still
    // had a subkey at the index when the registry said there was none.
    bool subjectHadSubkeys = false;
    // Enum: the name returned holds a NUL, so its text names another key.
    bool unusableName = false;
};

void StartCallLog();
std::vector<CallRecord> StopCallLog();
bool CallLogActive();
void AppendCall(CallRecord record);

// The path of a handle opened under root: "parent\child", or child alone.
std::string JoinPath(const std::string& parent, const std::string& child);
