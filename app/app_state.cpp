#include "app_state.h"

HINSTANCE hAppInstance = nullptr;
std::uint16_t SystemVersion = 0;
std::uint16_t UiLanguage = 0;
std::uint16_t BuildYear = 0;
HWND hMainWnd = nullptr;
