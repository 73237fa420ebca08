#include "main_window.h"

#include "app_state.h"
#include "resource_ids.h"
#include "run_repair.h"
#include "texts.h"

namespace {

// Kept for the life of the process: the centre is computed once, and the
// icon image is loaded by the first paint only.
POINT ScreenCentre = {0, 0};
HICON IconImage = nullptr;

const wchar_t* Text(TextKey key) {
    return LocalizedText(key, UiLanguage);
}

void Initialize(HWND window) {
    SetWindowTextW(window, Text(TXT_TITLE));
    if (ScreenCentre.x == 0 && ScreenCentre.y == 0) {
        RECT desktop;
        GetWindowRect(GetDesktopWindow(), &desktop);
        ScreenCentre = {desktop.right / 2, desktop.bottom / 2};
    }
    RECT own;
    GetWindowRect(window, &own);
    SetWindowPos(window, HWND_TOPMOST, ScreenCentre.x - (own.right - own.left) / 2,
                 ScreenCentre.y - (own.bottom - own.top) / 2, 0, 0, SWP_NOSIZE);
    wchar_t yearLine[128];
    wsprintfW(yearLine, Text(TXT_MAKER_LINE), static_cast<int>(BuildYear));
    SetDlgItemTextW(window, IDC_YEAR_LINE, yearLine);
}

void Paint(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT corner;
    GetClientRect(window, &corner);
    OffsetRect(&corner, 6, 13);
    if (IconImage == nullptr) {
        IconImage = static_cast<HICON>(
            LoadImageW(hAppInstance, MAKEINTRESOURCEW(1), IMAGE_ICON, 48, 48, LR_DEFAULTCOLOR));
    }
    if (IconImage != nullptr) {
        DrawIconEx(dc, corner.left, corner.top, IconImage, 48, 48, 0, nullptr, DI_NORMAL);
    }
    EndPaint(window, &paint);
}

TextKey OutcomeText(RepairOutcome outcome) {
    switch (outcome) {
        case RepairOutcome::Removed:
            return TXT_COMPLETED;
        case RepairOutcome::NotRemoved:
            return TXT_NOT_REMOVED;
        case RepairOutcome::NotFound:
            break;
    }
    return TXT_NOT_FOUND;
}

void RunRepairOnce(HWND window) {
    EnableWindow(GetDlgItem(window, IDOK), FALSE);
    EnableWindow(GetDlgItem(window, IDCANCEL), FALSE);
    RepairOutcome outcome = RunRepair();
    SetDlgItemTextW(window, IDC_MESSAGE, Text(OutcomeText(outcome)));
    SetDlgItemTextW(window, IDCANCEL, Text(TXT_CLOSE));
    EnableWindow(GetDlgItem(window, IDCANCEL), TRUE);
    // The repair runs at most once in the life of the process.
    EnableWindow(GetDlgItem(window, IDOK), FALSE);
}

}  // namespace

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_DESTROY:
        case WM_QUIT:
            PostQuitMessage(0);
            return 0;
        case WM_PAINT:
            Paint(window);
            return 0;
        case WM_CLOSE:
            DestroyWindow(window);
            return 0;
        case WM_INITDIALOG:
            Initialize(window);
            return 0;
        case WM_COMMAND:
            // Only the control id counts, whatever the notification.
            if (LOWORD(wParam) == IDOK) {
                PostMessageW(window, WM_RUN_REPAIR, 0, 0);
            } else if (LOWORD(wParam) == IDCANCEL) {
                SendMessageW(window, WM_CLOSE, 0, 0);
            }
            return 1;
        case WM_RUN_REPAIR:
            RunRepairOnce(window);
            return 1;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

void RegisterMainWindowClass() {
    WNDCLASSW windowClass = {};
    windowClass.style = 0;
    windowClass.lpfnWndProc = MainWndProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = DLGWINDOWEXTRA;
    windowClass.hInstance = hAppInstance;
    windowClass.hIcon = LoadIconW(hAppInstance, MAKEINTRESOURCEW(1));
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = kMainWindowClass;
    RegisterClassW(&windowClass);
}
