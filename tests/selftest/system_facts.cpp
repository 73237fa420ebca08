#include "system_facts.h"

#include <cstdio>

#include "support/utf8.h"

namespace {

const wchar_t kCurrentVersion[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

std::string ReadText(const wchar_t* name) {
    wchar_t text[256];
    DWORD bytes = sizeof text;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kCurrentVersion, name, RRF_RT_REG_SZ, nullptr, text,
                     &bytes) != ERROR_SUCCESS) {
        return "";
    }
    return Utf8(text);
}

DWORD ReadNumber(const wchar_t* name) {
    DWORD number = 0;
    DWORD bytes = sizeof number;
    RegGetValueW(HKEY_LOCAL_MACHINE, kCurrentVersion, name, RRF_RT_REG_DWORD, nullptr, &number,
                 &bytes);
    return number;
}

std::string WindowsVersion() {
    RTL_OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    using RtlGetVersionCall = LONG(WINAPI*)(RTL_OSVERSIONINFOW*);
    auto rtlGetVersion = reinterpret_cast<RtlGetVersionCall>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    if (rtlGetVersion != nullptr) {
        rtlGetVersion(&version);
    }
    std::string text = ReadText(L"ProductName");
    for (const wchar_t* part : {L"DisplayVersion", L"CSDVersion"}) {
        std::string extra = ReadText(part);
        if (!extra.empty()) {
            text += " " + extra;
        }
    }
    char numbers[96];
    std::snprintf(numbers, sizeof numbers, ", %lu.%lu.%lu.%lu (64-bit)",
                  static_cast<unsigned long>(version.dwMajorVersion),
                  static_cast<unsigned long>(version.dwMinorVersion),
                  static_cast<unsigned long>(version.dwBuildNumber),
                  static_cast<unsigned long>(ReadNumber(L"UBR")));
    return text + numbers;
}

std::string WineVersion() {
    using WineGetVersion = const char*(CDECL*)();
    auto wineGetVersion = reinterpret_cast<WineGetVersion>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")));
    return wineGetVersion == nullptr ? "" : wineGetVersion();
}

bool Elevated() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return false;
    }
    TOKEN_ELEVATION elevation{};
    DWORD bytes = 0;
    bool elevated =
        GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &bytes) &&
        elevation.TokenIsElevated != 0;
    CloseHandle(token);
    return elevated;
}

// The window's tests press buttons on the desktop the user sees.
std::string NoDesktop() {
    DWORD session = 0;
    if (ProcessIdToSessionId(GetCurrentProcessId(), &session) && session == 0) {
        return "runs in session 0 (a service or a scheduled task), which has no desktop to drive";
    }
    USEROBJECTFLAGS flags{};
    DWORD bytes = 0;
    if (GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags,
                                  &bytes) &&
        (flags.dwFlags & WSF_VISIBLE) == 0) {
        return "its window station is not the visible one";
    }
    HDESK input = OpenInputDesktop(0, FALSE, DESKTOP_READOBJECTS);
    if (input == nullptr) {
        return "no input desktop (the session is locked, disconnected or minimised)";
    }
    CloseDesktop(input);
    return "";
}

}  // namespace

SystemFacts ReadSystemFacts() {
    SystemFacts facts;
    facts.windows = WindowsVersion();
    facts.wine = WineVersion();
    facts.elevated = Elevated();
    facts.noDesktop = NoDesktop();
    LANGID language = GetSystemDefaultLangID();
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%04x", language);
    facts.language = hex;
    switch (PRIMARYLANGID(language)) {
        case LANG_ENGLISH:
            facts.e2eSystem = "english";
            break;
        case LANG_JAPANESE:
            facts.e2eSystem = "japanese";
            break;
        case LANG_GERMAN:
            facts.e2eSystem = "german";
            break;
        default:
            break;
    }
    return facts;
}
