// The invariant check guards every other robustness test: each fault it is
// meant to catch is planted into a correct run and must be named.
#include "invariants.h"

#include <gtest/gtest.h>

#include <functional>

#include "memory_harness.h"
#include "scenario/scenario.h"

namespace {

const std::string kDamaged = ScenarioDir() + "/repair/damaged_product_is_removed.reg";
constexpr char kUnrelated[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\"
    "S-1-5-21-1111111111-2222222222-3333333333-1002\\Components";
constexpr char kDataKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\"
    "S-1-5-21-1111111111-2222222222-3333333333-1001\\Products\\C5B4A39281706F5E4D3C2B1A09F8E7D6";

bool AnyContains(const std::vector<std::string>& violations, const std::string& part) {
    for (const std::string& violation : violations) {
        if (violation.find(part) != std::string::npos) {
            return true;
        }
    }
    return false;
}

std::string Join(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    return text;
}

class PlantedFault : public ::testing::Test {
  protected:
    void SetUp() override {
        Scenario scenario;
        std::string error;
        ASSERT_TRUE(ReadScenario(kDamaged, &scenario, &error)) << error;
        ASSERT_TRUE(LoadScenarioRegistry(scenario, registry, &error)) << error;
        before = SnapshotMemoryRegistry(registry);
        ASSERT_EQ(Join(RepairAndCheck(registry, true, {true}, &run)), "");
        ASSERT_EQ(run.outcome, RepairOutcome::Removed);
    }

    // The violations once plant has changed the run or the state after it.
    std::vector<std::string> Planted(
        const std::function<void(CheckedRun&, MemoryRegistry&)>& plant) {
        CheckedRun changed = run;
        plant(changed, registry);
        return CheckRepairInvariants(before, SnapshotMemoryRegistry(registry), changed);
    }

    MemoryRegistry registry;
    RegistrySnapshot before;
    CheckedRun run;
};

TEST_F(PlantedFault, EachIsNamed) {
    struct Case {
        const char* fault;
        std::function<void(CheckedRun&, MemoryRegistry&)> plant;
        const char* named;
    };
    const Case cases[] = {
        {"key deleted outside the targets",
         [](CheckedRun&, MemoryRegistry& r) {
             r.RemoveTree(r.FindPath(HKEY_LOCAL_MACHINE_ROOT, kUnrelated));
         },
         "deleted outside the target trees"},
        {"key added",
         [](CheckedRun&, MemoryRegistry& r) { r.CreatePath(HKEY_USERS_ROOT, "Stray\\Key"); },
         "added: HKEY_USERS\\Stray"},
        {"value changed",
         [](CheckedRun&, MemoryRegistry& r) {
             auto key = r.FindPath(HKEY_LOCAL_MACHINE_ROOT,
                                   std::string(kUnrelated) + "\\10000000000000000000000000000000");
             r.SetValue(key, "x", REG_TYPE_SZ, "y");
         },
         "values changed"},
        {"key left open", [](CheckedRun& c, MemoryRegistry&) { c.openHandlesAfter = 1; },
         "left open"},
        {"not-found claimed after deleting",
         [](CheckedRun& c, MemoryRegistry&) {
             c.outcome = RepairOutcome::NotFound;
             c.targets = RepairTargetRecord{};
         },
         "outcome not-found, but"},
        {"removed claimed with a tree still there",
         [](CheckedRun&, MemoryRegistry& r) {
             r.CreatePath(HKEY_LOCAL_MACHINE_ROOT, std::string(kDataKey) + "\\Usage");
         },
         "outcome removed, but"},
        {"key left behind without a refusal",
         [](CheckedRun& c, MemoryRegistry& r) {
             r.CreatePath(HKEY_LOCAL_MACHINE_ROOT, kDataKey);
             c.outcome = RepairOutcome::NotRemoved;
         },
         "left behind without a refusal"},
        {"delete attempted outside the targets",
         [](CheckedRun& c, MemoryRegistry&) {
             CallRecord stray;
             stray.kind = CallKind::Delete;
             stray.root = HKEY_LOCAL_MACHINE_ROOT;
             stray.path = kUnrelated;
             stray.result = REG_ERROR_ACCESS_DENIED;
             c.calls.push_back(stray);
         },
         "delete attempted outside"},
        {"failed call without its report",
         [](CheckedRun& c, MemoryRegistry&) { c.calls[3].result = 1450; },
         "failed call not reported"},
        {"report without a failed call",
         [](CheckedRun& c, MemoryRegistry&) {
             c.reports.insert(c.reports.begin(),
                              RecordedReport{"GetSubKeyName", "ERROR: RegEnumKeyEx()", false});
         },
         "where the failed calls call for nothing more"},
        {"unknown report text",
         [](CheckedRun& c, MemoryRegistry&) {
             c.reports.push_back(RecordedReport{"DeleteKeyRepeat()", "Error: deleted", false});
         },
         "unknown report"},
        {"report under the wrong caption",
         [](CheckedRun& c, MemoryRegistry&) {
             c.reports.push_back(RecordedReport{"SearchKey()", "ERROR: RegEnumKeyEx()", false});
         },
         "unknown report"},
        {"question about the wrong version",
         [](CheckedRun& c, MemoryRegistry&) {
             c.reports[0].text = "Delete this key [1.11.0051] ?";
         },
         "question Delete this key [1.11.0051] ?"},
        {"report outside diagnostic mode",
         [](CheckedRun& c, MemoryRegistry&) { c.diagnostic = false; }, "outside diagnostic mode"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        SetUp();
        std::vector<std::string> violations = Planted(c.plant);
        EXPECT_TRUE(AnyContains(violations, c.named)) << Join(violations);
    }
}

TEST(ReportFormat, MatchesInstancesAndCutsOnly) {
    EXPECT_TRUE(MatchesReportFormat("Error: Child12: RegOpenKeyEx[A]: Result=-5",
                                    "Error: Child%d: RegOpenKeyEx[%s]: Result=%d"));
    EXPECT_TRUE(MatchesReportFormat("Error: RegOpenKeyEx[a] Result=1] Result=2",
                                    "Error: RegOpenKeyEx[%s] Result=%d"));
    EXPECT_TRUE(MatchesReportFormat("100%", "100%%"));
    EXPECT_FALSE(MatchesReportFormat("Error: Child: RegOpenKeyEx[A]: Result=5",
                                     "Error: Child%d: RegOpenKeyEx[%s]: Result=%d"));
    EXPECT_FALSE(
        MatchesReportFormat("Error: RegOpenKeyEx[A] Result=", "Error: RegOpenKeyEx[%s] Result=%d"));
    EXPECT_FALSE(MatchesReportFormat("ERROR: RegEnumKeyEx() ", "ERROR: RegEnumKeyEx()"));
    // A text at the 1023-character limit may stop anywhere.
    std::string cut = "Error: RegOpenKeyEx[" + std::string(1003, 'P');
    EXPECT_TRUE(MatchesReportFormat(cut, "Error: RegOpenKeyEx[%s] Result=%d"));
    EXPECT_FALSE(MatchesReportFormat(cut.substr(0, 1022), "Error: RegOpenKeyEx[%s] Result=%d"));
}

}  // namespace
