#include "system_state.h"

#include <windows.h>

#include "support/test_paths.h"
#include "support/win32_registry_mirror.h"

namespace {

constexpr char kAppDefaults[] = "Software\\Wine\\AppDefaults\\KEYMEND.EXE";
constexpr char kDriverList[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32";
constexpr std::uint32_t kReadOnly = KEY_READ;
const wchar_t kLayers[] =
    L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Layers";

// Windows: the compatibility layer "Windows Vista" for KEYMEND.EXE's path,
// whose version lie GetVersionEx tells (from Windows 8 on the value starts
// with "~ "). Not yet seen working on a Windows machine.
std::wstring CompatibilityLayer() {
    using RtlGetVersionCall = LONG(WINAPI*)(RTL_OSVERSIONINFOW*);
    auto rtlGetVersion = reinterpret_cast<RtlGetVersionCall>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    RTL_OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (rtlGetVersion != nullptr) {
        rtlGetVersion(&version);
    }
    bool windows7 = version.dwMajorVersion == 6 && version.dwMinorVersion <= 1;
    return windows7 ? L"VISTARTM" : L"~ VISTARTM";
}

}  // namespace

ReportedAsWindowsVista::ReportedAsWindowsVista(const std::wstring& program) : program_(program) {
    HKEY key = nullptr;
    if (!IsWine()) {
        if (RegCreateKeyExW(HKEY_CURRENT_USER, kLayers, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                            nullptr) != ERROR_SUCCESS) {
            return;
        }
        std::wstring layer = CompatibilityLayer();
        active_ = RegSetValueExW(
                      key, program.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(layer.c_str()),
                      static_cast<DWORD>((layer.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
        RegCloseKey(key);
        return;
    }
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
    ForgetReportedVersion(program_);
}

void ForgetReportedVersion(const std::wstring& program) {
    RegDeleteKeyA(HKEY_CURRENT_USER, kAppDefaults);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kLayers, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, program.c_str());
        RegCloseKey(key);
    }
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
