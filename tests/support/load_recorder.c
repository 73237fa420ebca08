/* Stands in for a DLL planted beside a program: when anything loads it, it
 * leaves "<its own path>.loaded" and refuses to stay, so the program goes on
 * with the system's copy or without it. Only kernel32, which every process
 * has loaded already. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH) {
        return TRUE;
    }
    WCHAR path[MAX_PATH + 8];
    DWORD chars = GetModuleFileNameW(self, path, MAX_PATH);
    if (chars == 0 || chars >= MAX_PATH) {
        return FALSE;
    }
    lstrcpyW(path + chars, L".loaded");
    HANDLE mark = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (mark != INVALID_HANDLE_VALUE) {
        CloseHandle(mark);
    }
    return FALSE;
}
