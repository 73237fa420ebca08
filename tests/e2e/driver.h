// Shared by the end-to-end tests: where KEYMEND.EXE is, and a repair run
// driven through the window the way a user drives it.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "expected_texts.h"
#include "keymend_process.h"
#include "support/recording_reporter.h"
#include "support/utf8.h"

// The KEYMEND.EXE of this build, or one of its test builds (its name in the
// self-test bundle and its path in the tree, support/test_paths.h), as a
// Windows path.
std::wstring KeymendProgram(const char* bundled, const char* built);
std::wstring KeymendProgram();

std::wstring Widen(const std::string& utf8);

// Checks the window of a process that has just started: title, labels,
// explanation and both buttons enabled.
void ExpectReadyWindow(HWND main, const UiTexts& texts);

// Presses "Execute" and waits for the outcome. Every message box raised on
// the way is recorded and answered: a question from answers in order (No
// once they run out), anything else with OK. While a box is up both buttons
// must be disabled and the explanation unchanged. False when the outcome
// did not appear.
bool ExecuteAndAnswer(const KeymendProcess& process, HWND main, const UiTexts& texts,
                      std::deque<bool> answers, std::vector<RecordedReport>* boxes);

// Checks the window after a run: the outcome text, "Close" the only
// enabled button.
void ExpectDoneWindow(HWND main, const UiTexts& texts, const std::wstring& outcome);

// Presses button (Cancel or Close) and expects the process to end with 0.
void ExpectClosesWithZero(const KeymendProcess& process, HWND main);
