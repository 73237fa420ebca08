// keymend-selftest.exe: runs every test program of the self-test bundle on
// this machine and writes one report (summary.txt and keymend-selftest.xml,
// JUnit) with the system's version and every place where the platform
// answered otherwise than Wine does.
//
//   keymend-selftest --this-machine-is-disposable [--report FOLDER] [--only NAME,...]
//                    [--skip NAME,...]
//
// It refuses without that argument: the tests change HKEY_LOCAL_MACHINE,
// create test users and load their registries. Each program cleans up what
// it made, also what an interrupted run left (their ledgers stay in the
// report's work folder for the next run). Exit code 0 when nothing failed,
// 1 when something did, 2 refused, 87 a bad command line or a report
// folder that holds other files.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <fstream>
#include <string>
#include <vector>

#include "junit_report.h"
#include "platform_answers.h"
#include "run_program.h"
#include "support/utf8.h"
#include "system_facts.h"
#include "test_programs.h"

namespace {

const char kFirstLine[] =
    "KEYMEND self-test: for a disposable Windows machine only. It changes HKEY_LOCAL_MACHINE, "
    "creates test users and loads their registries.";

std::wstring Widen(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

std::wstring RunnerFolder() {
    wchar_t path[MAX_PATH];
    DWORD chars = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, chars < MAX_PATH ? chars : 0);
    return folder.substr(0, folder.find_last_of(L"\\/"));
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

struct Options {
    bool disposable = false;
    std::wstring report;
    std::vector<std::string> only;
    std::vector<std::string> skip;  // reported as skipped, with the option as reason
};

void AddNames(const std::wstring& list, std::vector<std::string>* names) {
    std::string text = Utf8(list);
    std::size_t start = 0;
    std::size_t comma = text.find(',');
    while (comma != std::string::npos) {
        names->push_back(text.substr(start, comma - start));
        start = comma + 1;
        comma = text.find(',', start);
    }
    names->push_back(text.substr(start));
}

bool Named(const std::vector<std::string>& names, const char* name) {
    for (const std::string& listed : names) {
        if (listed == name) {
            return true;
        }
    }
    return false;
}

bool ParseOptions(int argc, wchar_t** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        std::wstring argument = argv[i];
        if (argument == L"--this-machine-is-disposable") {
            options->disposable = true;
        } else if (argument == L"--report" && i + 1 < argc) {
            options->report = argv[++i];
        } else if (argument == L"--only" && i + 1 < argc) {
            AddNames(argv[++i], &options->only);
        } else if (argument == L"--skip" && i + 1 < argc) {
            AddNames(argv[++i], &options->skip);
        } else {
            return false;
        }
    }
    return true;
}

// Why program cannot run here; empty when it can.
std::string SkipReason(const TestProgram& program, const SystemFacts& facts,
                       const std::wstring& powershell) {
    switch (program.needs) {
        case Needs::Desktop:
            if (!facts.noDesktop.empty()) {
                return "needs an interactive desktop: the runner " + facts.noDesktop +
                       "; start it from a signed-in, unlocked session";
            }
            if (facts.e2eSystem.empty()) {
                return "knows English, Japanese and German systems; this one's language is " +
                       facts.language;
            }
            return "";
        case Needs::PowerShell:
            if (!facts.wine.empty()) {
                return "Windows PowerShell does not run under Wine; CI parses the script instead";
            }
            if (!Exists(powershell)) {
                return "no Windows PowerShell at " + Utf8(powershell);
            }
            return "";
        case Needs::Nothing:
            return "";
    }
    return "";
}

std::wstring CommandLine(const TestProgram& program, const SystemFacts& facts,
                         const std::wstring& bundle, const std::wstring& report,
                         const std::wstring& powershell) {
    std::wstring name = Widen(program.name);
    if (program.needs == Needs::PowerShell) {
        return L"\"" + powershell +
               L"\" -NoProfile -NonInteractive -ExecutionPolicy Bypass -File \"" + bundle + L"\\" +
               name + L"\" -Bundle \"" + bundle + L"\" -Report \"" + report + L"\"";
    }
    std::wstring line = L"\"" + bundle + L"\\" + name + L".exe\" \"--gtest_output=xml:" + report +
                        L"\\" + name + L".xml\"";
    if (program.needs == Needs::Desktop) {
        line += L" --system=" + Widen(facts.e2eSystem);
    }
    return line;
}

// A name the runner writes into its report folder.
bool IsReportEntry(const std::wstring& name) {
    if (name == L"." || name == L".." || name == L"work" || name == L"summary.txt" ||
        name == L"keymend-selftest.xml") {
        return true;
    }
    for (const TestProgram& program : kTestPrograms) {
        std::wstring own = Widen(program.name);
        if (name == own + L".xml" || name == own + L".log") {
            return true;
        }
    }
    return false;
}

// The runner deletes the XML and logs of the folder it reports into: only a
// folder that holds nothing but what it writes there (a new or empty one, an
// earlier report, or the ledgers in work\ that a stopped run left) may be it.
bool MayReportInto(const std::wstring& report) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((report + L"\\*").c_str(), &found);
    bool ours = true;
    for (BOOL more = search != INVALID_HANDLE_VALUE; more && ours;
         more = FindNextFileW(search, &found)) {
        ours = IsReportEntry(found.cFileName);
    }
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
    }
    return ours;
}

void EmptyReportFolder(const std::wstring& report) {
    CreateDirectoryW(report.c_str(), nullptr);
    CreateDirectoryW((report + L"\\work").c_str(), nullptr);
    for (const wchar_t* pattern : {L"\\*.xml", L"\\*.log", L"\\summary.txt"}) {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((report + pattern).c_str(), &found);
        for (BOOL more = search != INVALID_HANDLE_VALUE; more;
             more = FindNextFileW(search, &found)) {
            DeleteFileW((report + L"\\" + found.cFileName).c_str());
        }
        if (search != INVALID_HANDLE_VALUE) {
            FindClose(search);
        }
    }
}

// Printed and kept for summary.txt.
struct Summary {
    std::string text;
    void Line(const std::string& line) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
        text += line + "\r\n";
    }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Summary summary;
    summary.Line(kFirstLine);
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        std::fprintf(stderr,
                     "usage: keymend-selftest --this-machine-is-disposable [--report FOLDER] "
                     "[--only NAME,...] [--skip NAME,...]\n");
        return 87;
    }
    if (!options.disposable) {
        summary.Line(
            "Refused, nothing was run: start it as \"keymend-selftest "
            "--this-machine-is-disposable\" on a machine you will throw away.");
        return 2;
    }
    SystemFacts facts = ReadSystemFacts();
    if (!facts.elevated) {
        summary.Line(
            "Refused, nothing was run: start it from an elevated prompt (Run as "
            "administrator).");
        return 2;
    }
    std::wstring bundle = RunnerFolder();
    std::wstring report = options.report.empty() ? bundle + L"\\report" : options.report;
    if (!MayReportInto(report)) {
        summary.Line("Refused, nothing was run: --report names a folder with other files in it (" +
                     Utf8(report) + "); name a new folder or an earlier report.");
        return 87;
    }
    EmptyReportFolder(report);
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    std::wstring powershell = std::wstring(system) + L"\\WindowsPowerShell\\v1.0\\powershell.exe";

    summary.Line("System: " + facts.windows +
                 (facts.wine.empty() ? "" : ", under Wine " + facts.wine) + ", language " +
                 facts.language);
    summary.Line("Report: " + Utf8(report));
    std::vector<std::pair<std::string, std::string>> properties = {
        {"windows", facts.windows}, {"wine", facts.wine}, {"language", facts.language}};
    std::vector<OwnCase> own;
    std::vector<ProgramReport> reports;
    std::vector<PlatformAnswer> answers;
    for (const TestProgram& program : kTestPrograms) {
        if (!options.only.empty() && !Named(options.only, program.name)) {
            continue;
        }
        OwnCase verdict{std::string(program.name) + " ran", "", ""};
        verdict.skipped = Named(options.skip, program.name)
                              ? std::string("left out by --skip")
                              : SkipReason(program, facts, powershell);
        if (!verdict.skipped.empty()) {
            summary.Line(std::string(program.name) + ": skipped: " + verdict.skipped);
            own.push_back(verdict);
            continue;
        }
        std::printf("%s: running (at most %u minutes)\n", program.name, program.minutes);
        std::fflush(stdout);
        std::wstring work = report + L"\\work\\" + Widen(program.name);
        CreateDirectoryW(work.c_str(), nullptr);
        std::wstring log = report + L"\\" + Widen(program.name) + L".log";
        ProgramResult result = RunLogged(CommandLine(program, facts, bundle, report, powershell),
                                         work, log, program.minutes);
        ProgramReport xml =
            ReadGoogleTestXml(program.name, report + L"\\" + Widen(program.name) + L".xml");
        std::vector<PlatformAnswer> recorded = ReadPlatformAnswers(program.name, log);
        answers.insert(answers.end(), recorded.begin(), recorded.end());
        char line[256];
        if (result.started != ERROR_SUCCESS) {
            std::snprintf(line, sizeof line, "did not start (error %lu)",
                          static_cast<unsigned long>(result.started));
            verdict.failure = line;
        } else if (result.timedOut) {
            std::snprintf(line, sizeof line, "ended after its time limit of %u minutes",
                          program.minutes);
            verdict.failure = line;
        } else if (!xml.read) {
            std::snprintf(line, sizeof line, "ended with code %lu and no report",
                          static_cast<unsigned long>(result.exitCode));
            verdict.failure = line;
        } else if (xml.tests == 0) {
            // A filter or a broken build can leave a program with nothing to run.
            verdict.failure = "ran no test";
        } else if (result.exitCode != 0 && xml.failed.empty()) {
            std::snprintf(line, sizeof line, "ended with code %lu though no test failed",
                          static_cast<unsigned long>(result.exitCode));
            verdict.failure = line;
        }
        std::snprintf(line, sizeof line, "%s: %d tests, %zu failed, %zu skipped, %.0f s%s%s",
                      program.name, xml.tests, xml.failed.size(), xml.skipped.size(),
                      result.seconds, verdict.failure.empty() ? "" : "; ", verdict.failure.c_str());
        summary.Line(line);
        for (const TestCaseResult& failed : xml.failed) {
            summary.Line("  FAILED  " + failed.name + ": " + failed.message);
        }
        for (const TestCaseResult& skipped : xml.skipped) {
            summary.Line("  skipped " + skipped.name + ": " + skipped.message);
        }
        own.push_back(verdict);
        reports.push_back(xml);
    }

    summary.Line("Platform answers (question: answer here; Wine's, - where Wine cannot show it):");
    std::string differences;
    for (const PlatformAnswer& answer : answers) {
        bool windowsOnly = answer.wineAnswer == "-";
        bool differs = !windowsOnly && answer.answer != answer.wineAnswer;
        summary.Line(std::string(differs       ? "  DIFFERS "
                                 : windowsOnly ? "  Windows "
                                               : "  same    ") +
                     answer.program + ": " + answer.question + ": " + answer.answer +
                     "; Wine: " + answer.wineAnswer);
        properties.push_back(
            {"answer: " + answer.question, answer.answer + " (Wine: " + answer.wineAnswer + ")"});
        if (differs) {
            differences += (differences.empty() ? "" : "; ") + answer.question;
            properties.push_back({"differs from Wine: " + answer.question, answer.answer});
        }
    }
    summary.Line("Where the answer differed from Wine's: " +
                 (differences.empty() ? std::string("nowhere") : differences));
    // Under Wine a difference means a test states Wine's answer wrongly.
    if (!facts.wine.empty()) {
        own.push_back({"the Wine answers the tests state are Wine's",
                       differences.empty() ? "" : "Wine answered otherwise: " + differences, ""});
    }

    int tests = static_cast<int>(own.size());
    int failed = 0;
    int skipped = 0;
    for (const OwnCase& entry : own) {
        failed += entry.failure.empty() ? 0 : 1;
        skipped += entry.skipped.empty() ? 0 : 1;
    }
    for (const ProgramReport& program : reports) {
        tests += program.tests;
        failed += static_cast<int>(program.failed.size());
        skipped += static_cast<int>(program.skipped.size());
    }
    std::ofstream((report + L"\\keymend-selftest.xml").c_str(), std::ios::binary)
        << MergedJUnit(properties, own, reports);
    char closing[96];
    std::snprintf(closing, sizeof closing, "%d passed, %d failed, %d skipped",
                  tests - failed - skipped, failed, skipped);
    summary.Line(closing);
    std::ofstream((report + L"\\summary.txt").c_str(), std::ios::binary) << summary.text;
    return failed == 0 ? 0 : 1;
}
