#include "preconditions.h"

#include <windows.h>

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
