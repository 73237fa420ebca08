// A KEYMEND.EXE process started the way the shell starts it, and seen from
// outside the way a user sees it: its window, its message boxes, its exit
// code. Everything reaches the other process through the window manager.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

// Long enough for the first start in a cold Wine prefix.
constexpr DWORD kPatience = 30000;

class KeymendProcess {
  public:
    // arguments follow the quoted program path on the command line;
    // showState reaches WinMain as nCmdShow. A suspended process waits for
    // Resume before its first instruction.
    KeymendProcess(const std::wstring& program, const std::wstring& arguments,
                   int showState = SW_SHOWNORMAL, bool suspended = false);
    // Ends a process that is still running, so that a failed test does not
    // leave a window behind for the next one to find.
    ~KeymendProcess();
    KeymendProcess(const KeymendProcess&) = delete;
    KeymendProcess& operator=(const KeymendProcess&) = delete;

    bool started() const { return info_.hProcess != nullptr; }
    DWORD id() const { return info_.dwProcessId; }
    bool running() const;
    void Resume() const { ResumeThread(info_.hThread); }

    // The visible top-level window of class "KEYMEND" that this process
    // owns; null when the process ends or time runs out first.
    HWND WaitForMainWindow(DWORD timeoutMs = kPatience) const;
    // Top-level dialog-class windows of this process that are visible:
    // message boxes, as the process owns no other dialog.
    std::vector<HWND> MessageBoxes() const;
    HWND WaitForMessageBox(DWORD timeoutMs = kPatience) const;
    // Bytes of memory the process has committed.
    long long MemoryInUse() const;
    // The exit code once the process has ended.
    std::optional<DWORD> WaitForExit(DWORD timeoutMs = kPatience) const;

  private:
    PROCESS_INFORMATION info_ = {};
};

// Polls condition every 20 ms until it holds or timeoutMs has passed.
template <typename Condition>
bool WaitUntil(Condition condition, DWORD timeoutMs = kPatience) {
    DWORD start = GetTickCount();
    for (;;) {
        if (condition()) {
            return true;
        }
        if (GetTickCount() - start > timeoutMs) {
            return false;
        }
        Sleep(20);
    }
}

std::wstring WindowText(HWND window);
// The control's text as it answers WM_GETTEXT: sent, so the process must
// be able to answer.
std::wstring ItemText(HWND dialog, int id);
// The same as the window manager keeps it: never waits for the process.
std::wstring ItemCaption(HWND dialog, int id);
bool ItemEnabled(HWND dialog, int id);
// The texts of every control of window, in creation order.
std::vector<std::wstring> ControlTexts(HWND window);
// A click as the user makes it: posted, never sent, since the target may be
// busy in a modal loop or in the repair itself.
void Press(HWND dialog, int id);

struct MessageBoxView {
    std::wstring caption;
    std::wstring text;
    HWND owner = nullptr;
    bool ok = false;
    bool yes = false;
    bool no = false;
    bool icon = false;
};
MessageBoxView ViewMessageBox(HWND box);

// What the screen shows in area (screen coordinates): 0x00RRGGBB, row by
// row from the top.
using Pixels = std::vector<unsigned>;
Pixels ScreenPixels(const RECT& area);
// The same area drawn here: filled with background, then icon drawn at
// (x, y) at size x size pixels (0: the icon's own size).
Pixels DrawnIcon(const RECT& area, unsigned background, HICON icon, int x, int y, int size);
// Whether area shows exactly icon at (x, y) on the background that its top
// left pixel has, polled until the window has painted or timeoutMs passed.
bool ShowsIcon(const RECT& area, HICON icon, int x, int y, int size, DWORD timeoutMs = 5000);
// Whether the box shows the system icon iconId (IDI_ERROR, ...).
bool ShowsSystemIcon(HWND box, LPCWSTR iconId);

// The keys of the shell's controls and messages that a test names.
constexpr int kExecute = IDOK;
constexpr int kCancel = IDCANCEL;
constexpr int kYearLine = 101;
constexpr int kMessage = 103;
