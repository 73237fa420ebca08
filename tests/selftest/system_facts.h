// What the self-test report says about the machine it ran on, and what
// decides which test programs can run there.
#pragma once

#include <windows.h>

#include <string>

struct SystemFacts {
    std::string windows;    // "Windows 10 Pro 22H2, 10.0.19045.3803 (64-bit)"
    std::string wine;       // Wine's version, empty on Windows
    bool elevated = false;  // an administrator's elevated token
    std::string noDesktop;  // why no window can be driven here; empty when one can
    std::string e2eSystem;  // keymend_e2e's --system= for this language; empty: none fits
    std::string language;   // "0x0409"
};

// Reads them once; RtlGetVersion for the version (GetVersionEx is told a
// lie by the manifest), the registry for the edition, build revision and
// release, ntdll's wine_get_version for Wine.
[[nodiscard]] SystemFacts ReadSystemFacts();
