#include "preconditions.h"

#include <windows.h>

#include "may_write_driver_list.h"
#include "stages.h"

bool InstallerIsBusy() {
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, L"Global\\_MSIExecute");
    if (mutex == nullptr) {
        return GetLastError() != ERROR_FILE_NOT_FOUND;
    }
    // The service keeps the mutex open when idle; only an owner is running
    // an installation. Taken, or left abandoned, it is given back at once.
    DWORD waited = WaitForSingleObject(mutex, 0);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
        ReleaseMutex(mutex);
    }
    CloseHandle(mutex);
    return waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED;
}

bool RefuseWhileInstallerBusy(const Options&, RunRecord* record) {
    if (InstallerIsBusy()) {
        record->stop = RunStop::InstallerBusy;
        return false;
    }
    return true;
}

bool RefuseWithoutRights(const Options&, RunRecord* record) {
    if (!MayWriteDriverList()) {
        record->stop = RunStop::NoRights;
        return false;
    }
    return true;
}
