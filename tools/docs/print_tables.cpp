// Prints the docs' tables of exit codes and outcomes as Markdown, from
// keymendc's one table file, so that the docs say what keymendc and the
// scripts do: "print_tables NAME" for one table (exit-codes,
// exit-codes-short, deployment-views, script-failures), or none for the
// names. tools/docs-tables puts them into the docs and checks them there.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "deployment_table.h"

namespace {

struct Exit {
    int code;
    const char* outcomes;  // space-separated
    const char* check;
    const char* repair;
    const char* advice;
};

struct Failure {
    const char* variable;
    int code;
    const char* what;
};

struct Row {
    const char* deployment;
    const char* outcome;
    int exitCode;
    Output output;
    Error error;
};

const Exit kExits[] = {
#define EXIT(code, outcomes, check, repair, advice) {code, outcomes, check, repair, advice},
#include "deployment_table.def"
};

const Failure kFailures[] = {
#define SCRIPT_FAILURE(variable, code, what) {#variable, code, what},
#include "deployment_table.def"
};

const Row kRows[] = {
#define ROW(deployment, outcome, exitCode, output, error) \
    {#deployment, outcome, exitCode, Output::output, Error::error},
#define OTHER_OUTCOME(deployment, exitCode, error) \
    {#deployment, "", exitCode, Output::Report, Error::error},
#include "deployment_table.def"
};

// A column of the deployment table: its tools, what it shows when no output
// is named, and what the tool makes of a code and an output.
struct Column {
    const char* heading;
    std::vector<const char*> deployments;
    Output usual;
    const char* (*meaning)(int code, Output output);
};

const char* NoMeaning(int, Output) {
    return nullptr;
}

const char* IntuneDetection(int code, Output) {
    return code == 1 ? "remediate" : code == 0 ? "without issues" : nullptr;
}

const char* Discovery(int code, Output output) {
    if (code != 0) {
        return nullptr;
    }
    return output == Output::Compliant ? nullptr : "non-compliant";
}

const char* AppDetection(int code, Output output) {
    if (code != 0) {
        return nullptr;
    }
    return output == Output::Nothing ? "not installed" : "installed";
}

const Column kColumns[] = {
    {"Intune detection", {"IntuneDetection"}, Output::Report, IntuneDetection},
    {"Intune remediation", {"IntuneRemediation"}, Output::Report, NoMeaning},
    {"ConfigMgr discovery", {"ConfigMgrDiscovery"}, Output::Summary, Discovery},
    {"ConfigMgr remediation and application install",
     {"ConfigMgrRemediation"},
     Output::Report,
     NoMeaning},
    {"ConfigMgr application detection", {"ConfigMgrAppDetection"}, Output::Summary, AppDetection},
};

const char* kOutcomeOrder[] = {
    "found",         "not-found", "removed",        "not-removed",      "incomplete",
    "backup-failed", "no-rights", "installer-busy", "hive-left-loaded", ""};

std::string Ticked(const char* words) {
    std::string ticked;
    for (const char* word = words; *word != '\0';) {
        const char* end = std::strchr(word, ' ');
        std::size_t length =
            end == nullptr ? std::strlen(word) : static_cast<std::size_t>(end - word);
        ticked += (ticked.empty() ? "`" : ", `") + std::string(word, length) + "`";
        word += length + (end == nullptr ? 0 : 1);
    }
    return ticked == "`-`" ? "-" : ticked;
}

const char* OutputWords(Output output) {
    switch (output) {
        case Output::Report:
            return "the report";
        case Output::Summary:
            return "the summary";
        case Output::Compliant:
            return "`Compliant`";
        case Output::Nothing:
            return "no output";
    }
    return "";
}

std::string Cell(const Column& column, const char* outcome) {
    for (const Row& row : kRows) {
        if (std::strcmp(row.deployment, column.deployments[0]) != 0 ||
            std::strcmp(row.outcome, outcome) != 0) {
            continue;
        }
        std::string cell = std::to_string(row.exitCode);
        if (row.output != column.usual) {
            cell += std::string(", ") + OutputWords(row.output);
        }
        if (const char* meaning = column.meaning(row.exitCode, row.output)) {
            cell += std::string(": ") + meaning;
        }
        return cell + (row.error == Error::Reason ? " *" : "");
    }
    return "-";
}

void ExitCodes() {
    std::printf("| Code | Outcome | check | repair | What to do |\n");
    std::printf("|------|---------|-------|--------|------------|\n");
    for (const Exit& exit : kExits) {
        std::printf("| %d | %s | %s | %s | %s |\n", exit.code, Ticked(exit.outcomes).c_str(),
                    exit.check, exit.repair, exit.advice);
    }
}

void ExitCodesShort() {
    std::printf("| Code | Outcome | What to do |\n");
    std::printf("|------|---------|------------|\n");
    for (const Exit& exit : kExits) {
        std::printf("| %d | %s | %s |\n", exit.code, Ticked(exit.outcomes).c_str(), exit.advice);
    }
}

void DeploymentViews() {
    std::printf("| keymendc's outcome |");
    for (const Column& column : kColumns) {
        std::printf(" %s |", column.heading);
    }
    std::printf("\n|---|");
    for (std::size_t i = 0; i < sizeof kColumns / sizeof kColumns[0]; ++i) {
        std::printf("---|");
    }
    std::printf("\n");
    for (const char* outcome : kOutcomeOrder) {
        std::printf("| %s |",
                    *outcome == '\0' ? "any other" : ("`" + std::string(outcome) + "`").c_str());
        for (const Column& column : kColumns) {
            std::printf(" %s |", Cell(column, outcome).c_str());
        }
        std::printf("\n");
    }
}

void ScriptFailures() {
    std::printf("| Code | What happened |\n");
    std::printf("|------|---------------|\n");
    for (const Failure& failure : kFailures) {
        std::printf("| %d | %s |\n", failure.code, failure.what);
    }
}

struct Table {
    const char* name;
    void (*print)();
};

const Table kTables[] = {
    {"exit-codes", ExitCodes},
    {"exit-codes-short", ExitCodesShort},
    {"deployment-views", DeploymentViews},
    {"script-failures", ScriptFailures},
};

}  // namespace

int main(int argc, char** argv) {
    for (const Table& table : kTables) {
        if (argc == 1) {
            std::printf("%s\n", table.name);
        } else if (std::strcmp(argv[1], table.name) == 0) {
            table.print();
            return 0;
        }
    }
    if (argc == 1) {
        return 0;
    }
    std::fprintf(stderr, "print_tables: no table %s\n", argv[1]);
    return 2;
}
