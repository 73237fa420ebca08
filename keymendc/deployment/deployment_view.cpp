#include "deployment_view.h"

#include <algorithm>
#include <cstring>

#include "deployment_table.h"

namespace {

struct Tool {
    Deployment deployment;
    const char* name;
    const char* command;
};

struct Row {
    Deployment deployment;
    const char* outcome;
    int exitCode;
    Output output;
    Error error;
};

struct Other {
    Deployment deployment;
    int exitCode;
    Error error;
};

constexpr Tool kTools[] = {
#define DEPLOYMENT(id, name, command) {Deployment::id, name, command},
#include "deployment_table.def"
};

constexpr Row kRows[] = {
#define ROW(deployment, outcome, exitCode, output, error) \
    {Deployment::deployment, outcome, exitCode, Output::output, Error::error},
#include "deployment_table.def"
};

constexpr Other kOthers[] = {
#define OTHER_OUTCOME(deployment, exitCode, error) {Deployment::deployment, exitCode, Error::error},
#include "deployment_table.def"
};

const Tool& ToolOf(Deployment deployment) {
    for (const Tool& tool : kTools) {
        if (tool.deployment == deployment) {
            return tool;
        }
    }
    return kTools[0];  // unreachable: a test holds every enumerator to a line
}

const Other& OtherOf(Deployment deployment) {
    for (const Other& other : kOthers) {
        if (other.deployment == deployment) {
            return other;
        }
    }
    return kOthers[0];  // unreachable: a test holds every enumerator to a line
}

const Row* RowOf(Deployment deployment, const std::string& outcome) {
    for (const Row& row : kRows) {
        if (row.deployment == deployment && outcome == row.outcome) {
            return &row;
        }
    }
    return nullptr;
}

bool IsContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// What one byte adds to the length as a tool counts it: a character outside
// the Basic Multilingual Plane (a 4-byte lead) is two UTF-16 code units, a
// line break CR LF.
std::size_t Units(char c) {
    auto byte = static_cast<unsigned char>(c);
    if (c == '\n' || byte >= 0xF0) {
        return 2;
    }
    return IsContinuationByte(c) ? 0 : 1;
}

std::size_t Length(const std::string& text) {
    std::size_t units = 0;
    for (char c : text) {
        units += Units(c);
    }
    return units;
}

// The longest start of text within limit, never cut inside a character.
std::string Prefix(const std::string& text, std::size_t limit) {
    std::size_t units = 0;
    std::size_t end = 0;
    while (end < text.size()) {
        std::size_t next = end + 1;
        while (next < text.size() && IsContinuationByte(text[next])) {
            ++next;
        }
        units += Units(text[end]);
        if (units > limit) {
            break;
        }
        end = next;
    }
    return text.substr(0, end);
}

std::string Line(const std::string& text) {
    return Prefix(text.substr(0, text.find('\n')), kDeploymentOutputLimit - 2) + "\n";
}

// The report within the limit: its first lines as far as they fit, a line
// saying that some were left out, and the summary always last.
std::string CutReport(const RunSummary& run) {
    std::string summary = Line(run.summary);
    std::string body = run.text;
    if (body.size() >= summary.size() &&
        body.compare(body.size() - summary.size(), summary.size(), summary) == 0) {
        body.erase(body.size() - summary.size());
    }
    if (!body.empty() && body.back() != '\n') {
        body += '\n';
    }
    if (Length(body) + Length(summary) <= kDeploymentOutputLimit) {
        return body + summary;
    }
    const std::string cut = "[...]\n";
    std::size_t room = kDeploymentOutputLimit - Length(summary);
    room = room > Length(cut) ? room - Length(cut) : 0;
    std::string head = Prefix(body, room);
    std::size_t lastBreak = head.rfind('\n');
    head.erase(lastBreak == std::string::npos ? 0 : lastBreak + 1);  // whole lines only
    return head + (Length(head + cut + summary) <= kDeploymentOutputLimit ? cut : "") + summary;
}

std::string OutputOf(Output output, const RunSummary& run) {
    switch (output) {
        case Output::Report:
            return CutReport(run);
        case Output::Summary:
            return Line(run.summary);
        case Output::Compliant:
            return "Compliant\n";
        case Output::Nothing:
            break;
    }
    return std::string();
}

}  // namespace

bool ParseDeployment(const std::string& name, Deployment* deployment) {
    for (const Tool& tool : kTools) {
        if (name == tool.name) {
            *deployment = tool.deployment;
            return true;
        }
    }
    return false;
}

const char* DeploymentName(Deployment deployment) {
    return ToolOf(deployment).name;
}

const char* DeploymentCommand(Deployment deployment) {
    return ToolOf(deployment).command;
}

std::vector<int> ListedExitCodes(Deployment deployment) {
    std::vector<int> codes{OtherOf(deployment).exitCode};
    for (const Row& row : kRows) {
        if (row.deployment == deployment) {
            codes.push_back(row.exitCode);
        }
    }
    std::sort(codes.begin(), codes.end());
    codes.erase(std::unique(codes.begin(), codes.end()), codes.end());
    return codes;
}

DeploymentView ViewFor(Deployment deployment, const RunSummary& run) {
    std::string outcome = run.outcome;
    if (!run.complete && (outcome == "not-found" || outcome == "removed")) {
        outcome = "incomplete";  // clean is what a look everywhere showed
    }
    const Row* row =
        run.command == DeploymentCommand(deployment) ? RowOf(deployment, outcome) : nullptr;
    DeploymentView view;
    if (row == nullptr) {
        const Other& other = OtherOf(deployment);
        std::string line = Line("No row for " + run.command + " outcome \"" + run.outcome +
                                "\" (exit code " + std::to_string(run.exitCode) + ") under " +
                                DeploymentName(deployment) + ": " + run.summary);
        view.exitCode = other.exitCode;
        if (other.error == Error::Reason) {
            view.output = CutReport(run);
            view.error = line;
        } else {
            RunSummary told = run;
            told.text = line + run.text;
            view.output = CutReport(told);
        }
        return view;
    }
    view.exitCode = row->exitCode;
    view.output = OutputOf(row->output, run);
    if (row->error == Error::Reason) {
        view.error = Line(run.summary);
    }
    return view;
}
