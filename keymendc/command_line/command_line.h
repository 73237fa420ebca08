#pragma once

#include <string>

#include "deployment_view.h"

enum class Command { Check, Repair };

struct Options {
    Command command = Command::Check;
    bool json = false;
    bool verbose = false;
    bool includeSignedOut = false;   // load the registry of users who are not signed in
    bool includePerMachine = false;  // repair also what was installed for all users
    std::wstring backupDir;          // empty: no backup
    bool forDeployment = false;      // shown as deployment reads it, not as text or JSON
    Deployment deployment = Deployment::IntuneDetection;
};

enum class CommandLineVerdict {
    Run,   // options filled
    Help,  // /?, -?, -h or --help as the whole command line: the usage is what was asked for
    Bare,  // no argument at all
    Bad,   // problem says what is wrong
};

// Reads keymendc's arguments (argv[0] is the program). Commands and options
// ignore letter case, as Windows users expect.
[[nodiscard]] CommandLineVerdict ParseCommandLine(int argc, const wchar_t* const* argv,
                                                  Options* options, std::wstring* problem);

// The usage text, ending with a line break.
const wchar_t* UsageText();
