#include "support/test_paths.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

#ifdef _WIN32
std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH];
    DWORD chars = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, chars < MAX_PATH ? chars : 0);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

// Only ASCII names are compiled in.
std::wstring Widen(const char* ascii) {
    std::wstring wide;
    for (; *ascii != '\0'; ++ascii) {
        wide += *ascii == '/' ? L'\\' : static_cast<wchar_t>(*ascii);
    }
    return wide;
}
#endif

}  // namespace

bool InSelfTestBundle() {
#ifdef _WIN32
    // Decided once: every file comes from the bundle, or every one from the tree.
    static const bool inBundle =
        GetFileAttributesW((ProgramFolder() + L"selftest-bundle.txt").c_str()) !=
        INVALID_FILE_ATTRIBUTES;
    return inBundle;
#else
    return false;
#endif
}

std::wstring TestPathW(const char* bundled, const char* built) {
#ifdef _WIN32
    return InSelfTestBundle() ? ProgramFolder() + Widen(bundled) : Widen(built);
#else
    (void)bundled;
    (void)built;
    return std::wstring();
#endif
}

std::string TestPath(const char* bundled, const char* built) {
#ifdef _WIN32
    if (InSelfTestBundle()) {
        // The narrow calls of the tests read paths in the ANSI code page.
        std::wstring wide = TestPathW(bundled, built);
        std::string path(wide.size() * 2 + 1, '\0');
        int bytes = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()),
                                        &path[0], static_cast<int>(path.size()), nullptr, nullptr);
        path.resize(static_cast<std::size_t>(bytes > 0 ? bytes : 0));
        return path;
    }
#else
    (void)bundled;
#endif
    return built;
}

bool IsWine() {
#ifdef _WIN32
    static const bool wine =
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
#else
    return false;
#endif
}
