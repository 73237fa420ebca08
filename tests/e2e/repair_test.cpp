// The engine's repair scenarios, each run by KEYMEND.EXE on the live
// registry of the Wine prefix and driven through its window: the user sees
// the outcome in the system's language, the message boxes of diagnostic
// mode in order, and the registry ends as the scenario says.
#include <gtest/gtest.h>

#include <cctype>

#include "driver.h"
#include "own_scenario.h"
#include "support/win32_live_area.h"

void PrintTo(const RecordedReport& report, std::ostream* out) {
    *out << (report.question ? "ask: " : "report: ") << report.caption << " | " << report.text;
}

namespace {

std::wstring OutcomeText(const UiTexts& texts, const std::string& outcome) {
    return outcome == "removed"       ? texts.completed
           : outcome == "not-removed" ? texts.notRemoved
                                      : texts.notFound;
}

class RepairScenario : public ::testing::TestWithParam<std::string> {};

TEST_P(RepairScenario, ThroughTheWindow) {
    OwnScenario own;
    std::string error;
    ASSERT_TRUE(LoadOwnScenario(GetParam(), &own, &error)) << error;
    const Scenario& scenario = own.scenario;
    if (scenario.memoryOnly || !scenario.injections.empty()) {
        GTEST_SKIP() << "needs the in-memory registry";
    }
    ASSERT_EQ(scenario.run, ScenarioRun::Repair);

    LiveArea live;
    ASSERT_TRUE(live.Seed(own.seed, &error)) << error;
    ASSERT_TRUE(live.Restrict(scenario.access, &error)) << error;

    const UiTexts& texts = TextsOf(SystemLanguage());
    KeymendProcess keymend(KeymendProgram(), scenario.diagnostic ? L"/x" : L"");
    HWND main = keymend.WaitForMainWindow();
    ASSERT_NE(main, nullptr) << "no window";
    ExpectReadyWindow(main, texts);

    std::deque<bool> answers(scenario.answers.begin(), scenario.answers.end());
    std::vector<RecordedReport> boxes;
    ASSERT_TRUE(ExecuteAndAnswer(keymend, main, texts, answers, &boxes));
    ExpectDoneWindow(main, texts, OutcomeText(texts, scenario.outcome));
    EXPECT_EQ(boxes, scenario.reports) << "message boxes of the run";

    ASSERT_TRUE(live.LiftRestrictions(&error)) << error;
    MemoryRegistry after;
    ASSERT_TRUE(live.ReadBack(after, nullptr, &error)) << error;
    EXPECT_EQ(live.Text(after), live.Text(own.expected)) << "the registry afterwards";

    ExpectClosesWithZero(keymend, main);
    EXPECT_TRUE(live.Remove(&error)) << error;
}

std::string TestName(const ::testing::TestParamInfo<std::string>& info) {
    std::string name = info.param.substr(info.param.rfind('/') + 1);
    name.resize(name.size() - 4);
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) {
            c = '_';
        }
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Engine, RepairScenario,
                         ::testing::ValuesIn(ListScenarioFiles(ScenarioDir() + "/repair")),
                         TestName);

}  // namespace
