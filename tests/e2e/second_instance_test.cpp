// Starting KEYMEND.EXE while it runs: the second process ends with 0 and
// the first comes forward, restored from minimised unless the second start
// itself asked for a minimised window.
#include <gtest/gtest.h>

#include "driver.h"
#include "own_scenario.h"
#include "support/win32_live_area.h"

namespace {

// A window of the driver's own that takes the foreground away from
// KEYMEND.EXE, so that getting it back is seen.
class OtherWindow {
  public:
    OtherWindow() {
        window_ = CreateWindowExW(0, L"STATIC", L"another program", WS_OVERLAPPEDWINDOW, 10, 10,
                                  200, 100, nullptr, nullptr, nullptr, nullptr);
        ShowWindow(window_, SW_SHOW);
        SetForegroundWindow(window_);
        Pump();
    }
    ~OtherWindow() { DestroyWindow(window_); }
    OtherWindow(const OtherWindow&) = delete;
    OtherWindow& operator=(const OtherWindow&) = delete;
    HWND get() const { return window_; }
    static void Pump() {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&message);
        }
    }

  private:
    HWND window_ = nullptr;
};

// The second start ends with 0 and leaves the first one running alone.
void StartSecondInstance(const KeymendProcess& first, int showState) {
    KeymendProcess second(KeymendProgram(), L"/e", showState);
    std::optional<DWORD> code = second.WaitForExit();
    ASSERT_TRUE(code.has_value()) << "the second instance keeps running";
    EXPECT_EQ(*code, 0u);
    EXPECT_TRUE(first.running());
    OtherWindow::Pump();
}

struct ShowCase {
    int showState;
    bool restores;
};

void PrintTo(const ShowCase& show, std::ostream* out) {
    *out << "show state " << show.showState;
}

std::string ShowStateName(const ::testing::TestParamInfo<ShowCase>& show) {
    return "show_state_" + std::to_string(show.param.showState);
}

class SecondInstance : public ::testing::TestWithParam<ShowCase> {};

TEST_P(SecondInstance, BringsTheFirstForward) {
    KeymendProcess first(KeymendProgram(), L"");
    HWND main = first.WaitForMainWindow();
    ASSERT_NE(main, nullptr);
    PostMessageW(main, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ASSERT_TRUE(WaitUntil([&] { return IsIconic(main) != FALSE; }));
    OtherWindow other;
    ASSERT_NE(GetForegroundWindow(), main);

    StartSecondInstance(first, GetParam().showState);
    EXPECT_EQ(GetForegroundWindow(), main);
    if (GetParam().restores) {
        EXPECT_TRUE(WaitUntil([&] { return !IsIconic(main); }, 2000)) << "still minimised";
    } else {
        Sleep(300);
        EXPECT_TRUE(IsIconic(main)) << "restored although a minimised start was asked for";
    }
    ExpectClosesWithZero(first, main);
}

INSTANTIATE_TEST_SUITE_P(ShowStates, SecondInstance,
                         ::testing::Values(ShowCase{SW_SHOWNORMAL, true},
                                           ShowCase{SW_SHOWMINIMIZED, false},
                                           ShowCase{SW_SHOWMINNOACTIVE, false},
                                           ShowCase{SW_MINIMIZE, true},
                                           ShowCase{SW_SHOWMAXIMIZED, true}),
                         ShowStateName);

// With a question box of diagnostic mode open, the box is what comes
// forward; the run then goes on when it is answered.
TEST(SecondInstanceDuringAQuestion, BringsTheBoxForward) {
    OwnScenario own;
    LiveArea live;
    std::string error;
    ASSERT_TRUE(
        LoadOwnScenario(ScenarioDir() + "/repair/damaged_product_is_removed.reg", &own, &error))
        << error;
    ASSERT_TRUE(live.Seed(own.seed, &error)) << error;

    KeymendProcess first(KeymendProgram(), L"/x");
    HWND main = first.WaitForMainWindow();
    ASSERT_NE(main, nullptr);
    Press(main, kExecute);
    HWND question = first.WaitForMessageBox();
    ASSERT_NE(question, nullptr);
    {
        OtherWindow other;
        ASSERT_NE(GetForegroundWindow(), question);
        StartSecondInstance(first, SW_SHOWNORMAL);
        EXPECT_EQ(GetForegroundWindow(), question);
    }
    Press(question, IDYES);
    const UiTexts& texts = TextsOf(SystemLanguage());
    EXPECT_TRUE(WaitUntil([&] { return ItemCaption(main, kMessage) == texts.completed; }));
    ExpectClosesWithZero(first, main);
    EXPECT_TRUE(live.Remove(&error)) << error;
}

}  // namespace
