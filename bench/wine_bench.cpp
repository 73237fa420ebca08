// The repair run against the real registry (under Wine on this machine):
// the synthetic installer data is imported once under test-only SIDs, then
// RunRepair without a target, the cost floor of its calls, the minimal walk
// and `reg query <UserData> /s` are timed in turn, and the data is removed.
// The registry's work happens in Wine's server process, so the walks are
// measured as processor time of the caller and the server together, with
// elapsed time beside it: other work on a shared machine then hardly moves
// their ratios. reg.exe is another process, whose processor time Wine does
// not report (GetProcessTimes answers with the caller's), so it is set
// against the repair run in elapsed time.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench_table.h"
#include "installer_data.h"
#include "run_repair.h"
#include "search_key.h"
#include "walks.h"

namespace {

HKEY ToHkey(RegKey key) {
    return reinterpret_cast<HKEY>(key);
}

// Creates the keys through advapi32 as the generator hands them over.
class Win32Sink : public InstallerDataSink {
  public:
    ~Win32Sink() override { CloseAll(); }
    void BeginRoot(RegKey root) override {
        CloseAll();
        path_.assign(1, ToHkey(root));
    }
    void BeginKey(std::string_view name) override {
        HKEY key = nullptr;
        if (path_.back() != nullptr) {
            LONG result =
                RegCreateKeyExA(path_.back(), std::string(name).c_str(), 0, nullptr,
                                REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr);
            if (result != ERROR_SUCCESS) {
                ++failures;
                key = nullptr;
            }
        }
        path_.push_back(key);
    }
    void EndKey() override {
        if (path_.back() != nullptr) {
            RegCloseKey(path_.back());
        }
        path_.pop_back();
    }
    void Value(std::string_view name, std::uint32_t type, std::string_view data) override {
        if (path_.back() == nullptr ||
            RegSetValueExA(path_.back(), std::string(name).c_str(), 0, type,
                           reinterpret_cast<const BYTE*>(data.data()),
                           static_cast<DWORD>(data.size())) != ERROR_SUCCESS) {
            ++failures;
        }
    }

    std::size_t failures = 0;

  private:
    void CloseAll() {
        for (std::size_t i = 1; i < path_.size(); ++i) {
            if (path_[i] != nullptr)
                RegCloseKey(path_[i]);
        }
        path_.clear();
    }
    std::vector<HKEY> path_;
};

void RemoveTestData(const InstallerDataOptions& options) {
    for (const std::string& sid : InstallerDataSids(options)) {
        std::string data = std::string(kInstallerUserDataPath) + "\\" + sid;
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, data.c_str());
        RegDeleteTreeA(HKEY_USERS, sid.c_str());
    }
}

// The keys on the way to UserData that do not exist yet: the import creates
// them, and they go again afterwards. Deepest first.
std::vector<std::string> MissingAncestors() {
    std::vector<std::string> missing;
    std::string path = kInstallerUserDataPath;
    for (;;) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
            RegCloseKey(key);
            return missing;
        }
        missing.push_back(path);
        std::size_t cut = path.rfind('\\');
        if (cut == std::string::npos) {
            return missing;
        }
        path.resize(cut);
    }
}

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double FileTimeSeconds(const FILETIME& time) {
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    return static_cast<double>(value.QuadPart) / 1e7;
}

double ProcessCpuSeconds(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        return 0;
    }
    return FileTimeSeconds(kernel) + FileTimeSeconds(user);
}

// Wine's server opens files for its clients, so there /proc/self is the
// server itself. False elsewhere (or should that ever change).
bool ServerCpuSeconds(double* seconds) {
    HANDLE file = CreateFileA("Z:\\proc\\self\\stat", GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    char text[1024] = {};
    DWORD read = 0;
    BOOL ok = ReadFile(file, text, sizeof text - 1, &read, nullptr);
    CloseHandle(file);
    const char* cursor = std::strrchr(text, ')');
    if (!ok || std::strstr(text, "(wineserver") == nullptr || cursor == nullptr) {
        return false;
    }
    // After the name: the state is field 3, utime and stime are 14 and 15.
    unsigned long long ticks = 0;
    for (int field = 3; field <= 15; ++field) {
        cursor = std::strchr(cursor, ' ');
        if (cursor == nullptr) {
            return false;
        }
        ++cursor;
        if (field >= 14) {
            ticks += std::strtoull(cursor, nullptr, 10);
        }
    }
    *seconds = static_cast<double>(ticks) / 100.0;  // USER_HZ
    return true;
}

// What an administrator types, with its output thrown away: the cheapest
// form of it.
bool RunRegQuery() {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE nul = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr);
    if (nul == INVALID_HANDLE_VALUE) {
        return false;
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = nul;
    startup.hStdError = nul;
    std::string command =
        std::string("reg.exe query \"HKEY_LOCAL_MACHINE\\") + kInstallerUserDataPath + "\" /s";
    PROCESS_INFORMATION process{};
    BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                  nullptr, &startup, &process);
    DWORD exitCode = 1;
    if (started) {
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(nul);
    return started && exitCode == 0;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

enum Variant { kRepair, kFloor, kMinimal, kRegQuery, kVariants };

}  // namespace

int main(int argc, char** argv) {
    InstallerDataOptions options;
    int runs = 5;
    bool rowsOnly = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--keys=", 7) == 0) {
            options.keys = std::strtoull(argv[i] + 7, nullptr, 10);
        } else if (std::strncmp(argv[i], "--runs=", 7) == 0) {
            runs = std::max(1, std::atoi(argv[i] + 7));
        } else if (std::strcmp(argv[i], "--rows-only") == 0) {
            rowsOnly = true;
        } else {
            std::fprintf(stderr, "usage: %s [--keys=N] [--runs=N] [--rows-only]\n", argv[0]);
            return 2;
        }
    }

    // A run that died half-way left its data behind.
    RemoveTestData(options);
    std::vector<std::string> created = MissingAncestors();
    double importStart = Now();
    std::size_t failures = 0;
    InstallerDataSummary summary;
    {
        Win32Sink sink;
        summary = GenerateInstallerData(options, sink);
        failures = sink.failures;
    }
    double importSeconds = Now() - importStart;
    std::fprintf(stderr, "imported %zu keys below UserData in %.1f s (%zu failed operations)\n",
                 summary.dataKeys, importSeconds, failures);

    int status = 0;
    WalkCounts walked;
    // The search alone never deletes: if it finds a target that is not
    // ours, the repair run is not let loose on this registry.
    RegResult search = SearchKey(HKEY_LOCAL_MACHINE_ROOT, kInstallerUserDataPath);
    RegResult minimal = MinimalWalk(HKEY_LOCAL_MACHINE_ROOT, kInstallerUserDataPath, &walked);
    if (search != REG_OK || minimal != REG_OK || walked.keys < summary.dataKeys + 1) {
        std::fprintf(stderr,
                     "the installer data cannot be walked (search %u, walk %u, %llu keys)\n",
                     search, minimal, static_cast<unsigned long long>(walked.keys));
        status = 1;
    }

    std::vector<double> elapsed[kVariants];
    std::vector<double> cpu[kVariants];
    double unused = 0;
    bool serverMeasured = ServerCpuSeconds(&unused);
    for (int round = 0; round < runs && status == 0; ++round) {
        for (int step = 0; step < kVariants && status == 0; ++step) {
            // Each variant takes each place in turn, so drift spreads evenly.
            Variant variant = static_cast<Variant>((round + step) % kVariants);
            WalkCounts counts;
            double serverStart = 0;
            serverMeasured = serverMeasured && ServerCpuSeconds(&serverStart);
            double clientStart = ProcessCpuSeconds(GetCurrentProcess());
            double start = Now();
            bool ok = true;
            switch (variant) {
                case kRepair:
                    ok = RunRepair() == RepairOutcome::NotFound;
                    break;
                case kFloor:
                    ok = FloorSearch(HKEY_LOCAL_MACHINE_ROOT, kInstallerUserDataPath, nullptr,
                                     &counts) == REG_OK &&
                         counts.keys == walked.keys;
                    break;
                case kMinimal:
                    ok = MinimalWalk(HKEY_LOCAL_MACHINE_ROOT, kInstallerUserDataPath, &counts) ==
                             REG_OK &&
                         counts.keys == walked.keys;
                    break;
                default:
                    ok = RunRegQuery();
                    break;
            }
            elapsed[variant].push_back(Now() - start);
            double clientCpu = ProcessCpuSeconds(GetCurrentProcess()) - clientStart;
            double serverEnd = 0;
            serverMeasured = serverMeasured && ServerCpuSeconds(&serverEnd);
            cpu[variant].push_back(clientCpu + serverEnd - serverStart);
            static const char* const kNames[] = {"RunRepair", "floor", "minimal", "reg query"};
            std::fprintf(stderr, "round %d: %-9s %8.1f ms elapsed, %8.1f ms processor%s\n", round,
                         kNames[variant], elapsed[variant].back() * 1000,
                         cpu[variant].back() * 1000,
                         variant == kRegQuery ? " (the server's only)" : "");
            if (!ok || RegistryOpenHandleCount() != 0) {
                std::fprintf(stderr, "run %d of variant %d failed\n", round, variant);
                status = 1;
            }
        }
    }
    RemoveTestData(options);
    for (const std::string& path : created) {
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.c_str());  // refused unless empty
    }
    if (status != 0) {
        return status;
    }

    // Without the server's figures (not under Wine): elapsed time.
    std::vector<double>* measured = serverMeasured ? cpu : elapsed;
    double repair = Median(measured[kRepair]);
    double floor = Median(measured[kFloor]);
    double minimalTime = Median(measured[kMinimal]);
    // Elapsed for both sides: see the top of this file.
    double queryRatio = Median(elapsed[kRepair]) / Median(elapsed[kRegQuery]);
    auto result = [&](Variant variant) {
        std::string text = Milliseconds(Median(measured[variant]));
        if (serverMeasured) {
            text += " (" + Milliseconds(Median(elapsed[variant])) + " elapsed)";
        }
        return text;
    };
    std::string keys = GroupedCount(walked.keys - 1);
    std::vector<BenchRow> rows;
    bool met = repair / floor <= 1.1 && queryRatio <= 0.6;
    rows.push_back({"RunRepair, no target, Wine registry", keys,
                    result(kRepair) + ", elapsed " + Ratio(queryRatio) + " reg query's",
                    Ratio(repair / floor), Ratio(repair / minimalTime),
                    "<= 1.1x floor, <= 0.6x reg query", YesNo(met)});
    rows.push_back({"Floor: prescribed calls, Wine registry", keys, result(kFloor), "",
                    Ratio(floor / minimalTime), "", ""});
    rows.push_back({"Minimal walk, Wine registry", keys, result(kMinimal), "", "", "", ""});
    rows.push_back({"reg query UserData /s, Wine", keys,
                    Milliseconds(Median(elapsed[kRegQuery])) + " elapsed", "", "", "", ""});
    rows.push_back({"Import of the tree through advapi32, Wine", keys,
                    Milliseconds(importSeconds) + " elapsed", "", "", "", ""});
    if (!rowsOnly) {
        PrintBenchHeader(stdout);
    }
    for (const BenchRow& row : rows) {
        PrintBenchRow(stdout, row);
    }
    return 0;
}
