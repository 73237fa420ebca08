// An engine scenario file made the driver's own: every SID of the scenario
// registry is replaced by one that no other test uses, in the registry files
// and in the directives alike, link targets included.
#pragma once

#include <string>

#include "memory/memory_registry.h"
#include "scenario/scenario.h"

struct OwnScenario {
    Scenario scenario;
    MemoryRegistry seed;
    MemoryRegistry expected;  // the seed without the trees the run deletes
};

std::string WithOwnSids(std::string text);

// False with a message when the file or one of its registry files is
// malformed.
bool LoadOwnScenario(const std::string& path, OwnScenario* own, std::string* error);
