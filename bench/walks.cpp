#include "walks.h"

#include <cstdio>
#include <cstring>

#include "ascii_case.h"
#include "search_key.h"

namespace {

constexpr std::size_t kSearchPathCapacity = 1024;
constexpr std::uint32_t kSearchNameCapacity = 1024;
constexpr std::size_t kDeletePathCapacity = 256;
constexpr std::uint32_t kDeleteNameCapacity = 120;
constexpr std::uint32_t kClassCapacity = 260;
constexpr std::uint32_t kValueCapacity = 256;

void ReadValue(RegKey key, const char* name) {
    unsigned char data[kValueCapacity];
    std::uint32_t type = REG_TYPE_SZ;
    std::uint32_t size = sizeof data;
    (void)RegistryQueryValue(key, name, &type, data, &size);
}

class Search {
  public:
    Search(RegKey root, const char* acceptPath, WalkCounts* counts)
        : root_(root), acceptPath_(acceptPath), counts_(counts) {}

    RegResult Start(const char* path) {
        length_ = std::strlen(path);
        if (length_ >= kSearchPathCapacity) {
            return REG_ERROR_INVALID_PARAMETER;
        }
        std::memcpy(path_, path, length_ + 1);
        return Walk();
    }

  private:
    // One key: path_ holds its path, length_ its length.
    RegResult Walk() {
        char* lastBackslash = std::strrchr(path_, '\\');
        if (lastBackslash == nullptr) {
            return REG_ERROR_INVALID_PARAMETER;
        }
        RegKey key = 0;
        *lastBackslash = '\0';
        RegResult result = RegistryOpenKey(root_, path_, ACCESS_KEY_WRITE, &key);
        *lastBackslash = '\\';
        if (result != REG_OK) {
            return result;
        }
        RegistryCloseKey(key);
        result = RegistryOpenKey(root_, path_, ACCESS_KEY_WRITE_ENUMERATE, &key);
        if (result != REG_OK) {
            return result;
        }
        ++counts_->keys;
        std::size_t length = length_;
        for (std::uint32_t index = 0;; ++index) {
            std::uint32_t nameChars = kSearchNameCapacity;
            std::uint32_t classChars = kClassCapacity;
            if (RegistryEnumKey(key, index, name_, &nameChars, class_, &classChars) != REG_OK) {
                RegistryCloseKey(key);
                return REG_OK;
            }
            if (length + 1 + nameChars >= kSearchPathCapacity) {
                continue;
            }
            path_[length] = '\\';
            std::memcpy(path_ + length + 1, name_, nameChars + 1);
            length_ = length + 1 + nameChars;
            if (EqualsIgnoreAsciiCase(name_, "InstallProperties") && Offer(length)) {
                RegistryCloseKey(key);
                return SEARCH_FOUND;
            }
            if (Walk() == SEARCH_FOUND) {
                RegistryCloseKey(key);
                return SEARCH_FOUND;
            }
            path_[length] = '\0';
            length_ = length;
        }
    }

    // path_ names the "InstallProperties" key; its parent, the candidate,
    // is the first candidateLength characters.
    bool Offer(std::size_t candidateLength) {
        RegKey properties = 0;
        if (RegistryOpenKey(root_, path_, ACCESS_KEY_READ, &properties) != REG_OK) {
            return false;
        }
        ++counts_->candidates;
        ReadValue(properties, "DisplayName");
        ReadValue(properties, "DisplayVersion");
        RegistryCloseKey(properties);
        char candidate[kSearchPathCapacity];
        std::memcpy(candidate, path_, candidateLength);
        candidate[candidateLength] = '\0';
        ReadProductRegistration(candidate);
        return acceptPath_ != nullptr && std::strcmp(candidate, acceptPath_) == 0;
    }

    // Detection's calls: the SID follows the sixth backslash (counting from
    // the second character), the product code the last one.
    static void ReadProductRegistration(const char* candidate) {
        if (candidate[0] == '\0') {
            return;
        }
        const char* sid = candidate + 1;
        for (int found = 0; found < 6; ++found) {
            const char* backslash = std::strchr(sid, '\\');
            if (backslash == nullptr) {
                return;
            }
            sid = backslash + 1;
        }
        const char* sidEnd = std::strchr(sid, '\\');
        if (sidEnd == nullptr) {
            return;
        }
        char productPath[kSearchPathCapacity];
        int written = std::snprintf(
            productPath, sizeof productPath, "%.*s\\Software\\Microsoft\\Installer\\Products\\%s",
            static_cast<int>(sidEnd - sid), sid, std::strrchr(candidate, '\\') + 1);
        if (written < 0 || static_cast<std::size_t>(written) >= sizeof productPath) {
            return;
        }
        RegKey product = 0;
        if (RegistryOpenKey(HKEY_USERS_ROOT, productPath, ACCESS_KEY_READ_WRITE, &product) !=
            REG_OK) {
            return;
        }
        ReadValue(product, "ProductName");
        RegistryCloseKey(product);
    }

    RegKey root_;
    const char* acceptPath_;
    WalkCounts* counts_;
    char path_[kSearchPathCapacity];
    std::size_t length_ = 0;
    char name_[kSearchNameCapacity];
    char class_[kClassCapacity];
};

void VisitMinimal(RegKey key, WalkCounts* counts) {
    ++counts->keys;
    char name[kSearchNameCapacity];
    for (std::uint32_t index = 0;; ++index) {
        std::uint32_t nameChars = sizeof name;
        if (RegistryEnumKey(key, index, name, &nameChars, nullptr, nullptr) != REG_OK) {
            return;
        }
        RegKey child = 0;
        if (RegistryOpenKey(key, name, ACCESS_KEY_READ, &child) == REG_OK) {
            VisitMinimal(child, counts);
            RegistryCloseKey(child);
        }
    }
}

}  // namespace

RegResult FloorSearch(RegKey root, const char* path, const char* acceptPath, WalkCounts* counts) {
    WalkCounts ignored;
    Search search(root, acceptPath, counts != nullptr ? counts : &ignored);
    return search.Start(path);
}

RegResult FloorDelete(RegKey root, const char* path) {
    char parentPath[kDeletePathCapacity];
    std::size_t length = std::strlen(path);
    if (length >= sizeof parentPath) {
        return REG_ERROR_INVALID_PARAMETER;
    }
    std::memcpy(parentPath, path, length + 1);
    char* lastBackslash = std::strrchr(parentPath, '\\');
    if (lastBackslash == nullptr || lastBackslash[1] == '\0') {
        return REG_ERROR_INVALID_PARAMETER;
    }
    *lastBackslash = '\0';
    const char* leaf = lastBackslash + 1;
    RegKey parent = 0;
    RegResult result = RegistryOpenKey(root, parentPath, ACCESS_KEY_WRITE, &parent);
    if (result != REG_OK) {
        return result;
    }
    if (RegistryDeleteKey(parent, leaf) == REG_OK) {
        RegistryCloseKey(parent);
        return REG_OK;
    }
    char name[kDeleteNameCapacity];
    char previous[kDeleteNameCapacity] = "";
    for (bool childTaken = false;; childTaken = true) {
        RegKey key = 0;
        result = RegistryOpenKey(root, path, ACCESS_KEY_WRITE_ENUMERATE, &key);
        if (result != REG_OK) {
            RegistryCloseKey(parent);
            return result;
        }
        char className[kClassCapacity];
        std::uint32_t nameChars = kDeleteNameCapacity;
        std::uint32_t classChars = kClassCapacity;
        bool ends = RegistryEnumKey(key, 0, name, &nameChars, className, &classChars) != REG_OK ||
                    (childTaken && EqualsIgnoreAsciiCase(name, previous));
        char childPath[kDeletePathCapacity];
        if (!ends) {
            int written = std::snprintf(childPath, sizeof childPath, "%s\\%s", path, name);
            ends = written < 0 || static_cast<std::size_t>(written) >= sizeof childPath;
        }
        if (ends) {
            RegistryCloseKey(key);
            result = RegistryDeleteKey(parent, leaf);
            RegistryCloseKey(parent);
            return result;
        }
        (void)FloorDelete(root, childPath);
        std::memcpy(previous, name, sizeof name);
        RegistryCloseKey(key);
    }
}

bool FloorRepair(const char* dataPath, const char* productPath, WalkCounts* counts) {
    if (FloorSearch(HKEY_LOCAL_MACHINE_ROOT, kInstallerUserDataPath, dataPath, counts) !=
        SEARCH_FOUND) {
        return false;
    }
    (void)FloorDelete(HKEY_USERS_ROOT, productPath);
    (void)FloorDelete(HKEY_LOCAL_MACHINE_ROOT, dataPath);
    return true;
}

RegResult MinimalWalk(RegKey root, const char* path, WalkCounts* counts) {
    WalkCounts ignored;
    RegKey key = 0;
    RegResult result = RegistryOpenKey(root, path, ACCESS_KEY_READ, &key);
    if (result != REG_OK) {
        return result;
    }
    VisitMinimal(key, counts != nullptr ? counts : &ignored);
    RegistryCloseKey(key);
    return REG_OK;
}
