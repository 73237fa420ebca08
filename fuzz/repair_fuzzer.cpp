// libFuzzer target: each input builds an in-memory registry and a
// diagnostic-mode script, runs the repair on it and checks the invariants.
// A violation aborts, so that libFuzzer keeps the input.
#include <cstdio>
#include <cstdlib>

#include "fuzz_input.h"
#include "memory_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    MemoryRegistry registry;
    FuzzSettings settings = BuildFuzzRegistry(data, size, registry);
    CheckedRun run;
    std::vector<std::string> violations =
        RepairAndCheck(registry, settings.diagnostic, settings.answers, &run);
    if (!violations.empty()) {
        std::fprintf(stderr, "invariant broken (outcome %s, %zu calls):\n",
                     OutcomeName(run.outcome), run.calls.size());
        for (const std::string& violation : violations) {
            std::fprintf(stderr, "  %.400s\n", violation.c_str());
        }
        std::abort();
    }
    return 0;
}
