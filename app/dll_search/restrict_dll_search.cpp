#include "restrict_dll_search.h"

#include <windows.h>

namespace {

using SetDefaultDllDirectoriesCall = BOOL(WINAPI*)(DWORD);

}  // namespace

void RestrictDllSearchToSystem32() {
    // Looked up, not imported: Windows 7 has it only with KB2533623, and
    // without it an import would keep the program from starting at all.
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    FARPROC found =
        kernel32 == nullptr ? nullptr : GetProcAddress(kernel32, "SetDefaultDllDirectories");
    auto setDefaultDllDirectories =
        reinterpret_cast<SetDefaultDllDirectoriesCall>(reinterpret_cast<void (*)()>(found));
    if (setDefaultDllDirectories != nullptr &&
        setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        return;
    }
    // All that is left without it: the current folder out of the search.
    SetDllDirectoryW(L"");
}
