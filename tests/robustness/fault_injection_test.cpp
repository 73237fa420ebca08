// Every registry call that a repair of a realistic machine makes fails once,
// with each code the engine tells apart (2, 5, 234) and one it does not
// expect; the invariants hold, and the run ends as that failure calls for.
#include <gtest/gtest.h>

#include <iostream>

#include "ascii_case.h"
#include "memory_harness.h"
#include "scenario/scenario.h"

namespace {

constexpr RegResult kInjectedCodes[] = {2, 5, 234, 1450};
constexpr RegOperation kOperations[] = {RegOperation::Open, RegOperation::Enum, RegOperation::Query,
                                        RegOperation::Delete};

CallKind KindOf(RegOperation op) {
    switch (op) {
        case RegOperation::Open:
            return CallKind::Open;
        case RegOperation::Enum:
            return CallKind::Enum;
        case RegOperation::Query:
            return CallKind::Query;
        default:
            return CallKind::Delete;
    }
}

const char* OperationName(RegOperation op) {
    static const char* const kNames[] = {"open", "enum", "query", "delete"};
    return kNames[static_cast<int>(op)];
}

// Folded components without empty ones, as the registry resolves a path.
std::vector<std::string> Components(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t cut = path.find('\\', start);
        std::string part = path.substr(start, cut == std::string::npos ? cut : cut - start);
        if (!part.empty()) {
            parts.push_back(FoldName(part));
        }
        if (cut == std::string::npos) {
            break;
        }
        start = cut + 1;
    }
    return parts;
}

// ancestor is key itself or lies above it.
bool Encloses(const std::string& ancestor, const std::string& key) {
    std::vector<std::string> a = Components(ancestor);
    std::vector<std::string> k = Components(key);
    return a.size() <= k.size() && std::equal(a.begin(), a.end(), k.begin());
}

bool SameKeyPath(const std::string& a, const std::string& b) {
    return Components(a) == Components(b);
}

std::string ParentPath(const std::string& path) {
    std::size_t cut = path.rfind('\\');
    return cut == std::string::npos ? "" : path.substr(0, cut);
}

// Index in calls of the nth (from 1) call of kind.
std::size_t NthCall(const std::vector<CallRecord>& calls, CallKind kind, std::uint32_t nth) {
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].kind == kind && --nth == 0) {
            return i;
        }
    }
    return calls.size();
}

enum class Expected {
    SameAsClean,  // the failure changes nothing the user sees but its report
    TargetLost,   // the walk no longer reaches the clean run's target
    TreeStays,    // the key the call was about survives; outcome not-removed
};

struct Expectation {
    Expected kind = Expected::SameAsClean;
    std::string survivor;  // TreeStays: the key, under the root of its call
    RegKey survivorRoot = 0;
};

// What the failure of clean.calls[at] must lead to, by the Parts' rules for
// the call that failed.
Expectation Expect(const CheckedRun& clean, std::size_t at) {
    const CallRecord& call = clean.calls[at];
    const CallRecord* next = at + 1 < clean.calls.size() ? &clean.calls[at + 1] : nullptr;
    const std::string data = clean.targets.DataKeyPath.c_str();
    const std::string product = clean.targets.ProductKeyPath.c_str();
    Expectation expectation;
    if (at < FirstDeletionCall(clean)) {
        if (clean.outcome == RepairOutcome::NotFound) {
            return expectation;
        }
        bool lost = false;
        switch (call.kind) {
            case CallKind::Enum:
                lost = call.result == REG_OK && Encloses(call.path, data);
                break;
            case CallKind::Open:
                if (call.access == ACCESS_KEY_WRITE) {
                    // The probe of a parent, made to enter the key opened next.
                    lost = next != nullptr && Encloses(next->path, data);
                } else if (call.access == ACCESS_KEY_WRITE_ENUMERATE) {
                    lost = Encloses(call.path, data);
                } else if (call.access == ACCESS_KEY_READ) {
                    lost = SameKeyPath(ParentPath(call.path), data);
                } else {
                    lost = call.root == HKEY_USERS_ROOT && SameKeyPath(call.path, product);
                }
                break;
            case CallKind::Query:
                lost = SameKeyPath(ParentPath(call.path), data) ||
                       (call.root == HKEY_USERS_ROOT && SameKeyPath(call.path, product));
                break;
            case CallKind::Delete:
                break;
        }
        expectation.kind = lost ? Expected::TargetLost : Expected::SameAsClean;
        return expectation;
    }
    const CallRecord& previous = clean.calls[at - 1];
    bool stays = false;
    std::string survivor = call.path;
    switch (call.kind) {
        case CallKind::Open:
            stays = true;
            if (call.access == ACCESS_KEY_WRITE && next != nullptr &&
                next->kind == CallKind::Delete) {
                survivor = next->path;  // the parent opened for this child's delete
            }
            break;
        case CallKind::Enum:
            stays = call.result == REG_OK;  // subkeys were left: the key cannot go
            break;
        case CallKind::Delete:
            // A refused direct delete is retried after the walk; a refused
            // final delete is the end.
            stays = call.result == REG_OK &&
                    !(previous.kind == CallKind::Open && previous.access == ACCESS_KEY_WRITE);
            break;
        case CallKind::Query:
            break;
    }
    if (stays) {
        expectation.kind = Expected::TreeStays;
        expectation.survivor = survivor;
        expectation.survivorRoot = call.root;
    }
    return expectation;
}

bool Prepare(const Scenario& scenario, MemoryRegistry& registry, std::string* error) {
    if (!LoadScenarioRegistry(scenario, registry, error)) {
        return false;
    }
    for (const ScenarioAccess& access : scenario.access) {
        MemoryRegistry::NodeId node = registry.FindPath(access.key.root, access.key.path);
        if (node == MemoryRegistry::kNoNode) {
            *error = "allow: no key " + FormatRootedKey(access.key);
            return false;
        }
        registry.SetAllowedAccess(node, access.allowed);
    }
    for (const ScenarioInjection& injection : scenario.injections) {
        registry.InjectFailure(injection.op, injection.nth, injection.code);
    }
    return true;
}

std::string Lines(const std::vector<std::string>& violations) {
    std::string text;
    for (std::size_t i = 0; i < violations.size() && i < 8; ++i) {
        text += "  " + violations[i] + "\n";
    }
    return text;
}

class FaultInjectionSweep : public ::testing::TestWithParam<std::string> {};

TEST_P(FaultInjectionSweep, EveryCallFailsOnceWithEveryCode) {
    Scenario scenario;
    std::string error;
    ASSERT_TRUE(ReadScenario(GetParam(), &scenario, &error)) << error;

    MemoryRegistry cleanRegistry;
    ASSERT_TRUE(Prepare(scenario, cleanRegistry, &error)) << error;
    CheckedRun clean;
    RegistrySnapshot cleanAfter;
    ASSERT_EQ(Lines(RepairAndCheck(cleanRegistry, true, {true}, &clean, &cleanAfter)), "");

    int cases = 0;
    int byKind[3] = {};
    for (RegOperation op : kOperations) {
        std::uint32_t count = cleanRegistry.CallCount(op);
        for (std::uint32_t nth = 1; nth <= count; ++nth) {
            std::size_t at = NthCall(clean.calls, KindOf(op), nth);
            ASSERT_LT(at, clean.calls.size()) << "the log missed a call";
            Expectation expectation = Expect(clean, at);
            for (RegResult code : kInjectedCodes) {
                SCOPED_TRACE(std::string(OperationName(op)) + " call " + std::to_string(nth) +
                             " fails with " + std::to_string(code) + ": " +
                             DescribeLocation(clean.calls[at].root, clean.calls[at].path));
                MemoryRegistry registry;
                ASSERT_TRUE(Prepare(scenario, registry, &error)) << error;
                registry.InjectFailure(op, nth, code);
                CheckedRun run;
                RegistrySnapshot after;
                std::vector<std::string> violations =
                    RepairAndCheck(registry, true, {true}, &run, &after);
                ++cases;
                ++byKind[static_cast<int>(expectation.kind)];
                EXPECT_EQ(Lines(violations), "");
                std::size_t failed = NthCall(run.calls, KindOf(op), nth);
                ASSERT_LT(failed, run.calls.size());
                EXPECT_EQ(run.calls[failed].result, code) << "the failure did not happen";

                std::string cleanData = clean.targets.DataKeyPath.c_str();
                std::string data = run.targets.DataKeyPath.c_str();
                switch (expectation.kind) {
                    case Expected::SameAsClean:
                        EXPECT_EQ(OutcomeName(run.outcome), OutcomeName(clean.outcome));
                        EXPECT_EQ(data, cleanData);
                        EXPECT_TRUE(SameSnapshot(after, cleanAfter)) << "registry afterwards";
                        break;
                    case Expected::TargetLost:
                        EXPECT_FALSE(SameKeyPath(data, cleanData)) << "target still recorded";
                        break;
                    case Expected::TreeStays:
                        EXPECT_EQ(run.outcome, RepairOutcome::NotRemoved);
                        EXPECT_NE(after.Resolve(expectation.survivorRoot, expectation.survivor),
                                  nullptr)
                            << "the key of the failed call is gone";
                        break;
                }
            }
        }
    }
    std::cout << "[ sweep    ] " << scenario.name << ": " << cases << " failures injected ("
              << byKind[0] << " change nothing but a report, " << byKind[1] << " lose the target, "
              << byKind[2] << " leave a tree)\n";
    EXPECT_GT(cases, 0);
}

// The repair scenarios that inject no failure of their own: the sweep adds
// one to an otherwise clean run. A scenario with a registry link runs on the
// live registry only.
std::vector<std::string> RealisticScenarios() {
    std::vector<std::string> realistic;
    for (const std::string& file : ListScenarioFiles(ScenarioDir() + "/repair")) {
        Scenario scenario;
        std::string error;
        if (!ReadScenario(file, &scenario, &error) ||
            (scenario.injections.empty() && scenario.links.empty())) {
            realistic.push_back(file);
        }
    }
    return realistic;
}

std::string TestName(const ::testing::TestParamInfo<std::string>& info) {
    std::string name = info.param.substr(info.param.rfind('/') + 1);
    name = name.substr(0, name.size() - 4);
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) {
            c = '_';
        }
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Repair, FaultInjectionSweep, ::testing::ValuesIn(RealisticScenarios()),
                         TestName);

}  // namespace
