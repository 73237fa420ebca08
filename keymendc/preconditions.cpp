#include "preconditions.h"

#include <windows.h>

#include "registry.h"
#include "scoped_key.h"

namespace {

constexpr char kDriverListKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32";

}  // namespace

bool InstallerIsBusy() {
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, L"Global\\_MSIExecute");
    if (mutex != nullptr) {
        CloseHandle(mutex);
        return true;
    }
    return GetLastError() == ERROR_ACCESS_DENIED;
}

bool MayWriteDriverList() {
    ScopedKey driverList;
    return driverList.Open(HKEY_LOCAL_MACHINE_ROOT, kDriverListKey, ACCESS_KEY_WRITE) == REG_OK;
}
