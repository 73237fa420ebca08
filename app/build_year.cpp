#include "build_year.h"

#include <windows.h>

#include "app_state.h"

std::uint16_t ReadBuildYear() {
    // A longer path is cut to fit, and the cut path is what is opened.
    char path[256] = {};
    if (GetModuleFileNameA(hAppInstance, path, sizeof path) == 0) {
        return 0;
    }
    // Windows ends a cut path inside the buffer; Wine fills it to the last byte.
    path[sizeof path - 1] = '\0';
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, FALSE};
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, &attributes, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 0;
    }
    FILETIME written;
    BOOL haveTime = GetFileTime(file, nullptr, nullptr, &written);
    CloseHandle(file);
    FILETIME local;
    SYSTEMTIME date;
    if (!haveTime || !FileTimeToLocalFileTime(&written, &local) ||
        !FileTimeToSystemTime(&local, &date)) {
        return 0;
    }
    return date.wYear;
}
