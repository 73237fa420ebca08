#include "profile_list.h"

#include <windows.h>

#include <vector>

#include "opened_key.h"

namespace {

constexpr wchar_t kProfileList[] =
    L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";

std::wstring Expanded(const std::wstring& text) {
    DWORD chars = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    if (chars == 0) {
        return text;
    }
    std::vector<wchar_t> expanded(chars);
    if (ExpandEnvironmentStringsW(text.c_str(), expanded.data(), chars) != chars) {
        return text;
    }
    return expanded.data();
}

}  // namespace

ProfileEntry FindProfileEntry(const std::wstring& sid) {
    ProfileEntry entry;
    OpenedKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, (kProfileList + sid).c_str(), KEY_READ) != ERROR_SUCCESS) {
        return entry;
    }
    entry.exists = true;
    DWORD type = 0;
    DWORD bytes = 0;
    LONG result = RegQueryValueExW(key.get(), L"ProfileImagePath", nullptr, &type, nullptr, &bytes);
    if (result == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ)) {
        std::vector<wchar_t> text(bytes / sizeof(wchar_t) + 1, L'\0');
        result = RegQueryValueExW(key.get(), L"ProfileImagePath", nullptr, &type,
                                  reinterpret_cast<BYTE*>(text.data()), &bytes);
        if (result == ERROR_SUCCESS) {
            entry.folder = type == REG_EXPAND_SZ ? Expanded(text.data()) : text.data();
        }
    }
    return entry;
}
