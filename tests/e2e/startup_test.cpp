// The checks of start-up as the user meets them: the refusal boxes, their
// language and the exit codes; the year line taken from the file; and no DLL
// loaded from the program's own folder.
#include <gtest/gtest.h>

#include <optional>

#include "driver.h"
#include "own_scenario.h"
#include "support/planted_dlls.h"
#include "support/win32_live_area.h"
#include "system_state.h"

namespace {

struct StartCase {
    const wchar_t* arguments;
    std::optional<Language> language;  // none: the system's
    const char* name;
};

void PrintTo(const StartCase& startCase, std::ostream* out) {
    *out << startCase.name;
}

std::string CaseName(const ::testing::TestParamInfo<StartCase>& startCase) {
    return startCase.param.name;
}

// The one box of start-up, owned by the desktop, OK only, showing exactly
// the system icon iconId or, when null, none. Answers it.
void ExpectStartUpBox(const KeymendProcess& keymend, const std::wstring& caption,
                      const std::wstring& text, LPCWSTR iconId) {
    HWND box = keymend.WaitForMessageBox();
    ASSERT_NE(box, nullptr) << "no box";
    MessageBoxView view = ViewMessageBox(box);
    EXPECT_EQ(view.caption, caption);
    EXPECT_EQ(view.text, text);
    EXPECT_TRUE(view.owner == nullptr || view.owner == GetDesktopWindow());
    EXPECT_EQ(view.icon, iconId != nullptr);
    if (iconId != nullptr) {
        EXPECT_TRUE(ShowsSystemIcon(box, iconId)) << "not the system icon asked for";
    }
    EXPECT_TRUE(view.ok);
    EXPECT_FALSE(view.yes || view.no);
    EXPECT_EQ(keymend.MessageBoxes().size(), 1u);
    Press(box, IDOK);
}

// A refusal: the title as caption and the error icon.
void ExpectRefusal(const KeymendProcess& keymend, const std::wstring& text) {
    ExpectStartUpBox(keymend, kTitle, text, MAKEINTRESOURCEW(32513));  // IDI_ERROR
}

// The process ends with code and has never shown its window.
void ExpectEndsWithoutWindow(const KeymendProcess& keymend, DWORD expected) {
    std::optional<DWORD> code = keymend.WaitForExit();
    ASSERT_TRUE(code.has_value()) << "still running";
    EXPECT_EQ(*code, expected);
    EXPECT_EQ(keymend.WaitForMainWindow(0), nullptr);
}

class OlderWindows : public ::testing::TestWithParam<StartCase> {};

TEST_P(OlderWindows, IsRefusedWithExitCode1) {
    ReportedAsWindowsVista vista(KeymendProgram());
    ASSERT_TRUE(vista.active());
    const UiTexts& texts = TextsOf(GetParam().language.value_or(SystemLanguage()));
    KeymendProcess keymend(KeymendProgram(), GetParam().arguments);
    ExpectRefusal(keymend, texts.windows7Only);
    ExpectEndsWithoutWindow(keymend, 1);
}

INSTANTIATE_TEST_SUITE_P(Switches, OlderWindows,
                         ::testing::Values(StartCase{L"", std::nullopt, "no_switch"},
                                           StartCase{L"/e", Language::English, "e"},
                                           StartCase{L"/j", Language::Japanese, "j"}),
                         CaseName);

// Diagnostic mode goes on past the version refusal and skips the rights
// test: the window opens although the driver list is not writable.
TEST(OlderWindowsInDiagnosticMode, OpensTheWindowWithoutTheRightsTest) {
    ReportedAsWindowsVista vista(KeymendProgram());
    DriverListReadOnly readOnly;
    ASSERT_TRUE(vista.active() && readOnly.active());
    const UiTexts& texts = TextsOf(SystemLanguage());
    KeymendProcess keymend(KeymendProgram(), L"/x");
    ExpectRefusal(keymend, texts.windows7Only);
    HWND main = keymend.WaitForMainWindow();
    ASSERT_NE(main, nullptr);
    ExpectReadyWindow(main, texts);
    ExpectClosesWithZero(keymend, main);
}

class WithoutAdministratorRights : public ::testing::TestWithParam<StartCase> {};

TEST_P(WithoutAdministratorRights, IsRefusedWithExitCode2) {
    const std::string security = DriverListSecurity();
    std::optional<DWORD> code;
    {
        DriverListReadOnly readOnly;
        ASSERT_TRUE(readOnly.active());
        ASSERT_FALSE(DriverListWritable());
        const UiTexts& texts = TextsOf(GetParam().language.value_or(SystemLanguage()));
        KeymendProcess keymend(KeymendProgram(), GetParam().arguments);
        ExpectRefusal(keymend, texts.needAdministrator);
        code = keymend.WaitForExit();
        EXPECT_EQ(keymend.WaitForMainWindow(0), nullptr);
    }
    EXPECT_TRUE(DriverListWritable()) << "the driver list key was not given back";
    EXPECT_EQ(DriverListSecurity(), security);
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 2u);
}

INSTANTIATE_TEST_SUITE_P(Switches, WithoutAdministratorRights,
                         ::testing::Values(StartCase{L"", std::nullopt, "no_switch"},
                                           StartCase{L"/x", std::nullopt, "x"},
                                           StartCase{L"/e", Language::English, "e"},
                                           StartCase{L"/j", Language::Japanese, "j"}),
                         CaseName);

// A build without dialog templates cannot make its window: one box, in
// English in every language, with no icon; exit code 1.
class WithoutTemplates : public ::testing::TestWithParam<StartCase> {};

TEST_P(WithoutTemplates, ReportsTheMissingWindowWithExitCode1) {
    KeymendProcess keymend(KeymendProgram(KEYMEND_NO_TEMPLATES_EXE), GetParam().arguments);
    ExpectStartUpBox(keymend, L"Error", L"hMainWnd = 0", nullptr);
    ExpectEndsWithoutWindow(keymend, 1);
}

INSTANTIATE_TEST_SUITE_P(Switches, WithoutTemplates,
                         ::testing::Values(StartCase{L"", std::nullopt, "no_switch"},
                                           StartCase{L"/j", Language::Japanese, "j"}),
                         CaseName);

// A copy of KEYMEND.EXE with a chosen last-write time, removed afterwards.
class CopiedProgram {
  public:
    explicit CopiedProgram(const std::wstring& directory, const std::wstring& name = L"KEYMEND.EXE")
        : directory_(directory) {
        CreateDirectoryW(directory_.c_str(), nullptr);
        path_ = directory_ + L"\\" + name;
        copied_ = CopyFileW(KeymendProgram().c_str(), path_.c_str(), FALSE) != 0;
    }
    ~CopiedProgram() {
        DeleteFileW(path_.c_str());
        DeleteFileW(moved().c_str());
        RemoveDirectoryW(directory_.c_str());
    }
    // Where the copy goes while it runs: a running program may be renamed.
    std::wstring moved() const { return path_ + L".moved"; }
    bool SetLastWrite(const SYSTEMTIME& utc) {
        FILETIME time;
        HANDLE file = CreateFileW(path_.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                  0, nullptr);
        bool set = copied_ && file != INVALID_HANDLE_VALUE && SystemTimeToFileTime(&utc, &time) &&
                   SetFileTime(file, nullptr, nullptr, &time);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
        }
        return set;
    }
    const std::wstring& path() const { return path_; }

  private:
    std::wstring directory_;
    std::wstring path_;
    bool copied_ = false;
};

std::wstring TemporaryDirectory(const wchar_t* name) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + name;
}

// The window opens with expected as its year line; then it is closed.
::testing::AssertionResult YearLineIs(const KeymendProcess& keymend, const std::wstring& expected) {
    HWND main = keymend.WaitForMainWindow();
    if (main == nullptr) {
        return ::testing::AssertionFailure() << "no window";
    }
    std::wstring shown = ItemText(main, kYearLine);
    ExpectClosesWithZero(keymend, main);
    if (shown != expected) {
        return ::testing::AssertionFailure() << "the year line reads " << Utf8(shown);
    }
    return ::testing::AssertionSuccess();
}

// Mid-year, so that no time zone moves it into another year.
TEST(BuildYear, IsTheYearOfTheFilesLastWrite) {
    CopiedProgram copy(TemporaryDirectory(L"keymend-e2e-year"));
    SYSTEMTIME midsummer2010 = {2010, 7, 0, 1, 12, 0, 0, 0};
    ASSERT_TRUE(copy.SetLastWrite(midsummer2010));
    KeymendProcess keymend(copy.path(), L"");
    EXPECT_TRUE(YearLineIs(keymend, L"2010 DUVA INC."));
}

// A program whose file is gone from its path by the time it looks shows the
// year 0.
TEST(BuildYear, IsZeroWhenTheFileCannotBeOpened) {
    CopiedProgram copy(TemporaryDirectory(L"keymend-e2e-no-year"));
    KeymendProcess keymend(copy.path(), L"", SW_SHOWNORMAL, true);
    ASSERT_TRUE(keymend.started());
    ASSERT_TRUE(MoveFileW(copy.path().c_str(), copy.moved().c_str()));
    keymend.Resume();
    EXPECT_TRUE(YearLineIs(keymend, L"0 DUVA INC."));
}

// A path longer than the program's 255 characters is cut, and the cut path
// is what is opened: here it names another file, with another year.
TEST(BuildYear, IsTheYearOfTheCutPathWhenThePathIsTooLong) {
    const std::wstring directory = TemporaryDirectory(L"keymend-e2e-long-path");
    const std::wstring cutName(255 - directory.size() - 1, L'k');
    CopiedProgram copy(directory, cutName + L".EXE");
    CopiedProgram cut(directory, cutName);
    ASSERT_EQ(cut.path().size(), 255u);
    SYSTEMTIME midsummer2010 = {2010, 7, 0, 1, 12, 0, 0, 0};
    ASSERT_TRUE(cut.SetLastWrite(midsummer2010));
    KeymendProcess keymend(copy.path(), L"");
    EXPECT_TRUE(YearLineIs(keymend, L"2010 DUVA INC."));
}

// Local time decides: four hours before the new year in UTC is already the
// next year east of UTC+4 (the Japanese system runs with TZ=Asia/Tokyo).
TEST(BuildYear, IsCountedInLocalTime) {
    CopiedProgram copy(TemporaryDirectory(L"keymend-e2e-local-year"));
    SYSTEMTIME newYearsEve2010 = {2010, 12, 0, 31, 20, 0, 0, 0};
    ASSERT_TRUE(copy.SetLastWrite(newYearsEve2010));
    TIME_ZONE_INFORMATION zone;
    GetTimeZoneInformation(&zone);
    const wchar_t* expected = zone.Bias <= -240 ? L"2011 DUVA INC." : L"2010 DUVA INC.";
    KeymendProcess keymend(copy.path(), L"");
    EXPECT_TRUE(YearLineIs(keymend, expected)) << "UTC offset " << -zone.Bias << " minutes";
}

// Run from a folder where DLLs were planted under the names Windows looks for
// there first, as a web page can plant them in Downloads: a whole repair,
// from start to Close, loads none of them.
TEST(PlantedDlls, NoneIsLoadedFromTheProgramsFolder) {
    OwnScenario own;
    std::string error;
    ASSERT_TRUE(
        LoadOwnScenario(ScenarioDir() + "/repair/damaged_product_is_removed.reg", &own, &error))
        << error;
    LiveArea live;
    ASSERT_TRUE(live.Seed(own.seed, &error)) << error;
    PlantedDlls planted(TemporaryDirectory(L"keymend-e2e-planted"), KeymendProgram());
    ASSERT_EQ(planted.error(), "");

    const UiTexts& texts = TextsOf(SystemLanguage());
    KeymendProcess keymend(planted.program(), L"");
    HWND main = keymend.WaitForMainWindow();
    ASSERT_NE(main, nullptr) << "no window";
    // The window's visual styles have loaded by now: a planted DLL would
    // make the run below fail in ways that say less.
    ASSERT_EQ(planted.Loaded(), std::vector<std::string>());
    std::vector<RecordedReport> boxes;
    ASSERT_TRUE(ExecuteAndAnswer(keymend, main, texts, {}, &boxes));
    ExpectDoneWindow(main, texts, texts.completed);
    ExpectClosesWithZero(keymend, main);
    EXPECT_EQ(planted.Loaded(), std::vector<std::string>());
    EXPECT_TRUE(live.Remove(&error)) << error;
}

}  // namespace
