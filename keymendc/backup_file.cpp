#include "backup_file.h"

#include <cstdio>

#include "backup_text.h"

namespace {

std::wstring BackupFileName(const std::wstring& folder) {
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = L"";
    DWORD chars = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(computer, &chars)) {
        computer[0] = L'\0';
    }
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t stamp[32];
    std::swprintf(stamp, 32, L"%04u%02u%02u-%02u%02u%02u", now.wYear, now.wMonth, now.wDay,
                  now.wHour, now.wMinute, now.wSecond);
    wchar_t full[MAX_PATH];
    DWORD length = GetFullPathNameW(folder.c_str(), MAX_PATH, full, nullptr);
    std::wstring name = (length > 0 && length < MAX_PATH) ? std::wstring(full) : folder;
    if (name.back() != L'\\' && name.back() != L'/') {
        name += L'\\';
    }
    return name + L"keymend-backup-" + computer + L"-" + stamp + L".reg";
}

DWORD WriteWhole(const std::wstring& path, const std::wstring& text) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return GetLastError();
    }
    const wchar_t bom = 0xFEFF;
    std::wstring content = bom + text;
    DWORD bytes = static_cast<DWORD>(content.size() * sizeof(wchar_t));
    DWORD written = 0;
    DWORD error = ERROR_SUCCESS;
    if (!WriteFile(file, content.data(), bytes, &written, nullptr) || !FlushFileBuffers(file)) {
        error = GetLastError();
    } else if (written != bytes) {
        error = ERROR_WRITE_FAULT;
    }
    if (!CloseHandle(file) && error == ERROR_SUCCESS) {
        error = GetLastError();
    }
    return error;
}

DWORD EnsureFolder(const std::wstring& folder) {
    if (CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) {
        return ERROR_SUCCESS;
    }
    return GetLastError();
}

}  // namespace

const wchar_t* RootName(HKEY root) {
    return root == HKEY_USERS ? L"HKEY_USERS" : L"HKEY_LOCAL_MACHINE";
}

DWORD WriteBackupFile(const std::wstring& folder, HKEY productRoot, const std::wstring& productPath,
                      HKEY dataRoot, const std::wstring& dataPath, std::wstring* file) {
    std::wstring text = kBackupHeader;
    LONG read = AppendKeyTree(productRoot, RootName(productRoot), productPath, &text);
    if (read == ERROR_SUCCESS) {
        read = AppendKeyTree(dataRoot, RootName(dataRoot), dataPath, &text);
    }
    if (read != ERROR_SUCCESS) {
        return static_cast<DWORD>(read);
    }
    DWORD error = EnsureFolder(folder);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    std::wstring target = BackupFileName(folder);
    std::wstring partial = target + L".partial";
    error = WriteWhole(partial, text);
    if (error == ERROR_SUCCESS &&
        !MoveFileExW(partial.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
    }
    if (error != ERROR_SUCCESS) {
        DeleteFileW(partial.c_str());
        return error;
    }
    *file = target;
    return ERROR_SUCCESS;
}
