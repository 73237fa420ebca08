// keymendc: KEYMEND's repair for deployment tools. Runs without a desktop,
// never asks, and tells its outcome by exit code and standard output.
#include <windows.h>

#include "command_line.h"
#include "console_output.h"
#include "console_reporter.h"
#include "deployment_view.h"
#include "exit_codes.h"
#include "reports.h"
#include "restrict_dll_search.h"
#include "run_command.h"

namespace {

// The run as a deployment tool's view of it needs it.
RunSummary Summarize(const RunRecord& record) {
    RunSummary run;
    run.command = record.command == Command::Check ? "check" : "repair";
    run.outcome = OutcomeName(record.outcome);
    run.exitCode = record.exitCode;
    run.complete = SawEverything(record);
    run.summary = WideToUtf8(SummaryLine(record));
    run.text = WideToUtf8(TextReport(record));
    return run;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    RestrictDllSearchToSystem32();
    Options options;
    std::wstring problem;
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    switch (ParseCommandLine(argc, argv, &options, &problem)) {
        case CommandLineVerdict::Help:
            WriteText(out, UsageText());
            return kExitClean;
        case CommandLineVerdict::Bare:
            // A script that lost its command must not read as success.
            WriteText(out, UsageText());
            return kExitBadCommandLine;
        case CommandLineVerdict::Bad:
            WriteText(GetStdHandle(STD_ERROR_HANDLE),
                      L"keymendc: " + problem + L"\n\n" + UsageText());
            return kExitBadCommandLine;
        case CommandLineVerdict::Run:
            break;
    }
    EchoReports = options.verbose;
    RunRecord record = RunCommand(options);
    if (options.forDeployment) {
        DeploymentView view = ViewFor(options.deployment, Summarize(record));
        WriteText(out, Utf8ToWide(view.output));
        WriteText(GetStdHandle(STD_ERROR_HANDLE), Utf8ToWide(view.error));
        return view.exitCode;
    }
    WriteText(out, options.json ? JsonReport(record) : TextReport(record));
    return record.exitCode;
}
