// The window as the user first meets it, and the ways to leave it before a
// run; the language switches on top of the system's language.
#include <gtest/gtest.h>

#include "driver.h"
#include "own_scenario.h"
#include "support/win32_live_area.h"

namespace {

const std::string kDamagedMachine = ScenarioDir() + "/repair/damaged_product_is_removed.reg";

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

void ExpectCentredOnTop(HWND main) {
    RECT screen;
    RECT window;
    GetWindowRect(GetDesktopWindow(), &screen);
    GetWindowRect(main, &window);
    EXPECT_LE(std::abs((window.left + window.right) - screen.right), 2) << "centred across";
    EXPECT_LE(std::abs((window.top + window.bottom) - screen.bottom), 2) << "centred down";
    EXPECT_TRUE(GetWindowLongW(main, GWL_EXSTYLE) & WS_EX_TOPMOST);
}

// The 48 x 48 image of icon 1, from the program's file.
HICON ProgramIcon() {
    static HMODULE image =
        LoadLibraryExW(KeymendProgram().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    static HICON icon = static_cast<HICON>(
        LoadImageW(image, MAKEINTRESOURCEW(1), IMAGE_ICON, 48, 48, LR_DEFAULTCOLOR));
    return icon;
}

// The icon at client (6, 13), 48 x 48 pixels, with nothing else beside it.
bool ShowsItsIcon(HWND main) {
    POINT origin = {0, 0};
    ClientToScreen(main, &origin);
    RECT area = {origin.x, origin.y, origin.x + 60, origin.y + 66};
    return ShowsIcon(area, ProgramIcon(), 6, 13, 48);
}

TEST(Window, OpensReadyCentredAndOnTop) {
    KeymendProcess keymend(KeymendProgram(), L"");
    HWND main = keymend.WaitForMainWindow();
    ASSERT_NE(main, nullptr);
    ExpectReadyWindow(main, TextsOf(SystemLanguage()));
    const std::wstring yearLine =
        std::to_wstring(YearOfLastWrite(KeymendProgram())) + L" DUVA INC.";
    EXPECT_EQ(ItemText(main, kYearLine), yearLine);
    ExpectCentredOnTop(main);
    EXPECT_FALSE(GetWindowLongW(main, GWL_STYLE) & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
    EXPECT_TRUE(ShowsItsIcon(main));

    // The template centres the window once; initialising it again after a
    // move must put it back, on top again.
    ASSERT_TRUE(SetWindowPos(main, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE));
    ASSERT_FALSE(GetWindowLongW(main, GWL_EXSTYLE) & WS_EX_TOPMOST);
    DWORD_PTR result = 1;
    ASSERT_TRUE(
        SendMessageTimeoutW(main, WM_INITDIALOG, 0, 0, SMTO_ABORTIFHUNG, kPatience, &result));
    EXPECT_EQ(result, 0u);
    ExpectCentredOnTop(main);
    ExpectReadyWindow(main, TextsOf(SystemLanguage()));
    EXPECT_EQ(ItemText(main, kYearLine), yearLine);
    ExpectClosesWithZero(keymend, main);
}

// Each load of the icon image costs the process about 25 KB: 300 repaints
// that loaded it every time would add 7 MB.
TEST(Window, LoadsItsIconOnceOverManyRepaints) {
    KeymendProcess keymend(KeymendProgram(), L"");
    HWND main = keymend.WaitForMainWindow();
    ASSERT_NE(main, nullptr);
    ASSERT_TRUE(ShowsItsIcon(main));
    const long long before = keymend.MemoryInUse();
    for (int i = 0; i < 300; ++i) {
        RedrawWindow(main, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    }
    EXPECT_LT(keymend.MemoryInUse() - before, 1 << 20) << "bytes more after 300 repaints";
    EXPECT_TRUE(ShowsItsIcon(main));
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

enum class Effect { Runs, Closes, Nothing };

struct CommandCase {
    WPARAM wParam;  // notification code in the high word, identifier in the low
    Effect effect;
    const char* name;
};

void PrintTo(const CommandCase& command, std::ostream* out) {
    *out << command.name;
}

std::string CommandName(const ::testing::TestParamInfo<CommandCase>& command) {
    return command.param.name;
}

class WindowCommand : public ::testing::TestWithParam<CommandCase> {};

// Only the identifier counts, whatever the notification; every command
// answers 1.
TEST_P(WindowCommand, ActsOnTheIdentifierOnly) {
    const UiTexts& texts = TextsOf(SystemLanguage());
    KeymendProcess keymend(KeymendProgram(), L"");
    HWND main = keymend.WaitForMainWindow();
    ASSERT_NE(main, nullptr);
    DWORD_PTR result = 0;
    ASSERT_TRUE(SendMessageTimeoutW(main, WM_COMMAND, GetParam().wParam, 0, SMTO_ABORTIFHUNG,
                                    kPatience, &result));
    EXPECT_EQ(result, 1u);
    switch (GetParam().effect) {
        case Effect::Runs:
            EXPECT_TRUE(WaitUntil([&] { return ItemCaption(main, kCancel) == texts.close; }))
                << "no run";
            ExpectClosesWithZero(keymend, main);
            break;
        case Effect::Closes: {
            std::optional<DWORD> code = keymend.WaitForExit();
            ASSERT_TRUE(code.has_value()) << "still open";
            EXPECT_EQ(*code, 0u);
            break;
        }
        case Effect::Nothing:
            Sleep(500);
            ASSERT_TRUE(keymend.running());
            ExpectReadyWindow(main, texts);
            ExpectClosesWithZero(keymend, main);
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Commands, WindowCommand,
    ::testing::Values(CommandCase{MAKEWPARAM(IDOK, 1), Effect::Runs, "execute_notification_1"},
                      CommandCase{MAKEWPARAM(IDOK, 0xFFFF), Effect::Runs,
                                  "execute_notification_FFFF"},
                      CommandCase{MAKEWPARAM(IDCANCEL, 5), Effect::Closes, "cancel_notification_5"},
                      CommandCase{MAKEWPARAM(0, 0), Effect::Nothing, "identifier_0"},
                      CommandCase{MAKEWPARAM(3, 0), Effect::Nothing, "identifier_3"},
                      CommandCase{MAKEWPARAM(kMessage, 0), Effect::Nothing, "identifier_103"},
                      CommandCase{MAKEWPARAM(0x0101, 0), Effect::Nothing, "identifier_257"}),
    CommandName);

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
    Language templateLanguage;  // of the buttons and the explanation
    const char* bundled;        // and built: the program, as support/test_paths.h finds it
    const char* built;
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
// the system's language; the title stays the same. Without the Japanese
// template the window falls back to the English one, and only the texts set
// at run time are Japanese.
TEST_P(LanguageSwitch, DecidesEveryText) {
    OwnScenario own;
    std::string error;
    ASSERT_TRUE(LoadOwnScenario(kDamagedMachine, &own, &error)) << error;
    LiveArea live;
    ASSERT_TRUE(live.Seed(own.seed, &error)) << error;

    UiTexts texts = TextsOf(GetParam().language);
    const UiTexts& templateTexts = TextsOf(GetParam().templateLanguage);
    texts.execute = templateTexts.execute;
    texts.cancel = templateTexts.cancel;
    texts.instruction = templateTexts.instruction;
    KeymendProcess keymend(KeymendProgram(GetParam().bundled, GetParam().built),
                           GetParam().arguments);
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

constexpr Language kEnglish = Language::English;
constexpr Language kJapanese = Language::Japanese;

INSTANTIATE_TEST_SUITE_P(
    Switches, LanguageSwitch,
    ::testing::Values(SwitchCase{L"/e", kEnglish, kEnglish, KEYMEND_EXE, "e"},
                      SwitchCase{L"/j", kJapanese, kJapanese, KEYMEND_EXE, "j"},
                      SwitchCase{L"/j /e", kEnglish, kEnglish, KEYMEND_EXE, "j_then_e"},
                      SwitchCase{L"/e/j", kJapanese, kJapanese, KEYMEND_EXE, "e_then_j"},
                      SwitchCase{L"/j", kJapanese, kEnglish, KEYMEND_NO_JAPANESE_TEMPLATE_EXE,
                                 "j_without_japanese_template"}),
    SwitchName);

}  // namespace
