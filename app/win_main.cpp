// Start-up: one instance, the system and the rights checked, the window
// built, the message loop run. The exit code tells how the run ended.
#include <windows.h>

#include "app_state.h"
#include "build_year.h"
#include "command_line.h"
#include "create_localized_dialog.h"
#include "diagnostics.h"
#include "main_window.h"
#include "may_write_driver_list.h"
#include "resource_ids.h"
#include "restrict_dll_search.h"
#include "system_version.h"
#include "texts.h"

namespace {

// Brings the running instance forward; true when there was one.
bool GiveWayToRunningInstance(int showState) {
    HWND running = FindWindowW(kMainWindowClass, nullptr);
    if (running == nullptr) {
        return false;
    }
    HWND popup = GetLastActivePopup(running);
    SetForegroundWindow(popup);
    if (showState != SW_SHOWMINIMIZED && showState != SW_SHOWMINNOACTIVE && IsIconic(popup)) {
        SendMessageW(popup, WM_SYSCOMMAND, SC_RESTORE, 0);
    }
    return true;
}

std::uint16_t ReadSystemVersion() {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExA(&version);
#pragma GCC diagnostic pop
    return PackSystemVersion(version.dwMajorVersion, version.dwMinorVersion);
}

void Refuse(TextKey text) {
    MessageBoxW(GetDesktopWindow(), LocalizedText(text, UiLanguage),
                LocalizedText(TXT_TITLE, UiLanguage), MB_OK | MB_ICONERROR);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showState) {
    RestrictDllSearchToSystem32();
    if (GiveWayToRunningInstance(showState)) {
        return 0;
    }
    hAppInstance = instance;
    SystemVersion = ReadSystemVersion();
    UiLanguage = static_cast<std::uint16_t>(GetSystemDefaultLangID() & 0x3FF);
    ScanCommandLine(commandLine, &UiLanguage, &DiagnosticMode);

    if (!SystemVersionAccepted(SystemVersion)) {
        Refuse(TXT_WIN7_ONLY);
        if (!DiagnosticMode) {
            return 1;
        }
    } else if (!MayWriteDriverList()) {
        Refuse(TXT_NEED_ADMIN);
        return 2;
    }

    BuildYear = ReadBuildYear();
    RegisterMainWindowClass();
    hMainWnd = CreateLocalizedDialog(IDD_MAIN, nullptr, nullptr);
    if (hMainWnd == nullptr) {
        MessageBoxW(GetDesktopWindow(), LocalizedText(TXT_NO_WINDOW, UiLanguage),
                    LocalizedText(TXT_ERROR, UiLanguage), MB_OK);
        return 1;
    }
    SendMessageW(hMainWnd, WM_INITDIALOG, 0, 0);
    ShowWindow(hMainWnd, showState);

    // No dialog navigation: Enter and Escape are not turned into commands.
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
