// What a deployment tool is shown of one keymendc run (--deployment NAME):
// the exit code, standard output and standard error as that tool reads them,
// from the table in deployment_table.def. Plain C++ without Windows, so that
// it is tested on the host too. All text is UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

enum class Deployment {
    IntuneDetection,
    IntuneRemediation,
    ConfigMgrDiscovery,
    ConfigMgrRemediation,
    ConfigMgrAppDetection,
};

// The most a tool shows of either stream, in characters as Windows counts
// them (UTF-16 code units), with each line break written as CR LF.
constexpr std::size_t kDeploymentOutputLimit = 2048;

// NAME as given to --deployment; false for a name the table does not have.
[[nodiscard]] bool ParseDeployment(const std::string& name, Deployment* deployment);
const char* DeploymentName(Deployment deployment);
// "check" or "repair": the command the tool's script runs.
const char* DeploymentCommand(Deployment deployment);
// Every exit code ViewFor can give for this tool, ascending: what its script
// passes on; any other code is a failure of the script's own.
std::vector<int> ListedExitCodes(Deployment deployment);

// One finished run as keymendc reports it.
struct RunSummary {
    std::string command;   // "check" or "repair"
    std::string outcome;   // as the JSON spells it: "found", "not-found", ...
    int exitCode = 0;      // keymendc's own exit code for it
    bool complete = true;  // false: some place could not be looked at
    std::string summary;   // the summary line, without a line break
    std::string text;      // the text report, whose last line is the summary
};

struct DeploymentView {
    int exitCode = 0;
    std::string output;  // empty, or lines each ending with '\n'
    std::string error;   // empty, or one line ending with '\n'
};

DeploymentView ViewFor(Deployment deployment, const RunSummary& run);
