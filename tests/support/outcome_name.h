// A repair outcome as scenario files write it.
#pragma once

#include "run_repair.h"

inline const char* OutcomeName(RepairOutcome outcome) {
    switch (outcome) {
        case RepairOutcome::Removed:
            return "removed";
        case RepairOutcome::NotRemoved:
            return "not-removed";
        case RepairOutcome::NotFound:
            return "not-found";
    }
    return "?";
}
