// The benchmarks mean something only if the data is shaped as promised and
// the floor makes exactly the engine's calls; these hold them to it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "delete_key_repeat.h"
#include "installer_data.h"
#include "memory/memory_registry.h"
#include "memory/reg_file.h"
#include "run_repair.h"
#include "search_key.h"
#include "walks.h"

namespace {

using Call = std::tuple<MemoryRegistry::CallKind, MemoryRegistry::NodeId, std::uint32_t,
                        std::string, RegResult>;

class CallLog {
  public:
    explicit CallLog(MemoryRegistry& registry) : registry_(registry) {
        registry_.SetCallObserver(&CallLog::Record, this);
    }
    ~CallLog() { registry_.SetCallObserver(nullptr, nullptr); }
    CallLog(const CallLog&) = delete;
    CallLog& operator=(const CallLog&) = delete;

    // Runs of closes compared as sets: on a find the engine closes its
    // levels from the top, a recursive walk from the bottom; the same keys.
    std::vector<Call> Take() {
        std::vector<Call> calls = std::move(calls_);
        calls_.clear();
        auto isClose = [](const Call& call) {
            return std::get<0>(call) == MemoryRegistry::CallKind::Close;
        };
        for (auto run = calls.begin(); run != calls.end();) {
            auto end = std::find_if_not(run, calls.end(), isClose);
            std::sort(run, end);
            run = end == calls.end() ? end : std::find_if(end + 1, calls.end(), isClose);
        }
        return calls;
    }

  private:
    static void Record(void* context, const MemoryRegistry::Call& call) {
        static_cast<CallLog*>(context)->calls_.emplace_back(call.kind, call.node, call.detail,
                                                            std::string(call.name), call.result);
    }

    MemoryRegistry& registry_;
    std::vector<Call> calls_;
};

InstallerDataOptions Options(std::size_t keys, bool damaged) {
    InstallerDataOptions options;
    options.keys = keys;
    options.damagedProduct = damaged;
    return options;
}

std::size_t CountBelow(const MemoryRegistry& registry, MemoryRegistry::NodeId key) {
    std::size_t count = 0;
    for (MemoryRegistry::NodeId child : registry.Children(key)) {
        count += 1 + CountBelow(registry, child);
    }
    return count;
}

TEST(InstallerDataTest, HasTheRequestedSizeAndTheShapeOfRealInstallerData) {
    for (std::size_t keys : {std::size_t{64}, std::size_t{5000}, std::size_t{60000}}) {
        for (bool damaged : {false, true}) {
            MemoryRegistry registry;
            InstallerDataSummary summary = GenerateInstallerData(Options(keys, damaged), registry);
            MemoryRegistry::NodeId userData =
                registry.FindPath(HKEY_LOCAL_MACHINE_ROOT, kInstallerUserDataPath);
            ASSERT_NE(userData, MemoryRegistry::kNoNode);
            EXPECT_EQ(CountBelow(registry, userData), keys) << keys << " damaged " << damaged;
            EXPECT_EQ(summary.dataKeys, keys);
            std::vector<MemoryRegistry::NodeId> sids = registry.Children(userData);
            ASSERT_GE(sids.size(), 3u);
            ASSERT_EQ(sids.size(), summary.sids.size());
            for (MemoryRegistry::NodeId sid : sids) {
                std::vector<MemoryRegistry::NodeId> parts = registry.Children(sid);
                ASSERT_EQ(parts.size(), 3u);
                EXPECT_EQ(registry.Name(parts[0]), "Components");
                EXPECT_EQ(registry.Name(parts[2]), "Products");
                for (MemoryRegistry::NodeId component : registry.Children(parts[0])) {
                    EXPECT_EQ(registry.Name(component).size(), 32u);
                    std::size_t values = registry.Values(component).size();
                    EXPECT_TRUE(values == 1 || values == 2);
                }
                for (MemoryRegistry::NodeId product : registry.Children(parts[2])) {
                    std::vector<MemoryRegistry::NodeId> subkeys = registry.Children(product);
                    ASSERT_EQ(subkeys.size(), 4u);
                    EXPECT_EQ(registry.Name(subkeys[1]), "InstallProperties");
                    EXPECT_GE(registry.Values(subkeys[1]).size(), 20u);
                }
            }
        }
    }
}

TEST(InstallerDataTest, TheDamagedProductIsTheLastCandidateAndRepairRemovesOnlyIt) {
    MemoryRegistry registry;
    InstallerDataSummary summary = GenerateInstallerData(Options(3000, true), registry);
    ScopedActiveRegistry active(registry);
    std::vector<std::string> candidates;
    {
        // Walk order is enumeration order: the last product of the last SID.
        std::vector<MemoryRegistry::NodeId> sids =
            registry.Children(registry.FindPath(HKEY_LOCAL_MACHINE_ROOT, kInstallerUserDataPath));
        MemoryRegistry::NodeId products = registry.Children(sids.back()).back();
        EXPECT_EQ(registry.Name(products), "Products");
        EXPECT_EQ(std::string(kInstallerUserDataPath) + "\\" +
                      std::string(registry.Name(sids.back())) + "\\Products\\" +
                      std::string(registry.Name(registry.Children(products).back())),
                  summary.damagedDataPath);
    }
    std::string before = WriteRegFile(registry, RegFileFormat::Regedit4);
    std::size_t keysBefore = registry.KeyCount();
    EXPECT_EQ(RunRepair(), RepairOutcome::Removed);
    EXPECT_EQ(registry.FindPath(HKEY_LOCAL_MACHINE_ROOT, summary.damagedDataPath),
              MemoryRegistry::kNoNode);
    EXPECT_EQ(registry.FindPath(HKEY_USERS_ROOT, summary.damagedProductPath),
              MemoryRegistry::kNoNode);
    // The installer data key with its four subkeys; the registration with
    // SourceList, Media and Net.
    EXPECT_EQ(keysBefore - registry.KeyCount(), 5u + 4u);
    EXPECT_EQ(registry.OpenHandleCount(), 0u);

    GenerateDamagedProduct(Options(3000, true), registry);
    EXPECT_EQ(WriteRegFile(registry, RegFileFormat::Regedit4), before);
}

TEST(InstallerDataTest, WithoutTheDamagedProductRepairFindsNothingAndChangesNothing) {
    MemoryRegistry registry;
    GenerateInstallerData(Options(3000, false), registry);
    ScopedActiveRegistry active(registry);
    std::string before = WriteRegFile(registry, RegFileFormat::Regedit4);
    EXPECT_EQ(RunRepair(), RepairOutcome::NotFound);
    EXPECT_EQ(WriteRegFile(registry, RegFileFormat::Regedit4), before);
}

TEST(InstallerDataTest, RegTextLoadsIntoTheSameRegistryAndIsDeterministic) {
    InstallerDataOptions options = Options(4000, true);
    MemoryRegistry direct;
    GenerateInstallerData(options, direct);
    InstallerDataSummary summary;
    std::string text = InstallerDataRegText(options, &summary);
    EXPECT_EQ(summary.dataKeys, 4000u);
    MemoryRegistry loaded;
    RegFileError error;
    ASSERT_TRUE(LoadRegFile(loaded, text, &error)) << error.line << ": " << error.message;
    EXPECT_EQ(WriteRegFile(loaded, RegFileFormat::Regedit4),
              WriteRegFile(direct, RegFileFormat::Regedit4));
    EXPECT_EQ(InstallerDataRegText(options, nullptr), text);
    options.seed += 1;
    EXPECT_NE(InstallerDataRegText(options, nullptr), text);
}

TEST(FloorTest, MakesExactlyTheEnginesCallsForTheSearchAndTheRepair) {
    InstallerDataOptions options = Options(3000, true);
    MemoryRegistry registry;
    InstallerDataSummary summary = GenerateInstallerData(options, registry);
    ScopedActiveRegistry active(registry);
    CallLog log(registry);

    // The search alone, up to the find.
    EXPECT_EQ(SearchKey(HKEY_LOCAL_MACHINE_ROOT, kInstallerUserDataPath), SEARCH_FOUND);
    std::vector<Call> engine = log.Take();
    WalkCounts counts;
    EXPECT_EQ(FloorSearch(HKEY_LOCAL_MACHINE_ROOT, kInstallerUserDataPath,
                          summary.damagedDataPath.c_str(), &counts),
              SEARCH_FOUND);
    EXPECT_EQ(log.Take(), engine);
    EXPECT_EQ(counts.candidates, summary.products);

    EXPECT_EQ(RunRepair(), RepairOutcome::Removed);
    engine = log.Take();
    GenerateDamagedProduct(options, registry);
    (void)log.Take();
    EXPECT_TRUE(
        FloorRepair(summary.damagedDataPath.c_str(), summary.damagedProductPath.c_str(), nullptr));
    std::vector<Call> floor = log.Take();
    // Node ids of the put-back target differ; the calls must not.
    ASSERT_EQ(floor.size(), engine.size());
    for (std::size_t i = 0; i < floor.size(); ++i) {
        EXPECT_EQ(std::get<0>(floor[i]), std::get<0>(engine[i])) << i;
        EXPECT_EQ(std::get<2>(floor[i]), std::get<2>(engine[i])) << i;
        EXPECT_EQ(std::get<3>(floor[i]), std::get<3>(engine[i])) << i;
        EXPECT_EQ(std::get<4>(floor[i]), std::get<4>(engine[i])) << i;
    }
    EXPECT_EQ(registry.OpenHandleCount(), 0u);
}

TEST(FloorTest, WalksWithoutATargetVisitEveryKeyAsTheEngineDoes) {
    MemoryRegistry registry;
    InstallerDataSummary summary = GenerateInstallerData(Options(3000, false), registry);
    ScopedActiveRegistry active(registry);
    CallLog log(registry);
    EXPECT_EQ(SearchKey(HKEY_LOCAL_MACHINE_ROOT, kInstallerUserDataPath), REG_OK);
    std::vector<Call> engine = log.Take();
    WalkCounts counts;
    EXPECT_EQ(FloorSearch(HKEY_LOCAL_MACHINE_ROOT, kInstallerUserDataPath, nullptr, &counts),
              REG_OK);
    EXPECT_EQ(log.Take(), engine);
    EXPECT_EQ(counts.keys, summary.dataKeys + 1);

    counts = WalkCounts{};
    EXPECT_EQ(MinimalWalk(HKEY_LOCAL_MACHINE_ROOT, kInstallerUserDataPath, &counts), REG_OK);
    EXPECT_EQ(counts.keys, summary.dataKeys + 1);
    std::vector<Call> minimal = log.Take();
    auto opens = std::count_if(minimal.begin(), minimal.end(), [](const Call& call) {
        return std::get<0>(call) == MemoryRegistry::CallKind::Open;
    });
    EXPECT_EQ(static_cast<std::uint64_t>(opens), counts.keys);
    EXPECT_EQ(registry.OpenHandleCount(), 0u);
}

TEST(FloorTest, DeletesWithTheEnginesCallsThroughSubtreesAndSurvivors) {
    auto build = [](MemoryRegistry& registry) {
        for (const char* path : {"Top\\T\\a\\x", "Top\\T\\a\\y\\z", "Top\\T\\b", "Top\\T\\c\\d"}) {
            registry.CreatePath(HKEY_LOCAL_MACHINE_ROOT, path);
        }
        // A child that refuses deletion ends the walk with a failure.
        registry.SetAllowedAccess(registry.FindPath(HKEY_LOCAL_MACHINE_ROOT, "Top\\T\\c\\d"),
                                  ACCESS_KEY_READ);
    };
    std::vector<Call> runs[2];
    RegResult results[2];
    for (int floor = 0; floor < 2; ++floor) {
        MemoryRegistry registry;
        build(registry);
        ScopedActiveRegistry active(registry);
        CallLog log(registry);
        results[floor] = floor ? FloorDelete(HKEY_LOCAL_MACHINE_ROOT, "Top\\T")
                               : DeleteKeyRepeat(HKEY_LOCAL_MACHINE_ROOT, "Top\\T");
        runs[floor] = log.Take();
        EXPECT_EQ(registry.OpenHandleCount(), 0u);
        EXPECT_NE(registry.FindPath(HKEY_LOCAL_MACHINE_ROOT, "Top\\T\\c\\d"),
                  MemoryRegistry::kNoNode);
    }
    EXPECT_EQ(results[1], results[0]);
    EXPECT_EQ(runs[1], runs[0]);
}

}  // namespace
