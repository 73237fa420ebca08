// Where a test program finds the files it needs, and whether it runs under
// Wine: the one seam between the build tree under Wine and the self-test
// bundle on Windows (tools/release, tests/selftest/).
//
// In the bundle every file lies in the program's own folder, under the name
// the bundle gives it; a bundle is told by its mark, selftest-bundle.txt,
// beside the program. Elsewhere the build tree's path, compiled in (empty in
// a release build, whose bytes must not depend on where it was built).
#pragma once

#include <string>

// `bundled` below the program's folder inside a bundle, else `built`.
[[nodiscard]] std::string TestPath(const char* bundled, const char* built);
// The same with backslashes, as a Windows path.
[[nodiscard]] std::wstring TestPathW(const char* bundled, const char* built);

// Whether the program runs from inside a self-test bundle.
[[nodiscard]] bool InSelfTestBundle();

// Whether the program runs under Wine (ntdll exports wine_get_version).
// For the few set-up steps only Wine needs, never for what a test checks.
[[nodiscard]] bool IsWine();
