#include "deployment_view.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

constexpr Deployment kDeployments[] = {
    Deployment::IntuneDetection,       Deployment::IntuneRemediation,
    Deployment::ConfigMgrDiscovery,    Deployment::ConfigMgrRemediation,
    Deployment::ConfigMgrAppDetection,
};
const char* const kOutcomes[] = {
    "found",         "not-found", "removed",        "not-removed",      "incomplete",
    "backup-failed", "no-rights", "installer-busy", "hive-left-loaded", "new-in-a-later-keymendc",
};

RunSummary MakeRun(const std::string& command, const std::string& outcome, bool complete = true,
                   const std::string& summary = "Summary: of the run") {
    RunSummary run;
    run.command = command;
    run.outcome = outcome;
    run.exitCode = 42;
    run.complete = complete;
    run.summary = summary;
    run.text = "Registration of S-1-5-21-1-2-3-1001\nProduct key: HKEY_USERS\\x\n" + summary + "\n";
    return run;
}

enum Shown { Text, SummaryLine, CompliantWord, None };

struct Case {
    Deployment deployment;
    const char* outcome;
    bool complete;
    int exitCode;
    Shown output;
    bool reason;  // the summary on standard error
};

TEST(DeploymentView, EachToolSeesEachOutcomeAsItsTableSays) {
    using D = Deployment;
    const Case cases[] = {
        {D::IntuneDetection, "found", true, 1, Text, false},
        {D::IntuneDetection, "found", false, 1, Text, false},  // the remediation can help
        {D::IntuneDetection, "not-found", true, 0, Text, false},
        // Every state but clean is 1, nothing on standard error: the
        // remediation runs and shows it.
        {D::IntuneDetection, "not-found", false, 1, Text, false},
        {D::IntuneDetection, "incomplete", false, 1, Text, false},
        {D::IntuneDetection, "no-rights", true, 1, Text, false},
        {D::IntuneDetection, "installer-busy", true, 1, Text, false},
        {D::IntuneDetection, "hive-left-loaded", true, 1, Text, false},
        {D::IntuneRemediation, "removed", true, 0, Text, false},
        {D::IntuneRemediation, "removed", false, 1011, Text, true},
        {D::IntuneRemediation, "not-found", true, 0, Text, false},
        {D::IntuneRemediation, "not-removed", true, 1, Text, true},
        {D::IntuneRemediation, "incomplete", false, 1011, Text, true},
        {D::IntuneRemediation, "backup-failed", true, 29, Text, true},
        {D::IntuneRemediation, "no-rights", true, 2, Text, true},
        {D::IntuneRemediation, "installer-busy", true, 1618, Text, true},
        {D::IntuneRemediation, "hive-left-loaded", true, 170, Text, true},
        {D::ConfigMgrDiscovery, "found", true, 0, SummaryLine, false},
        {D::ConfigMgrDiscovery, "found", false, 0, SummaryLine, false},
        {D::ConfigMgrDiscovery, "not-found", true, 0, CompliantWord, false},
        {D::ConfigMgrDiscovery, "not-found", false, 1011, SummaryLine, true},
        {D::ConfigMgrDiscovery, "incomplete", false, 1011, SummaryLine, true},
        {D::ConfigMgrDiscovery, "no-rights", true, 2, SummaryLine, true},
        {D::ConfigMgrDiscovery, "installer-busy", true, 1618, SummaryLine, false},
        {D::ConfigMgrDiscovery, "hive-left-loaded", true, 170, SummaryLine, true},
        {D::ConfigMgrRemediation, "removed", true, 0, Text, false},
        {D::ConfigMgrRemediation, "removed", false, 1011, Text, true},
        {D::ConfigMgrRemediation, "not-found", true, 0, Text, false},
        {D::ConfigMgrRemediation, "not-removed", true, 1, Text, true},
        {D::ConfigMgrRemediation, "incomplete", false, 1011, Text, true},
        {D::ConfigMgrRemediation, "backup-failed", true, 29, Text, true},
        {D::ConfigMgrRemediation, "no-rights", true, 2, Text, true},
        {D::ConfigMgrRemediation, "installer-busy", true, 1618, Text, false},
        {D::ConfigMgrRemediation, "hive-left-loaded", true, 170, Text, true},
        {D::ConfigMgrAppDetection, "found", true, 0, None, false},  // not installed: repair
        {D::ConfigMgrAppDetection, "found", false, 0, None, false},
        {D::ConfigMgrAppDetection, "not-found", true, 0, SummaryLine, false},  // installed
        {D::ConfigMgrAppDetection, "not-found", false, 1011, SummaryLine, true},
        {D::ConfigMgrAppDetection, "incomplete", false, 1011, SummaryLine, true},
        {D::ConfigMgrAppDetection, "no-rights", true, 2, SummaryLine, true},
        // Not installed: the install meets it too, ends with 1618, retried soon.
        {D::ConfigMgrAppDetection, "installer-busy", true, 0, None, false},
        {D::ConfigMgrAppDetection, "hive-left-loaded", true, 170, SummaryLine, true},
    };
    for (const Case& c : cases) {
        RunSummary run = MakeRun(DeploymentCommand(c.deployment), c.outcome, c.complete);
        DeploymentView view = ViewFor(c.deployment, run);
        const std::string shown[] = {run.text, run.summary + "\n", "Compliant\n", ""};
        std::string where = std::string(DeploymentName(c.deployment)) + " " + c.outcome +
                            (c.complete ? "" : " (incomplete run)");
        EXPECT_EQ(view.exitCode, c.exitCode) << where;
        EXPECT_EQ(view.output, shown[c.output]) << where;
        EXPECT_EQ(view.error, c.reason ? run.summary + "\n" : "") << where;
    }
}

TEST(DeploymentView, AnOutcomeWithoutARowIsAFailureThatNamesIt) {
    struct Other {
        Deployment tool;
        RunSummary run;
        int exitCode;
        bool onError;  // the line on standard error, else first in the output
    };
    const Other others[] = {
        {Deployment::ConfigMgrDiscovery, MakeRun("check", "new-in-a-later-keymendc"), 1359, true},
        // a repair outcome under a check deployment
        {Deployment::IntuneDetection, MakeRun("check", "removed"), 1, false},
        {Deployment::ConfigMgrAppDetection, MakeRun("repair", "found"), 1359, true},
        // the other command's run, whatever its outcome
        {Deployment::IntuneDetection, MakeRun("repair", "not-found"), 1, false},
        {Deployment::IntuneRemediation, MakeRun("check", "found"), 1359, true},
    };
    for (const Other& other : others) {
        DeploymentView view = ViewFor(other.tool, other.run);
        std::string where = std::string(DeploymentName(other.tool)) + " " + other.run.outcome;
        const std::string& line = other.onError ? view.error : view.output;
        EXPECT_EQ(view.exitCode, other.exitCode) << where;
        EXPECT_EQ(line.rfind("No row for " + other.run.command + " outcome \"" + other.run.outcome +
                                 "\" (exit code 42) under " + DeploymentName(other.tool),
                             0),
                  0u)
            << where << ": " << line;
        if (other.onError) {
            EXPECT_EQ(view.output, other.run.text) << where;
            EXPECT_EQ(view.error.find('\n'), view.error.size() - 1) << view.error;
        } else {
            EXPECT_EQ(view.output.substr(view.output.find('\n') + 1), other.run.text) << where;
            EXPECT_EQ(view.error, "") << where;
        }
    }
}

// The codes a script passes on are exactly the codes its tool can be given.
TEST(DeploymentView, ListedExitCodesAreTheCodesViewsGive) {
    for (Deployment deployment : kDeployments) {
        std::set<int> given;
        for (const char* outcome : kOutcomes) {
            for (bool complete : {true, false}) {
                given.insert(
                    ViewFor(deployment, MakeRun(DeploymentCommand(deployment), outcome, complete))
                        .exitCode);
            }
        }
        std::vector<int> listed = ListedExitCodes(deployment);
        EXPECT_EQ(std::vector<int>(given.begin(), given.end()), listed)
            << DeploymentName(deployment);
    }
}

TEST(DeploymentView, NamesAndCommands) {
    const char* const commands[] = {"check", "repair", "check", "repair", "check"};
    std::set<std::string> names;
    for (std::size_t i = 0; i < 5; ++i) {
        Deployment parsed = Deployment::ConfigMgrRemediation;
        ASSERT_TRUE(ParseDeployment(DeploymentName(kDeployments[i]), &parsed));
        EXPECT_EQ(parsed, kDeployments[i]) << DeploymentName(kDeployments[i]);
        EXPECT_STREQ(DeploymentCommand(kDeployments[i]), commands[i]);
        names.insert(DeploymentName(kDeployments[i]));
    }
    EXPECT_EQ(names.size(), 5u);
    Deployment untouched = Deployment::ConfigMgrRemediation;
    EXPECT_FALSE(ParseDeployment("Intune-Detection", &untouched));
    EXPECT_FALSE(ParseDeployment("", &untouched));
    EXPECT_EQ(untouched, Deployment::ConfigMgrRemediation);
}

std::string Repeat(const std::string& piece, std::size_t times) {
    std::string text;
    for (std::size_t i = 0; i < times; ++i) {
        text += piece;
    }
    return text;
}

struct Cut {
    const char* what;
    std::string body;  // the report before its summary line
    std::string summary;
    std::string output;  // what a Report row shows
};

// 2,048 characters as Windows counts them: UTF-16 code units, CR LF for a
// line break; a cut report keeps whole lines, then "[...]", then the summary.
TEST(DeploymentView, ReportsAreCutToTheLimitWithTheSummaryLast) {
    const std::string han = "\xE6\x97\xA5";            // one UTF-16 unit in three bytes
    const std::string face = "\xF0\x9F\x98\x80";       // two units (a surrogate pair) in four
    const std::string e = "\xC3\xA9";                  // one unit in two bytes
    const std::string line = Repeat("x", 100) + "\n";  // 102 units
    const Cut cuts[] = {
        {"at the limit", Repeat("a", 2043) + "\n", "S", Repeat("a", 2043) + "\nS\n"},
        {"one over", Repeat("a", 2044) + "\n", "S", "[...]\nS\n"},
        {"three-byte characters count one", Repeat(han, 2000) + "\n", "S",
         Repeat(han, 2000) + "\nS\n"},
        {"four-byte characters count two", Repeat(face, 1100) + "\n", "S", "[...]\nS\n"},
        {"whole lines", Repeat(line, 30), "S", Repeat(line, 19) + "[...]\nS\n"},
        {"a summary over the limit", "head\n", Repeat(e, 3000), Repeat(e, 2046) + "\n"},
        {"a summary with room for the mark alone", "head line\n", Repeat("s", 2036),
         "[...]\n" + Repeat("s", 2036) + "\n"},
        {"a summary without room for the mark", "head line\n", Repeat("s", 2044),
         Repeat("s", 2044) + "\n"},
    };
    for (const Cut& c : cuts) {
        RunSummary run = MakeRun("check", "found", true, c.summary);
        run.text = c.body + c.summary + "\n";
        EXPECT_EQ(ViewFor(Deployment::IntuneDetection, run).output, c.output) << c.what;
    }
    // A report whose last line is not its summary still ends with it.
    RunSummary run = MakeRun("check", "found");
    run.text = "first\nsecond";
    EXPECT_EQ(ViewFor(Deployment::IntuneDetection, run).output,
              "first\nsecond\n" + run.summary + "\n");
    // The summary alone, and the reason, are one line within the limit too.
    run = MakeRun("check", "incomplete", false, Repeat(e, 3000) + "\nsecond line");
    DeploymentView view = ViewFor(Deployment::ConfigMgrDiscovery, run);
    EXPECT_EQ(view.output, Repeat(e, 2046) + "\n");
    EXPECT_EQ(view.error, view.output);
}

}  // namespace
