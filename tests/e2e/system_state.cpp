#include "system_state.h"

#include <windows.h>

#include "support/win32_registry_mirror.h"

namespace {

constexpr char kAppDefaults[] = "Software\\Wine\\AppDefaults\\KEYMEND.EXE";
constexpr char kDriverList[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32";
constexpr std::uint32_t kReadOnly = KEY_READ;

}  // namespace

ReportedAsWindowsVista::ReportedAsWindowsVista() {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kAppDefaults, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        return;
    }
    static const char kVista[] = "vista";
    active_ = RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(kVista),
                             sizeof kVista) == ERROR_SUCCESS;
    RegCloseKey(key);
}

ReportedAsWindowsVista::~ReportedAsWindowsVista() {
    ForgetReportedVersion();
}

void ForgetReportedVersion() {
    RegDeleteKeyA(HKEY_CURRENT_USER, kAppDefaults);
}

DriverListReadOnly::DriverListReadOnly() {
    RegKey machine = reinterpret_cast<RegKey>(HKEY_LOCAL_MACHINE);
    active_ = GetLiveKeySecurity(machine, kDriverList, &original_) == REG_OK &&
              RestrictLiveKey(machine, kDriverList, kReadOnly, false) == REG_OK;
}

DriverListReadOnly::~DriverListReadOnly() {
    if (!original_.empty()) {
        SetLiveKeySecurity(reinterpret_cast<RegKey>(HKEY_LOCAL_MACHINE), kDriverList, original_);
    }
}

bool DriverListWritable() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDriverList, 0, KEY_WRITE, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

std::string DriverListSecurity() {
    std::string sddl;
    GetLiveKeySecurity(reinterpret_cast<RegKey>(HKEY_LOCAL_MACHINE), kDriverList, &sddl);
    return sddl;
}
