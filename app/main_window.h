#pragma once

#include <windows.h>

// Sent by the window to itself when "Execute" is pressed.
constexpr UINT WM_RUN_REPAIR = WM_USER + 100;

// Name of the main window's class; also what a second instance looks for.
constexpr wchar_t kMainWindowClass[] = L"KEYMEND";

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Registers the class that the dialog templates name. The result is not
// needed: a failure shows up as a window that cannot be created.
void RegisterMainWindowClass();
