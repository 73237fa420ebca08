#include "describe.h"

#include <windows.h>

#include "console_output.h"
#include "scoped_hkey.h"

namespace {

std::wstring ReadTextValue(HKEY root, const std::wstring& path, const wchar_t* name) {
    wchar_t text[1024] = L"";
    DWORD bytes = sizeof text - sizeof(wchar_t);
    DWORD type = 0;
    ScopedHkey key;
    if (key.Open(root, path.c_str(), KEY_READ) != ERROR_SUCCESS ||
        RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(text), &bytes) !=
            ERROR_SUCCESS) {
        return std::wstring();
    }
    return text;
}

}  // namespace

const wchar_t* RootName(RegKey root) {
    return root == HKEY_USERS_ROOT ? L"HKEY_USERS" : L"HKEY_LOCAL_MACHINE";
}

std::wstring Rooted(RegKey root, const char* path) {
    return std::wstring(RootName(root)) + L"\\" + AnsiToWide(path);
}

// The names as stored, through the wide calls; the engine's 8-bit copies
// only where they cannot be read again.
Registration Describe(const FoundRegistration& found) {
    std::wstring dataPath = AnsiToWide(found.dataKeyPath.c_str());
    std::wstring properties = dataPath + L"\\InstallProperties";
    Registration registration;
    registration.found = found;
    registration.sid = AnsiToWide(found.sid.c_str());
    registration.productCode = dataPath.substr(dataPath.rfind(L'\\') + 1);
    registration.displayName = ReadTextValue(HKEY_LOCAL_MACHINE, properties, L"DisplayName");
    if (registration.displayName.empty()) {
        registration.displayName = AnsiToWide(found.displayName.c_str());
    }
    registration.displayVersion = ReadTextValue(HKEY_LOCAL_MACHINE, properties, L"DisplayVersion");
    if (registration.displayVersion.empty()) {
        registration.displayVersion = AnsiToWide(found.displayVersion.c_str());
    }
    registration.productKey = Rooted(found.productRoot, found.productKeyPath.c_str());
    registration.dataKey = Rooted(HKEY_LOCAL_MACHINE_ROOT, found.dataKeyPath.c_str());
    return registration;
}
