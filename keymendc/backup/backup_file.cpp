#include "backup_file.h"

#include <sddl.h>

#include <cwchar>

#include "backup_folder.h"
#include "backup_text.h"
#include "key_as_named.h"
#include "sha256.h"
#include "wide_digits.h"

namespace {

std::wstring Two(unsigned value) {
    return (value < 10 ? L"0" : L"") + Decimal(value);
}

std::wstring BackupFileName(const std::wstring& folder) {
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = L"";
    DWORD chars = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(computer, &chars)) {
        computer[0] = L'\0';
    }
    SYSTEMTIME now;
    GetLocalTime(&now);
    std::wstring stamp = Decimal(now.wYear) + Two(now.wMonth) + Two(now.wDay) + L"-" +
                         Two(now.wHour) + Two(now.wMinute) + Two(now.wSecond);
    std::wstring name = folder;
    if (name.back() != L'\\') {
        name += L'\\';
    }
    return name + L"keymend-backup-" + computer + L"-" + stamp + L".reg";
}

// Creates path, which must not exist yet, readable and writable by
// administrators only, and writes bytes to it. A file it created and could
// not write whole is deleted again.
DWORD WriteNewFile(const std::wstring& path, const std::string& bytes) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            kFileOnlyAdministrators, SDDL_REVISION_1, &descriptor, nullptr)) {
        return GetLastError();
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD error = file == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    LocalFree(descriptor);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    for (std::size_t done = 0; done < bytes.size() && error == ERROR_SUCCESS;) {
        DWORD piece =
            static_cast<DWORD>(bytes.size() - done < (1u << 20) ? bytes.size() - done : (1u << 20));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + done, piece, &written, nullptr)) {
            error = GetLastError();
        } else if (written == 0) {
            error = ERROR_WRITE_FAULT;
        }
        done += written;
    }
    if (error == ERROR_SUCCESS && !FlushFileBuffers(file)) {
        error = GetLastError();
    }
    if (!CloseHandle(file) && error == ERROR_SUCCESS) {
        error = GetLastError();
    }
    if (error != ERROR_SUCCESS) {
        DeleteFileW(path.c_str());
    }
    return error;
}

std::string Utf16WithMark(const std::wstring& text) {
    std::wstring content = L"\xFEFF" + text;
    return std::string(reinterpret_cast<const char*>(content.data()),
                       content.size() * sizeof(wchar_t));
}

DWORD Fail(DWORD error, BackupRecord* backup, const std::wstring& reason) {
    backup->error = error;
    if (backup->reason.empty()) {
        backup->reason = reason;
    }
    return error;
}

std::wstring Code(DWORD error) {
    return L" (error " + Decimal(error) + L")";
}

}  // namespace

DWORD AppendBackupTrees(const std::vector<std::wstring>& keys, std::wstring* text,
                        BackupRecord* backup) {
    for (const std::wstring& key : keys) {
        std::wstring failedKey;
        LONG read = AppendKeyTree(key, text, &failedKey);
        if (read == ERROR_INVALID_NAME) {
            return Fail(
                read, backup,
                L"a name a registry file cannot hold (with a NUL, CR or LF in it) at " + failedKey);
        }
        if (read == kErrorStoppedOnLink) {
            return Fail(static_cast<DWORD>(read), backup,
                        L"a registry link, which a registry file cannot hold, at " + failedKey);
        }
        if (read != ERROR_SUCCESS) {
            return Fail(static_cast<DWORD>(read), backup,
                        L"cannot read " + failedKey + Code(static_cast<DWORD>(read)));
        }
    }
    return ERROR_SUCCESS;
}

DWORD WriteBackupFile(const std::wstring& folder, const std::wstring& trees, BackupRecord* backup) {
    std::wstring fullFolder;
    DWORD error = PrepareBackupFolder(folder, &fullFolder, &backup->reason);
    if (error != ERROR_SUCCESS) {
        return Fail(error, backup, std::wstring());
    }
    std::string bytes = Utf16WithMark(kBackupHeader + trees);
    std::wstring hash;
    error = Sha256Hex(bytes.data(), bytes.size(), &hash);
    if (error != ERROR_SUCCESS) {
        return Fail(error, backup, L"cannot compute the SHA-256 of the backup" + Code(error));
    }
    std::wstring target = BackupFileName(fullFolder);
    std::wstring partial = target + L".partial";
    error = WriteNewFile(partial, bytes);
    if (error == ERROR_FILE_EXISTS) {
        return Fail(error, backup, L"a file of the temporary name exists already: " + partial);
    }
    if (error != ERROR_SUCCESS) {
        return Fail(error, backup, L"cannot write " + partial + Code(error));
    }
    // Without MOVEFILE_REPLACE_EXISTING: a file of that name stays as it is.
    if (!MoveFileExW(partial.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
        DeleteFileW(partial.c_str());
        bool taken = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
        return Fail(error, backup,
                    taken ? L"a file of the backup's name exists already: " + target
                          : L"cannot name the backup " + target + Code(error));
    }
    backup->file = target;
    backup->sha256 = hash;
    return ERROR_SUCCESS;
}
