// The window as the user first meets it, and the ways to leave it before a
// run; the language switches on top of the system's language.
#include <gtest/gtest.h>

#include "driver.h"
#include "own_scenario.h"
#include "support/win32_live_area.h"

namespace {

const std::string kDamagedMachine = KEYMEND_SCENARIO_DIR "/repair/damaged_product_is_removed.reg";

int YearOfLastWrite(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    FILETIME written;
    FILETIME local;
    SYSTEMTIME date = {};
    if (file != INVALID_HANDLE_VALUE) {
        if (GetFileTime(file, nullptr, nullptr, &written) &&
            FileTimeToLocalFileTime(&written, &local)) {
            FileTimeToSystemTime(&local, &date);
        }
        CloseHandle(file);
    }
    return date.wYear;
}

TEST(Window, OpensReadyCentredAndOnTop) {
    KeymendProcess keymend(KeymendProgram(), L"");
    HWND main = keymend.WaitForMainWindow();
    ASSERT_NE(main, nullptr);
    ExpectReadyWindow(main, TextsOf(SystemLanguage()));
    EXPECT_EQ(ItemText(main, kYearLine),
              std::to_wstring(YearOfLastWrite(KeymendProgram())) + L" DUVA INC.");

    RECT screen;
    RECT window;
    GetWindowRect(GetDesktopWindow(), &screen);
    GetWindowRect(main, &window);
    EXPECT_LE(std::abs((window.left + window.right) - screen.right), 2) << "centred across";
    EXPECT_LE(std::abs((window.top + window.bottom) - screen.bottom), 2) << "centred down";
    EXPECT_TRUE(GetWindowLongW(main, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_FALSE(GetWindowLongW(main, GWL_STYLE) & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
    ExpectClosesWithZero(keymend, main);
}

// Enter must not run the repair and Escape must not close the window: the
// program does no dialog keyboard handling.
TEST(Window, EnterAndEscapeDoNothing) {
    KeymendProcess keymend(KeymendProgram(), L"");
    HWND main = keymend.WaitForMainWindow();
    ASSERT_NE(main, nullptr);
    GUITHREADINFO thread = {};
    thread.cbSize = sizeof thread;
    ASSERT_TRUE(GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &thread));
    HWND focus = thread.hwndFocus != nullptr ? thread.hwndFocus : main;
    for (WPARAM key : {VK_RETURN, VK_ESCAPE}) {
        PostMessageW(focus, WM_KEYDOWN, key, 1);
        PostMessageW(focus, WM_CHAR, key == VK_RETURN ? L'\r' : 0x1B, 1);
        PostMessageW(focus, WM_KEYUP, key, 0xC0000001);
    }
    Sleep(500);
    ASSERT_TRUE(keymend.running());
    ExpectReadyWindow(main, TextsOf(SystemLanguage()));
    ExpectClosesWithZero(keymend, main);
}

class LeavingBeforeARun : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(LoadOwnScenario(kDamagedMachine, &own_, &error)) << error;
        ASSERT_TRUE(live_.Seed(own_.seed, &error)) << error;
    }
    void ExpectRegistryUntouched() {
        MemoryRegistry after;
        std::string error;
        ASSERT_TRUE(live_.ReadBack(after, nullptr, &error)) << error;
        EXPECT_EQ(live_.Text(after), live_.Text(own_.seed));
    }
    void TearDown() override {
        std::string error;
        EXPECT_TRUE(live_.Remove(&error)) << error;
    }

    OwnScenario own_;
    LiveArea live_;
};

TEST_F(LeavingBeforeARun, CancelLeavesTheRegistryAlone) {
    KeymendProcess keymend(KeymendProgram(), L"");
    HWND main = keymend.WaitForMainWindow();
    ASSERT_NE(main, nullptr);
    ExpectClosesWithZero(keymend, main);
    ExpectRegistryUntouched();
}

TEST_F(LeavingBeforeARun, CloseBoxLeavesTheRegistryAlone) {
    KeymendProcess keymend(KeymendProgram(), L"");
    HWND main = keymend.WaitForMainWindow();
    ASSERT_NE(main, nullptr);
    PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
    std::optional<DWORD> code = keymend.WaitForExit();
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 0u);
    ExpectRegistryUntouched();
}

struct SwitchCase {
    const wchar_t* arguments;
    Language language;
    const char* name;
};

void PrintTo(const SwitchCase& switchCase, std::ostream* out) {
    *out << switchCase.name;
}

std::string SwitchName(const ::testing::TestParamInfo<SwitchCase>& switchCase) {
    return switchCase.param.name;
}

class LanguageSwitch : public ::testing::TestWithParam<SwitchCase> {};

// The switch decides the template and every text set at run time, whatever
// the system's language; the title stays the same.
TEST_P(LanguageSwitch, DecidesEveryText) {
    OwnScenario own;
    std::string error;
    ASSERT_TRUE(LoadOwnScenario(kDamagedMachine, &own, &error)) << error;
    LiveArea live;
    ASSERT_TRUE(live.Seed(own.seed, &error)) << error;

    const UiTexts& texts = TextsOf(GetParam().language);
    KeymendProcess keymend(KeymendProgram(), GetParam().arguments);
    HWND main = keymend.WaitForMainWindow();
    ASSERT_NE(main, nullptr);
    ExpectReadyWindow(main, texts);
    std::vector<RecordedReport> boxes;
    ASSERT_TRUE(ExecuteAndAnswer(keymend, main, texts, {}, &boxes));
    EXPECT_TRUE(boxes.empty());
    ExpectDoneWindow(main, texts, texts.completed);
    ExpectClosesWithZero(keymend, main);

    MemoryRegistry after;
    ASSERT_TRUE(live.ReadBack(after, nullptr, &error)) << error;
    EXPECT_EQ(live.Text(after), live.Text(own.expected));
    EXPECT_TRUE(live.Remove(&error)) << error;
}

INSTANTIATE_TEST_SUITE_P(Switches, LanguageSwitch,
                         ::testing::Values(SwitchCase{L"/e", Language::English, "e"},
                                           SwitchCase{L"/j", Language::Japanese, "j"},
                                           SwitchCase{L"/j /e", Language::English, "j_then_e"},
                                           SwitchCase{L"/e/j", Language::Japanese, "e_then_j"}),
                         SwitchName);

}  // namespace
