// The engine's diagnostic reports as message boxes owned by the main window.
#include <windows.h>

#include "app_state.h"
#include "diagnostics.h"

namespace {

// Report texts carry registry names in the system's ANSI code page.
struct WideText {
    explicit WideText(const char* text) {
        if (MultiByteToWideChar(CP_ACP, 0, text, -1, buffer, kCapacity) == 0) {
            buffer[kCapacity - 1] = L'\0';
        }
    }
    static constexpr int kCapacity = 1024;
    wchar_t buffer[kCapacity] = {};
};

}  // namespace

void ShowReportBox(const char* text, const char* caption) {
    MessageBoxW(hMainWnd, WideText(text).buffer, WideText(caption).buffer, MB_OK);
}

bool AskYesNoBox(const char* text, const char* caption) {
    return MessageBoxW(hMainWnd, WideText(text).buffer, WideText(caption).buffer, MB_YESNO) ==
           IDYES;
}
