// Works the windows of a KEYMEND.EXE that someone else started, for the
// screenshot and demo scripts. Every command waits as long as it must:
//   keymend_remote wait        until the main window is shown and idle;
//                              prints its rectangle: left top width height
//   keymend_remote execute     presses "Execute", waits for the outcome and
//                              prints the message text
//   keymend_remote press-execute   presses "Execute" and returns at once
//   keymend_remote outcome     waits for the outcome and prints it
//   keymend_remote run         presses "Execute", answers every message box
//                              of the run (Yes, or OK), printing each as
//                              [caption] text, then prints the outcome
//   keymend_remote box         until a message box is shown; prints its
//                              rectangle, then its caption and text
//   keymend_remote answer yes|no|ok   presses that button of the box
//   keymend_remote close       presses "Cancel" or "Close" and waits until
//                              the window is gone
// Texts are printed as UTF-8. Exit code 0 on success, 1 when the window
// does not come or does not answer.
#include <windows.h>

#include <string>

#include "keymend_process.h"

namespace {

void Print(const std::wstring& text) {
    std::string utf8(text.size() * 3 + 2, '\0');
    int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                     &utf8[0], static_cast<int>(utf8.size()), nullptr, nullptr);
    utf8.resize(static_cast<std::size_t>(length));
    utf8 += '\n';
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), utf8.data(), static_cast<DWORD>(utf8.size()),
              &written, nullptr);
}

void PrintRectangle(HWND window) {
    RECT rect;
    GetWindowRect(window, &rect);
    Print(std::to_wstring(rect.left) + L" " + std::to_wstring(rect.top) + L" " +
          std::to_wstring(rect.right - rect.left) + L" " + std::to_wstring(rect.bottom - rect.top));
}

void WaitUntilIdle(HWND window) {
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | SYNCHRONIZE, FALSE, id);
    if (process != nullptr) {
        WaitForInputIdle(process, kPatience);
        CloseHandle(process);
    }
}

HWND WaitForShown(const wchar_t* className) {
    HWND window = nullptr;
    WaitUntil([&] {
        window = FindWindowW(className, nullptr);
        return window != nullptr && IsWindowVisible(window);
    });
    if (window != nullptr) {
        WaitUntilIdle(window);
    }
    return window;
}

int Fail(const wchar_t* what) {
    Print(what);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    SetConsoleOutputCP(CP_UTF8);
    std::string command = argc > 1 ? argv[1] : "";
    std::string argument = argc > 2 ? argv[2] : "";

    if (command == "box" || command == "answer") {
        // In the demo prefix every message box is KEYMEND.EXE's.
        HWND box = WaitForShown(L"#32770");
        if (box == nullptr) {
            return Fail(L"no message box");
        }
        if (command == "box") {
            MessageBoxView view = ViewMessageBox(box);
            PrintRectangle(box);
            Print(view.caption);
            Print(view.text);
            return 0;
        }
        int button = argument == "yes" ? IDYES : argument == "no" ? IDNO : IDOK;
        Press(box, button);
        return WaitUntil([&] { return !IsWindow(box); }) ? 0 : Fail(L"the box stays");
    }

    HWND main = WaitForShown(L"KEYMEND");
    if (main == nullptr) {
        return Fail(L"no KEYMEND window");
    }
    if (command == "wait") {
        PrintRectangle(main);
        return 0;
    }
    if (command == "execute" || command == "press-execute") {
        Press(main, kExecute);
    }
    if (command == "press-execute") {
        return 0;
    }
    if (command == "run") {
        Press(main, kExecute);
        for (;;) {
            HWND box = nullptr;
            bool moved = WaitUntil([&] {
                box = FindWindowW(L"#32770", nullptr);
                box = box != nullptr && IsWindowVisible(box) ? box : nullptr;
                return box != nullptr ||
                       (!ItemEnabled(main, kExecute) && ItemEnabled(main, kCancel));
            });
            if (!moved) {
                return Fail(L"no outcome");
            }
            if (box == nullptr) {
                break;
            }
            MessageBoxView view = ViewMessageBox(box);
            Print(L"[" + view.caption + L"] " + view.text);
            Press(box, view.yes ? IDYES : IDOK);
            WaitUntil([&] { return !IsWindow(box); });
        }
        Print(ItemText(main, kMessage));
        return 0;
    }
    if (command == "execute" || command == "outcome") {
        // Afterwards only the second button is enabled.
        bool done =
            WaitUntil([&] { return !ItemEnabled(main, kExecute) && ItemEnabled(main, kCancel); });
        WaitUntilIdle(main);
        Print(ItemText(main, kMessage));
        return done ? 0 : 1;
    }
    if (command == "close") {
        Press(main, kCancel);
        return WaitUntil([&] { return !IsWindow(main); }) ? 0 : Fail(L"the window stays");
    }
    Print(
        L"usage: keymend_remote wait|execute|press-execute|outcome|run|box|answer yes|no|ok|close");
    return 2;
}
