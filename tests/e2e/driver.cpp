#include "driver.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/test_paths.h"

std::wstring KeymendProgram(const char* bundled, const char* built) {
    return TestPathW(bundled, built);
}

std::wstring KeymendProgram() {
    return KeymendProgram(KEYMEND_EXE);
}

std::wstring Widen(const std::string& utf8) {
    std::wstring wide(utf8.size() + 1, L'\0');
    int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                     &wide[0], static_cast<int>(wide.size()));
    wide.resize(static_cast<std::size_t>(length));
    return wide;
}

void ExpectReadyWindow(HWND main, const UiTexts& texts) {
    EXPECT_EQ(WindowText(main), kTitle);
    EXPECT_EQ(ItemText(main, kExecute), texts.execute);
    EXPECT_EQ(ItemText(main, kCancel), texts.cancel);
    EXPECT_EQ(ItemText(main, kMessage), texts.instruction);
    EXPECT_TRUE(ItemEnabled(main, kExecute));
    EXPECT_TRUE(ItemEnabled(main, kCancel));
    // The template's one character outside ASCII, in both languages.
    std::vector<std::wstring> controls = ControlTexts(main);
    EXPECT_EQ(std::count(controls.begin(), controls.end(), L"\u00A9"), 1) << "the sign ©";
}

bool ExecuteAndAnswer(const KeymendProcess& process, HWND main, const UiTexts& texts,
                      std::deque<bool> answers, std::vector<RecordedReport>* boxes) {
    Press(main, kExecute);
    auto done = [&] {
        return ItemEnabled(main, kCancel) && ItemCaption(main, kCancel) == texts.close;
    };
    for (;;) {
        HWND box = nullptr;
        bool finished = WaitUntil([&] {
            std::vector<HWND> open = process.MessageBoxes();
            box = open.empty() ? nullptr : open.front();
            return box != nullptr || done() || !process.running();
        });
        if (!finished || !process.running()) {
            ADD_FAILURE() << "no outcome: the run " << (finished ? "ended the process" : "hangs");
            return false;
        }
        if (box == nullptr) {
            return process.MessageBoxes().empty();
        }
        MessageBoxView view = ViewMessageBox(box);
        RecordedReport report{Utf8(view.caption), Utf8(view.text), view.yes};
        SCOPED_TRACE(report.caption + " | " + report.text);
        EXPECT_EQ(view.owner, main) << "every box of the run is owned by the main window";
        EXPECT_FALSE(ItemEnabled(main, kExecute)) << "Execute during the run";
        EXPECT_FALSE(ItemEnabled(main, kCancel)) << "Cancel during the run";
        EXPECT_EQ(ItemText(main, kMessage), texts.instruction) << "explanation during the run";
        EXPECT_FALSE(view.icon) << "diagnostic boxes carry no icon";
        int answer = IDOK;
        if (view.yes) {
            EXPECT_TRUE(view.no) << "a question offers Yes and No";
            EXPECT_FALSE(view.ok);
            bool yes = !answers.empty() && answers.front();
            if (!answers.empty()) {
                answers.pop_front();
            }
            answer = yes ? IDYES : IDNO;
        } else {
            EXPECT_TRUE(view.ok) << "a report offers OK";
            EXPECT_FALSE(view.no);
        }
        boxes->push_back(report);
        Press(box, answer);
        if (!WaitUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); })) {
            ADD_FAILURE() << "the box does not go away";
            return false;
        }
    }
}

void ExpectDoneWindow(HWND main, const UiTexts& texts, const std::wstring& outcome) {
    EXPECT_EQ(WindowText(main), kTitle);
    EXPECT_EQ(ItemText(main, kMessage), outcome);
    EXPECT_EQ(ItemText(main, kCancel), texts.close);
    EXPECT_TRUE(ItemEnabled(main, kCancel));
    EXPECT_FALSE(ItemEnabled(main, kExecute));
    EXPECT_EQ(ItemText(main, kExecute), texts.execute);
}

void ExpectClosesWithZero(const KeymendProcess& process, HWND main) {
    Press(main, kCancel);
    std::optional<DWORD> code = process.WaitForExit();
    ASSERT_TRUE(code.has_value()) << "the process does not end";
    EXPECT_EQ(*code, 0u);
}
