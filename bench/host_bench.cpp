// The engine on the in-memory registry, at the sizes of real machines, set
// against the cost floor of the calls it must make. Google Benchmark's
// report goes to stderr; the table of results to stdout.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench_table.h"
#include "delete_key_repeat.h"
#include "installer_data.h"
#include "memory/memory_registry.h"
#include "memory/reg_file.h"
#include "run_repair.h"
#include "search_key.h"
#include "walks.h"

namespace {

struct DataSet {
    InstallerDataOptions options;
    std::unique_ptr<MemoryRegistry> registry;
    InstallerDataSummary summary;
};

// Built once per process: the larger ones take seconds.
DataSet& Data(std::size_t keys, bool damaged) {
    static std::map<std::pair<std::size_t, bool>, DataSet> cache;
    DataSet& data = cache[{keys, damaged}];
    if (!data.registry) {
        data.options.keys = keys;
        data.options.damagedProduct = damaged;
        data.registry = std::make_unique<MemoryRegistry>();
        data.summary = GenerateInstallerData(data.options, *data.registry);
    }
    return data;
}

const std::string& RegText(std::size_t keys) {
    static std::map<std::size_t, std::string> cache;
    std::string& text = cache[keys];
    if (text.empty()) {
        InstallerDataOptions options;
        options.keys = keys;
        text = InstallerDataRegText(options, nullptr);
    }
    return text;
}

// Keys that a full walk opens: UserData and everything below it.
std::uint64_t WalkedKeys(const DataSet& data) {
    return data.summary.dataKeys + 1;
}

void CheckClosed(benchmark::State& state, const MemoryRegistry& registry) {
    if (registry.OpenHandleCount() != 0) {
        state.SkipWithError("a key was left open");
    }
}

void SearchKeyBench(benchmark::State& state, std::size_t keys) {
    DataSet& data = Data(keys, false);
    ScopedActiveRegistry active(*data.registry);
    RegResult result = REG_OK;
    for (auto _ : state) {
        result = SearchKey(HKEY_LOCAL_MACHINE_ROOT, kInstallerUserDataPath);
        benchmark::DoNotOptimize(result);
    }
    if (result != REG_OK) {
        state.SkipWithError("the walk without a target did not end with 0");
    }
    CheckClosed(state, *data.registry);
    MemoryRegistry::MemoryUse use = data.registry->MemoryUsage();
    double count = static_cast<double>(data.registry->KeyCount());
    state.counters["bytes_per_key"] = static_cast<double>(use.total) / count;
    state.counters["beyond_names_per_key"] =
        static_cast<double>(use.total - use.keyNames - use.valueNamesAndData) / count;
    state.counters["beyond_key_names_per_key"] =
        static_cast<double>(use.total - use.keyNames) / count;
}

void FloorSearchBench(benchmark::State& state, std::size_t keys) {
    DataSet& data = Data(keys, false);
    ScopedActiveRegistry active(*data.registry);
    WalkCounts counts;
    RegResult result = REG_OK;
    for (auto _ : state) {
        counts = WalkCounts{};
        result = FloorSearch(HKEY_LOCAL_MACHINE_ROOT, kInstallerUserDataPath, nullptr, &counts);
        benchmark::DoNotOptimize(result);
    }
    if (result != REG_OK || counts.keys != WalkedKeys(data)) {
        state.SkipWithError("the floor did not walk every key");
    }
    CheckClosed(state, *data.registry);
}

void MinimalWalkBench(benchmark::State& state, std::size_t keys) {
    DataSet& data = Data(keys, false);
    ScopedActiveRegistry active(*data.registry);
    WalkCounts counts;
    for (auto _ : state) {
        counts = WalkCounts{};
        RegResult result = MinimalWalk(HKEY_LOCAL_MACHINE_ROOT, kInstallerUserDataPath, &counts);
        benchmark::DoNotOptimize(result);
    }
    if (counts.keys != WalkedKeys(data)) {
        state.SkipWithError("the minimal walk did not visit every key");
    }
    CheckClosed(state, *data.registry);
}

// Runs repair once per iteration and, untimed, puts the target back.
template <typename Repair>
void RepairBench(benchmark::State& state, std::size_t keys, Repair repair) {
    DataSet& data = Data(keys, true);
    ScopedActiveRegistry active(*data.registry);
    bool removed = true;
    for (auto _ : state) {
        removed = repair(data) && removed;
        state.PauseTiming();
        removed = removed &&
                  data.registry->FindPath(HKEY_LOCAL_MACHINE_ROOT, data.summary.damagedDataPath) ==
                      MemoryRegistry::kNoNode;
        GenerateDamagedProduct(data.options, *data.registry);
        state.ResumeTiming();
    }
    if (!removed) {
        state.SkipWithError("the target was not removed");
    }
    CheckClosed(state, *data.registry);
}

void RunRepairBench(benchmark::State& state, std::size_t keys) {
    RepairBench(state, keys, [](const DataSet&) { return RunRepair() == RepairOutcome::Removed; });
}

void FloorRepairBench(benchmark::State& state, std::size_t keys) {
    RepairBench(state, keys, [](const DataSet& data) {
        return FloorRepair(data.summary.damagedDataPath.c_str(),
                           data.summary.damagedProductPath.c_str(), nullptr);
    });
}

constexpr char kBenchParent[] = "SOFTWARE\\Bench";

// keys keys in all: the top key and keys - 1 leaves below it.
MemoryRegistry::NodeId BuildWide(MemoryRegistry& registry, std::size_t keys) {
    MemoryRegistry::NodeId top =
        registry.CreatePath(HKEY_LOCAL_MACHINE_ROOT, std::string(kBenchParent) + "\\Wide");
    char name[48];
    for (std::size_t i = 1; i < keys; ++i) {
        // Packed-code-like names, created in enumeration order.
        unsigned long long noise = (i * 0x9E3779B97F4A7C15ull) >> 8;
        std::snprintf(name, sizeof name, "%08zX%024llX", i, noise);
        registry.CreateKey(top, name);
    }
    return top;
}

// Chains as deep as the deletion's 255-character paths allow: the top key,
// then under it chains of 50 keys ("c0001\k01\k02\...\k49").
constexpr std::size_t kChainLength = 50;

MemoryRegistry::NodeId BuildDeep(MemoryRegistry& registry, std::size_t keys) {
    MemoryRegistry::NodeId top =
        registry.CreatePath(HKEY_LOCAL_MACHINE_ROOT, std::string(kBenchParent) + "\\Deep");
    std::size_t made = 1;
    char name[16];
    for (std::size_t chain = 0; made < keys; ++chain) {
        std::snprintf(name, sizeof name, "c%04zu", chain);
        MemoryRegistry::NodeId node = registry.CreateKey(top, name);
        ++made;
        for (std::size_t depth = 1; depth < kChainLength && made < keys; ++depth, ++made) {
            std::snprintf(name, sizeof name, "k%02zu", depth);
            node = registry.CreateKey(node, name);
        }
    }
    return top;
}

void DeleteBench(benchmark::State& state, std::size_t keys, bool deep) {
    std::string path = std::string(kBenchParent) + (deep ? "\\Deep" : "\\Wide");
    bool emptied = true;
    for (auto _ : state) {
        state.PauseTiming();
        auto registry = std::make_unique<MemoryRegistry>();
        deep ? BuildDeep(*registry, keys) : BuildWide(*registry, keys);
        std::size_t before = registry->KeyCount();
        UseMemoryRegistry(registry.get());
        state.ResumeTiming();
        RegResult result = DeleteKeyRepeat(HKEY_LOCAL_MACHINE_ROOT, path.c_str());
        state.PauseTiming();
        emptied = emptied && result == REG_OK && before - registry->KeyCount() == keys &&
                  registry->OpenHandleCount() == 0;
        UseMemoryRegistry(nullptr);
        registry.reset();
        state.ResumeTiming();
    }
    if (!emptied) {
        state.SkipWithError("the tree was not deleted whole");
    }
}

void LoadRegBench(benchmark::State& state, std::size_t keys) {
    const std::string& text = RegText(keys);
    std::size_t expected = Data(keys, false).registry->KeyCount();
    bool loaded = true;
    for (auto _ : state) {
        state.PauseTiming();
        auto registry = std::make_unique<MemoryRegistry>();
        state.ResumeTiming();
        RegFileError error;
        bool ok = LoadRegFile(*registry, text, &error);
        state.PauseTiming();
        loaded = loaded && ok && registry->KeyCount() == expected;
        registry.reset();
        state.ResumeTiming();
    }
    if (!loaded) {
        state.SkipWithError("the .reg file did not load whole");
    }
    state.counters["file_MB"] = static_cast<double>(text.size()) / 1e6;
}

// Keeps the console report and the medians by benchmark name.
class TableReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) {
                ++errors;
                std::fprintf(stderr, "FAILED %s: %s\n", run.benchmark_name().c_str(),
                             run.error_message.c_str());
                continue;
            }
            bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (single || median) {
                Result& result = results[run.run_name.function_name];
                // Processor time: other work on a shared machine inflates
                // elapsed time, not the cost measured here.
                result.seconds =
                    run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
                for (const auto& [name, counter] : run.counters) {
                    result.counters[name] = counter.value;
                }
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    struct Result {
        double seconds = 0;
        std::map<std::string, double> counters;
    };
    std::map<std::string, Result> results;
    int errors = 0;
};

struct Settings {
    std::vector<std::size_t> walkSizes{10000, 100000, 1000000};
    std::vector<std::size_t> deleteSizes{10000, 100000};
    bool smoke = false;
    bool rowsOnly = false;
};

std::vector<std::size_t> ParseSizes(const char* text) {
    std::vector<std::size_t> sizes;
    for (const char* cursor = text; *cursor != '\0';) {
        char* end = nullptr;
        sizes.push_back(static_cast<std::size_t>(std::strtoull(cursor, &end, 10)));
        cursor = *end == ',' ? end + 1 : end;
        if (end == cursor && *end != '\0')
            break;
    }
    return sizes;
}

std::string Name(const char* what, std::size_t keys) {
    return std::string(what) + "/" + std::to_string(keys);
}

void Register(const Settings& settings) {
    auto add = [](const std::string& name, auto function, std::size_t keys) {
        benchmark::RegisterBenchmark(name.c_str(), function, keys)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    };
    for (std::size_t keys : settings.walkSizes) {
        add(Name("SearchKey", keys), SearchKeyBench, keys);
        add(Name("FloorSearch", keys), FloorSearchBench, keys);
        add(Name("MinimalWalk", keys), MinimalWalkBench, keys);
        add(Name("RunRepair", keys), RunRepairBench, keys);
        add(Name("FloorRepair", keys), FloorRepairBench, keys);
    }
    for (std::size_t keys : settings.deleteSizes) {
        benchmark::RegisterBenchmark(Name("DeleteWide", keys).c_str(), DeleteBench, keys, false)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark(Name("DeleteDeep", keys).c_str(), DeleteBench, keys, true)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    for (std::size_t keys : settings.walkSizes) {
        add(Name("LoadReg", keys), LoadRegBench, keys);
    }
}

void PrintTable(const Settings& settings, const TableReporter& reporter) {
    auto find = [&](const char* what, std::size_t keys) -> const TableReporter::Result* {
        auto it = reporter.results.find(Name(what, keys));
        return it == reporter.results.end() ? nullptr : &it->second;
    };
    std::vector<BenchRow> rows;
    constexpr double kFloorRatio = 1.15;
    for (std::size_t keys : settings.walkSizes) {
        const auto* search = find("SearchKey", keys);
        const auto* floor = find("FloorSearch", keys);
        const auto* minimal = find("MinimalWalk", keys);
        const auto* repair = find("RunRepair", keys);
        const auto* floorRepair = find("FloorRepair", keys);
        if (!search || !floor || !minimal || !repair || !floorRepair)
            continue;
        std::string count = GroupedCount(keys);
        double searchRatio = search->seconds / floor->seconds;
        bool big = keys >= 1000000;
        bool searchMet = searchRatio <= kFloorRatio && (!big || search->seconds < 0.5);
        rows.push_back({"SearchKey, full walk, memory", count, Milliseconds(search->seconds),
                        Ratio(searchRatio), Ratio(search->seconds / minimal->seconds),
                        big ? "< 500 ms, <= 1.15x floor" : "<= 1.15x floor", YesNo(searchMet)});
        double repairRatio = repair->seconds / floorRepair->seconds;
        rows.push_back({"RunRepair, target last, memory", count, Milliseconds(repair->seconds),
                        Ratio(repairRatio), Ratio(repair->seconds / minimal->seconds),
                        "<= 1.15x floor", YesNo(repairRatio <= kFloorRatio)});
        rows.push_back({"Floor: prescribed calls, memory", count, Milliseconds(floor->seconds), "",
                        Ratio(floor->seconds / minimal->seconds), "", ""});
        rows.push_back(
            {"Minimal walk, memory", count, Milliseconds(minimal->seconds), "", "", "", ""});
    }
    const auto* large = find("SearchKey", 1000000);
    const auto* medium = find("SearchKey", 100000);
    if (large && medium) {
        double growth = large->seconds / medium->seconds;
        rows.push_back({"SearchKey growth, 1M over 100k keys", "", Ratio(growth), "", "", "<= 11x",
                        YesNo(growth <= 11.0)});
    }
    for (bool deep : {false, true}) {
        for (std::size_t keys : settings.deleteSizes) {
            const auto* result = find(deep ? "DeleteDeep" : "DeleteWide", keys);
            if (!result)
                continue;
            bool target = keys == 100000;
            rows.push_back({deep ? "DeleteKeyRepeat, deep (chains of 50)"
                                 : "DeleteKeyRepeat, wide (one parent)",
                            GroupedCount(keys), Milliseconds(result->seconds), "", "",
                            target ? "< 300 ms" : "", target ? YesNo(result->seconds < 0.3) : ""});
        }
    }
    for (std::size_t keys : settings.walkSizes) {
        const auto* result = find("LoadReg", keys);
        if (!result)
            continue;
        bool target = keys == 1000000;
        auto megabytes = result->counters.find("file_MB");
        std::string measure = "Load .reg";
        if (megabytes != result->counters.end()) {
            measure += " (" + Fixed(megabytes->second, 0) + " MB)";
        }
        rows.push_back({measure, GroupedCount(keys), Milliseconds(result->seconds), "", "",
                        target ? "< 3 s" : "", target ? YesNo(result->seconds < 3.0) : ""});
    }
    for (std::size_t keys : settings.walkSizes) {
        const auto* result = find("SearchKey", keys);
        if (!result)
            continue;
        double total = result->counters.at("bytes_per_key");
        double beyond = result->counters.at("beyond_names_per_key");
        double beyondKeyNames = result->counters.at("beyond_key_names_per_key");
        rows.push_back(
            {"Memory per key: all / beyond key names / beyond all names and data",
             GroupedCount(keys),
             Fixed(total, 0) + " / " + Fixed(beyondKeyNames, 0) + " / " + Fixed(beyond, 0) + " B",
             "", "", "< 300 B beyond key names", YesNo(beyondKeyNames < 300.0)});
    }
    if (!settings.rowsOnly) {
        PrintBenchHeader(stdout);
    }
    for (const BenchRow& row : rows) {
        PrintBenchRow(stdout, row);
    }
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    std::vector<char*> args{argv[0]};
    bool repetitionsGiven = false;
    bool minTimeGiven = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strncmp(arg, "--sizes=", 8) == 0) {
            settings.walkSizes = ParseSizes(arg + 8);
        } else if (std::strncmp(arg, "--delete-sizes=", 15) == 0) {
            settings.deleteSizes = ParseSizes(arg + 15);
        } else if (std::strcmp(arg, "--smoke") == 0) {
            settings.smoke = true;
        } else if (std::strcmp(arg, "--rows-only") == 0) {
            settings.rowsOnly = true;
        } else {
            repetitionsGiven |= std::strncmp(arg, "--benchmark_repetitions", 23) == 0;
            minTimeGiven |= std::strncmp(arg, "--benchmark_min_time", 20) == 0;
            args.push_back(argv[i]);
        }
    }
    // Interleaved repetitions: ratios between benchmarks of one run do not
    // drift with the machine's state.
    static char repetitions[] = "--benchmark_repetitions=5";
    static char single[] = "--benchmark_repetitions=1";
    static char minTime[] = "--benchmark_min_time=0.2";
    static char noMinTime[] = "--benchmark_min_time=0";
    static char interleave[] = "--benchmark_enable_random_interleaving=true";
    static char aggregates[] = "--benchmark_report_aggregates_only=true";
    if (settings.smoke) {
        settings.walkSizes = {2000};
        settings.deleteSizes = {1000};
        args.push_back(single);
        args.push_back(noMinTime);
    } else {
        if (!repetitionsGiven)
            args.push_back(repetitions);
        if (!minTimeGiven)
            args.push_back(minTime);
        args.push_back(interleave);
        args.push_back(aggregates);
    }
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    Register(settings);
    TableReporter reporter;
    reporter.SetOutputStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintTable(settings, reporter);
    benchmark::Shutdown();
    return reporter.errors == 0 ? 0 : 1;
}
