// Works the window of a KEYMEND.EXE that someone else started, for the
// screenshot and demo scripts:
//   keymend_remote wait       until the window is shown and idle; prints its
//                             rectangle on the screen: left top width height
//   keymend_remote execute    presses "Execute", waits for the outcome and
//                             prints the message text
//   keymend_remote close      presses "Cancel" or "Close" and waits until
//                             the window is gone
// Texts are printed as UTF-8. Exit code 0 on success, 1 on a timeout.
#include <windows.h>

#include <cstring>
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

HWND FindShownWindow() {
    HWND main = nullptr;
    WaitUntil([&] {
        main = FindWindowW(L"KEYMEND", nullptr);
        return main != nullptr && IsWindowVisible(main);
    });
    if (main != nullptr) {
        DWORD id = 0;
        GetWindowThreadProcessId(main, &id);
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | SYNCHRONIZE, FALSE, id);
        if (process != nullptr) {
            WaitForInputIdle(process, kPatience);
            CloseHandle(process);
        }
    }
    return main;
}

}  // namespace

int main(int argc, char** argv) {
    SetConsoleOutputCP(CP_UTF8);
    const char* command = argc > 1 ? argv[1] : "";
    HWND main = FindShownWindow();
    if (main == nullptr) {
        Print(L"no KEYMEND window");
        return 1;
    }
    if (std::strcmp(command, "wait") == 0) {
        RECT rect;
        GetWindowRect(main, &rect);
        Print(std::to_wstring(rect.left) + L" " + std::to_wstring(rect.top) + L" " +
              std::to_wstring(rect.right - rect.left) + L" " +
              std::to_wstring(rect.bottom - rect.top));
        return 0;
    }
    if (std::strcmp(command, "execute") == 0) {
        Press(main, kExecute);
        // Afterwards only the second button is enabled.
        bool done =
            WaitUntil([&] { return !ItemEnabled(main, kExecute) && ItemEnabled(main, kCancel); });
        Print(ItemText(main, kMessage));
        return done ? 0 : 1;
    }
    if (std::strcmp(command, "close") == 0) {
        Press(main, kCancel);
        return WaitUntil([&] { return !IsWindow(main); }) ? 0 : 1;
    }
    Print(L"usage: keymend_remote wait|execute|close");
    return 2;
}
