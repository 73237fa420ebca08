#include "backup_folder.h"

#include <sddl.h>

#include <vector>

#include "folder_security.h"
#include "wide_digits.h"

namespace {

// ERROR_REPARSE_POINT_ENCOUNTERED, which mingw's headers lack.
constexpr DWORD kErrorReparsePointEncountered = 4395;

std::wstring FullPath(const std::wstring& folder) {
    DWORD chars = GetFullPathNameW(folder.c_str(), 0, nullptr, nullptr);
    if (chars == 0) {
        return std::wstring();
    }
    std::vector<wchar_t> full(chars);
    DWORD written = GetFullPathNameW(folder.c_str(), chars, full.data(), nullptr);
    if (written == 0 || written >= chars) {
        return std::wstring();
    }
    std::wstring path(full.data(), written);
    while (path.size() > 3 && path.back() == L'\\') {
        path.pop_back();
    }
    return path;
}

// The length of "C:\", "\\server\share\" or their "\\?\" forms; 0 for a
// path that has none of them.
std::size_t RootLength(const std::wstring& path) {
    std::size_t start = 0;
    bool unc = false;
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) {
        start = 8;
        unc = true;
    } else if (path.rfind(L"\\\\?\\", 0) == 0) {
        start = 4;
    } else if (path.rfind(L"\\\\", 0) == 0) {
        start = 2;
        unc = true;
    }
    if (!unc) {
        bool drive =
            path.size() >= start + 3 && path[start + 1] == L':' && path[start + 2] == L'\\';
        return drive ? start + 3 : 0;
    }
    std::size_t server = path.find(L'\\', start);
    std::size_t share = server == std::wstring::npos ? server : path.find(L'\\', server + 1);
    if (server == start || share == std::wstring::npos || share == server + 1) {
        return 0;
    }
    return share + 1;
}

// The root, then each folder below it down to path itself.
std::vector<std::wstring> Levels(const std::wstring& path, std::size_t rootLength) {
    std::vector<std::wstring> levels{path.substr(0, rootLength)};
    for (std::size_t at = rootLength; at < path.size();) {
        std::size_t next = path.find(L'\\', at);
        if (next == std::wstring::npos) {
            next = path.size();
        }
        if (next > at) {
            levels.push_back(path.substr(0, next));
        }
        at = next + 1;
    }
    return levels;
}

DWORD CreateOnlyForAdministrators(const std::wstring& folder) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            kFolderOnlyAdministrators, SDDL_REVISION_1, &descriptor, nullptr)) {
        return GetLastError();
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    DWORD result = CreateDirectoryW(folder.c_str(), &attributes) ? ERROR_SUCCESS : GetLastError();
    LocalFree(descriptor);
    return result;
}

DWORD Refuse(DWORD error, std::wstring* reason, const std::wstring& text) {
    *reason = text;
    return error;
}

std::wstring Code(DWORD error) {
    return L" (error " + Decimal(error) + L")";
}

// A level that exists must be a real folder. The root of a drive or share
// is where the path begins, not a link in it (Wine shows its drive letters
// as links).
DWORD CheckIsFolder(const std::wstring& level, DWORD attributes, bool isRoot,
                    std::wstring* reason) {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return Refuse(ERROR_DIRECTORY, reason, level + L" is a file, not a folder");
    }
    if (!isRoot && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return Refuse(kErrorReparsePointEncountered, reason,
                      L"the path runs through a reparse point (a link or junction): " + level);
    }
    return ERROR_SUCCESS;
}

// ...and be controlled by administrators only.
DWORD CheckControl(const std::wstring& level, bool isBackupFolder, std::wstring* reason) {
    std::wstring who;
    DWORD result =
        CheckFolderIsAdministrators(level, isBackupFolder ? kWriteRights : kReplaceRights, &who);
    if (result == ERROR_ACCESS_DENIED) {
        return Refuse(result, reason,
                      L"the folder " + level +
                          (isBackupFolder ? L" may be written by " + who
                                          : L" lets " + who + L" replace what it holds") +
                          L"; only SYSTEM and Administrators may: remove it or choose another "
                          L"folder");
    }
    if (result != ERROR_SUCCESS) {
        return Refuse(result, reason,
                      L"the security of " + level + L" cannot be read" + Code(result));
    }
    return ERROR_SUCCESS;
}

}  // namespace

DWORD PrepareBackupFolder(const std::wstring& folder, std::wstring* fullPath,
                          std::wstring* reason) {
    std::wstring path = FullPath(folder);
    std::size_t rootLength = RootLength(path);
    if (rootLength == 0) {
        return Refuse(ERROR_BAD_PATHNAME, reason,
                      L"the backup folder needs a drive or a share: " + folder);
    }
    std::vector<std::wstring> levels = Levels(path, rootLength);
    // The levels that exist, each a real folder; the rest are created.
    std::size_t existing = 0;
    for (; existing < levels.size(); ++existing) {
        DWORD attributes = GetFileAttributesW(levels[existing].c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            DWORD missing = GetLastError();
            if (missing != ERROR_FILE_NOT_FOUND && missing != ERROR_PATH_NOT_FOUND) {
                return Refuse(missing, reason,
                              L"cannot look at " + levels[existing] + Code(missing));
            }
            break;
        }
        DWORD result = CheckIsFolder(levels[existing], attributes, existing == 0, reason);
        if (result != ERROR_SUCCESS) {
            return result;
        }
    }
    for (std::size_t i = 0; i < existing; ++i) {
        DWORD result = CheckControl(levels[i], i + 1 == levels.size(), reason);
        if (result != ERROR_SUCCESS) {
            return result;
        }
    }
    for (std::size_t i = existing; i < levels.size(); ++i) {
        DWORD created = CreateOnlyForAdministrators(levels[i]);
        if (created != ERROR_SUCCESS) {
            return Refuse(created, reason,
                          L"cannot create the folder " + levels[i] + Code(created));
        }
    }
    *fullPath = path;
    return ERROR_SUCCESS;
}
