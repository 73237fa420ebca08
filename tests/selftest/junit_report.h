// GoogleTest's XML reports of the bundle's programs read and merged into one
// JUnit file, beside the runner's own verdicts (a program that did not start,
// ended without a report, or was skipped with a reason).
#pragma once

#include <string>
#include <vector>

struct TestCaseResult {
    std::string name;     // "Suite.Test"
    std::string message;  // the failure's or the skip's first line
};

struct ProgramReport {
    std::string program;
    bool read = false;   // its XML was there and well-formed enough
    std::string suites;  // its <testsuite> elements, named "program.Suite"
    int tests = 0;
    std::vector<TestCaseResult> failed;
    std::vector<TestCaseResult> skipped;
    double seconds = 0;
};

// Reads a GoogleTest XML file; read stays false when it is missing or cut off.
[[nodiscard]] ProgramReport ReadGoogleTestXml(const std::string& program, const std::wstring& path);

// A testcase of the runner's own, in suite "selftest": failed when failure is
// not empty, skipped when skipped is not empty.
struct OwnCase {
    std::string name;
    std::string failure;
    std::string skipped;
};

// One JUnit document: the runner's suite with properties (name, value) and
// its own cases, then every program's suites.
[[nodiscard]] std::string MergedJUnit(
    const std::vector<std::pair<std::string, std::string>>& properties,
    const std::vector<OwnCase>& own, const std::vector<ProgramReport>& programs);

// Text with &, <, >, " and control characters escaped for an XML attribute.
[[nodiscard]] std::string XmlEscape(const std::string& text);
