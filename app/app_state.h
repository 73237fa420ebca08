// Process-wide state of the application: written during start-up, only read
// afterwards. Diagnostic mode is the engine's (diagnostics.h).
#pragma once

#include <windows.h>

#include <cstdint>

extern HINSTANCE hAppInstance;
// Major version in the high byte, minor in the low: 6.1 is 0x0601.
extern std::uint16_t SystemVersion;
// A Windows primary language code; only LANGUAGE_JAPANESE selects Japanese.
extern std::uint16_t UiLanguage;
// Year the executable was last written, in local time; 0 when unknown.
extern std::uint16_t BuildYear;
// Owner of every message box after start-up; keeps its value once set.
extern HWND hMainWnd;
