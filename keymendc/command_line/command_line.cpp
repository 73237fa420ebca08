#include "command_line.h"

#include <cwctype>

namespace {

bool Same(const wchar_t* argument, const wchar_t* word) {
    for (; *argument != L'\0' && *word != L'\0'; ++argument, ++word) {
        if (std::towlower(*argument) != std::towlower(*word)) {
            return false;
        }
    }
    return *argument == *word;
}

bool IsHelp(const wchar_t* argument) {
    return Same(argument, L"/?") || Same(argument, L"-?") || Same(argument, L"-h") ||
           Same(argument, L"--help");
}

// A tool's name, which is ASCII; anything else matches none.
std::string Ascii(const wchar_t* text) {
    std::string ascii;
    for (; *text != L'\0'; ++text) {
        ascii += *text < 0x80 ? static_cast<char>(*text) : '?';
    }
    return ascii;
}

// "C:\x" or "\\server\share": not "x", "C:x" or "\x", which depend on
// the working folder or drive.
bool IsAbsolute(const wchar_t* path) {
    bool drive = ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
                 path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
    bool unc = (path[0] == L'\\' || path[0] == L'/') && (path[1] == L'\\' || path[1] == L'/');
    return drive || unc;
}

CommandLineVerdict Refuse(std::wstring* problem, const std::wstring& text) {
    *problem = text;
    return CommandLineVerdict::Bad;
}

}  // namespace

CommandLineVerdict ParseCommandLine(int argc, const wchar_t* const* argv, Options* options,
                                    std::wstring* problem) {
    if (argc <= 1) {
        return CommandLineVerdict::Bare;
    }
    // Anywhere else, a tool would read the usage's exit code 0 as clean.
    if (argc == 2 && IsHelp(argv[1])) {
        return CommandLineVerdict::Help;
    }
    bool haveCommand = false;
    bool haveBackup = false;
    for (int i = 1; i < argc; ++i) {
        const wchar_t* argument = argv[i];
        bool isCommand = Same(argument, L"check") || Same(argument, L"repair");
        if (isCommand && haveCommand) {
            return Refuse(problem, L"more than one command: " + std::wstring(argument));
        }
        if (isCommand) {
            haveCommand = true;
            options->command = Same(argument, L"check") ? Command::Check : Command::Repair;
        } else if (Same(argument, L"--json")) {
            options->json = true;
        } else if (Same(argument, L"--verbose")) {
            options->verbose = true;
        } else if (Same(argument, L"--include-signed-out")) {
            options->includeSignedOut = true;
        } else if (Same(argument, L"--include-per-machine")) {
            options->includePerMachine = true;
        } else if (Same(argument, L"--deployment")) {
            if (options->forDeployment) {
                return Refuse(problem, L"--deployment given twice");
            }
            if (i + 1 >= argc || !ParseDeployment(Ascii(argv[i + 1]), &options->deployment)) {
                return Refuse(problem,
                              L"--deployment needs a tool: intune-detection, "
                              L"intune-remediation, configmgr-discovery, "
                              L"configmgr-remediation or configmgr-app-detection");
            }
            options->forDeployment = true;
            ++i;
        } else if (Same(argument, L"--backup")) {
            if (haveBackup) {
                return Refuse(problem, L"--backup given twice");
            }
            if (i + 1 >= argc || argv[i + 1][0] == L'\0') {
                return Refuse(problem, L"--backup needs a folder");
            }
            // A script whose folder variable was empty passes the next option
            // instead; PowerShell drops an empty argument altogether.
            if (argv[i + 1][0] == L'-' || argv[i + 1][0] == L'/') {
                return Refuse(problem, L"--backup needs a folder, not an option: " +
                                           std::wstring(argv[i + 1]));
            }
            // SYSTEM's working folder is System32: a relative folder would
            // land there without a word.
            if (!IsAbsolute(argv[i + 1])) {
                return Refuse(problem,
                              L"--backup needs a full path (C:\\... or \\\\server\\share\\...), "
                              L"not a relative one: " +
                                  std::wstring(argv[i + 1]));
            }
            haveBackup = true;
            options->backupDir = argv[++i];
        } else {
            return Refuse(problem, L"unknown argument: " + std::wstring(argument));
        }
    }
    if (!haveCommand) {
        return Refuse(problem, L"no command: check or repair");
    }
    if (haveBackup && options->command != Command::Repair) {
        return Refuse(problem, L"--backup goes with repair only");
    }
    if (options->includePerMachine && options->command != Command::Repair) {
        return Refuse(problem, L"--include-per-machine goes with repair only");
    }
    // The tool reads standard error as a failure and expects its own output.
    if (options->forDeployment && (options->json || options->verbose)) {
        return Refuse(problem, L"--deployment goes with neither --json nor --verbose");
    }
    // A detection that repairs, or a remediation that only looks, is a script's mistake.
    bool checks = std::string(DeploymentCommand(options->deployment)) == "check";
    if (options->forDeployment && checks != (options->command == Command::Check)) {
        return Refuse(problem, L"this --deployment runs keymendc " +
                                   std::wstring(checks ? L"check" : L"repair"));
    }
    return CommandLineVerdict::Run;
}

const wchar_t* UsageText() {
    return L"Usage: keymendc check [--include-signed-out] [--json | --deployment TOOL] "
           L"[--verbose]\n"
           L"       keymendc repair [--include-signed-out] [--include-per-machine]\n"
           L"                       [--backup DIR] [--json | --deployment TOOL] [--verbose]\n"
           L"\n"
           L"Finds (check) or removes (repair) every damaged Brelix 1.11 registration, with the\n"
           L"same rules as KEYMEND.EXE. Needs administrator rights; never asks anything.\n"
           L"\n"
           L"  --backup DIR  first write every key tree to one .reg file in DIR, a full path\n"
           L"                (reg import restores them), in folders only administrators\n"
           L"                control; if it cannot be written whole, nothing is deleted\n"
           L"  --include-signed-out\n"
           L"                load the registry of each user who is not signed in, briefly,\n"
           L"                to look at (and repair) their registration too\n"
           L"  --include-per-machine\n"
           L"                also remove a damaged registration installed for all users\n"
           L"  --deployment TOOL\n"
           L"                exit code and output as TOOL reads them: intune-detection,\n"
           L"                intune-remediation, configmgr-discovery, configmgr-remediation,\n"
           L"                configmgr-app-detection (the ready-made scripts use it)\n"
           L"  --json        one JSON object on standard output instead of text\n"
           L"  --verbose     every failure the repair meets, as lines on standard error\n"
           L"  /?            this text, and exit code 0; only alone\n"
           L"\n"
           L"Exit codes: check 1 found, 0 not found; repair 0 nothing remains, 1 not removed\n"
           L"completely; 1011 incomplete: a key or a user's registry could not be read (found\n"
           L"wins for check); 2 no administrator rights; 29 backup not written (nothing\n"
           L"deleted); 87 bad command line; 170 a user's registry that keymendc loaded could\n"
           L"not be unloaded; 1618 Windows Installer busy (nothing deleted).\n";
}
