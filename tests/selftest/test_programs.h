// The programs of the self-test bundle, in the order the runner starts them:
// the same test programs CTest runs under Wine, and the deployment scripts'
// PowerShell test.
#pragma once

enum class Needs {
    Nothing,
    Desktop,     // drives a window: an interactive desktop, and a language it knows
    PowerShell,  // Windows PowerShell, which Wine has not
};

struct TestProgram {
    const char* name;  // the file name without .exe (or the script's)
    Needs needs;
    unsigned minutes;  // time limit
};

// clang-format off
inline constexpr TestProgram kTestPrograms[] = {
    {"pe_image_tests", Needs::Nothing, 5},
    {"keymendc_pe_tests", Needs::Nothing, 5},
    // First of those that change the registry: it also removes what a hive
    // test that was stopped left (marks, profiles), which would spoil the others.
    {"keymendc_hive_tests", Needs::Nothing, 15},
    {"wine_scenario_tests", Needs::Nothing, 30},
    {"keymendc_tests", Needs::Nothing, 30},
    {"wine_robustness_tests", Needs::Nothing, 60},
    {"keymend_e2e", Needs::Desktop, 45},
    {"deploy-test.ps1", Needs::PowerShell, 45},
};
// clang-format on
