#include "support/win32_registry_mirror.h"

#include <windows.h>
// After windows.h, which they need.
#include <sddl.h>
#include <winternl.h>

#include <cstdio>
#include <cstring>

#include "scenario/scenario.h"
#include "support/test_paths.h"
#include "support/win32_counted_names.h"
#include "support/win32_user_root.h"

extern "C" NTSTATUS NTAPI NtDeleteKey(HANDLE key);

namespace {

HKEY ToHkey(RegKey key) {
    return reinterpret_cast<HKEY>(key);
}

// Closes on every path out. A link as the last component is opened as
// itself, never followed: a test reads a link back as a link, and its
// cleanup deletes the link, never its target.
class LiveKey {
  public:
    LiveKey() = default;
    ~LiveKey() {
        if (key_ != nullptr) {
            RegCloseKey(key_);
        }
    }
    LiveKey(const LiveKey&) = delete;
    LiveKey& operator=(const LiveKey&) = delete;

    RegResult Open(HKEY parent, const std::string& path, REGSAM access) {
        return static_cast<RegResult>(
            RegOpenKeyExA(parent, path.c_str(), REG_OPTION_OPEN_LINK, access, &key_));
    }
    // A link gets its target from the SymbolicLinkValue written next.
    RegResult Create(HKEY parent, const std::string& path, bool link) {
        DWORD options = link ? REG_OPTION_CREATE_LINK : REG_OPTION_NON_VOLATILE;
        return static_cast<RegResult>(RegCreateKeyExA(parent, path.c_str(), 0, nullptr, options,
                                                      KEY_ALL_ACCESS, nullptr, &key_, nullptr));
    }
    HKEY get() const { return key_; }

  private:
    HKEY key_ = nullptr;
};

std::string Describe(const char* call, const std::string& path, RegResult result) {
    return std::string(call) + "(" + path + ") failed with " + std::to_string(result);
}

// A key whose name holds a NUL is made through ntdll, as a leaf without
// values: nothing below it could be named to write it.
RegResult WriteCountedLeaf(const MemoryRegistry& source, MemoryRegistry::NodeId node, HKEY parent,
                           const std::string& name, const std::string& parentPath,
                           std::string* error) {
    RegResult result = source.Children(node).empty() && source.Values(node).empty()
                           ? CreateCountedKey(parent, name)
                           : REG_ERROR_INVALID_PARAMETER;
    if (result != REG_OK) {
        *error = Describe("NtCreateKey (a leaf without values)", parentPath, result);
    }
    return result;
}

RegResult WriteKey(const MemoryRegistry& source, MemoryRegistry::NodeId node, HKEY key,
                   const std::string& path, std::string* error) {
    for (const MemoryRegistry::Value& value : source.Values(node)) {
        if (value.name.find('\0') != std::string::npos) {
            *error = "a value name holding NUL cannot be written through the ANSI API: " + path;
            return REG_ERROR_INVALID_PARAMETER;
        }
        // RegSetValueExA counts a string's terminator itself when the byte
        // after the data is NUL; a non-NUL byte there keeps the data exact.
        std::string bytes = value.data + '\x01';
        LONG result = RegSetValueExA(key, value.name.c_str(), 0, value.type,
                                     reinterpret_cast<const BYTE*>(bytes.data()),
                                     static_cast<DWORD>(value.data.size()));
        if (result != ERROR_SUCCESS) {
            *error = Describe("RegSetValueExA", path + " : " + value.name,
                              static_cast<RegResult>(result));
            return static_cast<RegResult>(result);
        }
    }
    for (MemoryRegistry::NodeId child : source.Children(node)) {
        std::string name(source.Name(child));
        if (IsCountedOnlyName(name)) {
            RegResult result = WriteCountedLeaf(source, child, key, name, path, error);
            if (result != REG_OK) {
                return result;
            }
            continue;
        }
        LiveKey childKey;
        RegResult result = childKey.Create(key, name, IsScenarioLink(source, child));
        if (result != REG_OK) {
            *error = Describe("RegCreateKeyExA", path + "\\" + name, result);
            return result;
        }
        result = WriteKey(source, child, childKey.get(), path + "\\" + name, error);
        if (result != REG_OK) {
            return result;
        }
    }
    return REG_OK;
}

RegResult ReadValues(HKEY key, MemoryRegistry& into, MemoryRegistry::NodeId node,
                     const std::string& path, std::string* error) {
    std::string name(16384, '\0');
    std::string data(256, '\0');
    for (DWORD index = 0;;) {
        DWORD nameChars = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = 0;
        LONG result = RegEnumValueA(key, index, &name[0], &nameChars, nullptr, &type,
                                    reinterpret_cast<BYTE*>(&data[0]), &dataSize);
        if (result == ERROR_NO_MORE_ITEMS) {
            return REG_OK;
        }
        if (result == ERROR_MORE_DATA && dataSize > data.size()) {
            data.resize(dataSize);
            continue;
        }
        if (result != ERROR_SUCCESS) {
            *error = Describe("RegEnumValueA", path, static_cast<RegResult>(result));
            return static_cast<RegResult>(result);
        }
        into.SetValue(node, std::string_view(name.data(), nameChars), type,
                      std::string_view(data.data(), dataSize));
        ++index;
    }
}

RegResult ReadKey(HKEY key, MemoryRegistry& into, MemoryRegistry::NodeId node,
                  const std::string& path, int depth, std::vector<std::string>* orderErrors,
                  std::string* error) {
    RegResult result = ReadValues(key, into, node, path, error);
    if (result != REG_OK) {
        return result;
    }
    std::vector<std::string> liveOrder;
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD nameChars = sizeof name;
        LONG status =
            RegEnumKeyExA(key, index, name, &nameChars, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (status != ERROR_SUCCESS) {
            *error = Describe("RegEnumKeyExA", path, static_cast<RegResult>(status));
            return static_cast<RegResult>(status);
        }
        liveOrder.emplace_back(name, nameChars);
        if (std::strlen(name) != nameChars) {
            result = EnumCountedName(key, index, &liveOrder.back());
            if (result != REG_OK) {
                *error = Describe("RegEnumKeyExW", path, result);
                return result;
            }
        }
    }
    std::string liveList;
    for (const std::string& name : liveOrder) {
        MemoryRegistry::NodeId child = into.CreateKey(node, name);
        liveList += name + "\n";
        if (depth == 0 || IsCountedOnlyName(name)) {
            continue;
        }
        LiveKey childKey;
        result = childKey.Open(key, name, KEY_READ);
        if (result != REG_OK) {
            *error = Describe("RegOpenKeyExA", path + "\\" + name, result);
            return result;
        }
        result =
            ReadKey(childKey.get(), into, child, path + "\\" + name, depth - 1, orderErrors, error);
        if (result != REG_OK) {
            return result;
        }
    }
    std::string memoryList;
    for (MemoryRegistry::NodeId child : into.Children(node)) {
        memoryList += std::string(into.Name(child)) + "\n";
    }
    if (orderErrors != nullptr && memoryList != liveList) {
        orderErrors->push_back("subkeys of " + path + " enumerate live as\n" + liveList +
                               "but in memory as\n" + memoryList);
    }
    return REG_OK;
}

RegResult SetSecurity(RegKey root, const std::string& path, const std::string& sddl,
                      SECURITY_INFORMATION what) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        return static_cast<RegResult>(GetLastError());
    }
    LiveKey key;
    SECURITY_INFORMATION ownership = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION;
    REGSAM access = ((what & DACL_SECURITY_INFORMATION) ? WRITE_DAC : 0) |
                    ((what & ownership) ? WRITE_OWNER : 0);
    RegResult result = key.Open(ToHkey(root), path, access);
    if (result == REG_OK) {
        result = static_cast<RegResult>(RegSetKeySecurity(key.get(), what, descriptor));
    }
    LocalFree(descriptor);
    return result;
}

RegResult GetSecurity(RegKey root, const std::string& path, SECURITY_INFORMATION what,
                      std::string* sddl) {
    LiveKey key;
    RegResult result = key.Open(ToHkey(root), path, READ_CONTROL);
    if (result != REG_OK) {
        return result;
    }
    DWORD size = 0;
    LONG status = RegGetKeySecurity(key.get(), what, nullptr, &size);
    if (status != ERROR_INSUFFICIENT_BUFFER) {
        return static_cast<RegResult>(status);
    }
    std::string buffer(size, '\0');
    status = RegGetKeySecurity(key.get(), what, &buffer[0], &size);
    if (status != ERROR_SUCCESS) {
        return static_cast<RegResult>(status);
    }
    char* text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(&buffer[0], SDDL_REVISION_1, what,
                                                              &text, nullptr)) {
        return static_cast<RegResult>(GetLastError());
    }
    *sddl = text;
    LocalFree(text);
    return REG_OK;
}

// Everyone may do anything: the key is about to go.
constexpr char kOpenToAll[] = "D:(A;;KA;;;WD)";

// RegDeleteKeyA would delete a link's target: deleted through a handle to
// the key itself instead.
RegResult DeleteItself(HKEY parent, const std::string& name) {
    LiveKey key;
    RegResult result = key.Open(parent, name, DELETE);
    if (result != REG_OK) {
        return result;
    }
    NTSTATUS status = NtDeleteKey(key.get());
    return status == 0 ? REG_OK : static_cast<RegResult>(RtlNtStatusToDosError(status));
}

RegResult ForceDelete(HKEY parent, const std::string& name, const std::string& path,
                      std::string* error) {
    {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        LiveKey key;
        if (key.Open(parent, name, WRITE_DAC) == REG_OK &&
            ConvertStringSecurityDescriptorToSecurityDescriptorA(kOpenToAll, SDDL_REVISION_1,
                                                                 &descriptor, nullptr)) {
            RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, descriptor);
            LocalFree(descriptor);
        }
    }
    LiveKey key;
    RegResult result = key.Open(parent, name, KEY_READ);
    if (result == REG_ERROR_FILE_NOT_FOUND) {
        return REG_OK;
    }
    if (result != REG_OK) {
        *error = Describe("RegOpenKeyExA", path, result);
        return result;
    }
    std::vector<std::string> children;
    for (DWORD index = 0;; ++index) {
        char child[256];
        DWORD childChars = sizeof child;
        LONG status =
            RegEnumKeyExA(key.get(), index, child, &childChars, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) {
            break;
        }
        children.emplace_back(child, childChars);
        if (std::strlen(child) != childChars &&
            EnumCountedName(key.get(), index, &children.back()) != REG_OK) {
            children.pop_back();
        }
    }
    for (const std::string& child : children) {
        if (IsCountedOnlyName(child)) {
            result = DeleteCountedKey(key.get(), child);
            if (result != REG_OK && result != REG_ERROR_FILE_NOT_FOUND) {
                *error = Describe("NtDeleteKey", path + "\\(a name holding NUL)", result);
                return result;
            }
            continue;
        }
        result = ForceDelete(key.get(), child, path + "\\" + child, error);
        if (result != REG_OK) {
            return result;
        }
    }
    result = DeleteItself(parent, name);
    if (result != REG_OK && result != REG_ERROR_FILE_NOT_FOUND) {
        *error = Describe("NtDeleteKey", path, result);
        return result;
    }
    return REG_OK;
}

// A key whose name holds a NUL is reached through its parent only: its
// 8-bit path would name the parent or a sibling.
struct CountedLeaf {
    std::string parent;
    std::string name;
};
bool IsCountedLeaf(const std::string& path, CountedLeaf* leaf) {
    std::size_t cut = path.rfind('\\');
    if (!IsCountedOnlyName(path) || cut == std::string::npos ||
        IsCountedOnlyName(path.substr(0, cut))) {
        return false;
    }
    *leaf = CountedLeaf{path.substr(0, cut), path.substr(cut + 1)};
    return true;
}

bool CountedLeafExists(RegKey root, const CountedLeaf& leaf) {
    LiveKey parent;
    if (parent.Open(ToHkey(root), leaf.parent, KEY_READ) != REG_OK) {
        return false;
    }
    std::string name;
    for (DWORD index = 0; EnumCountedName(parent.get(), index, &name) == REG_OK; ++index) {
        if (name == leaf.name) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool LiveKeyExists(RegKey root, const std::string& path) {
    CountedLeaf leaf;
    if (IsCountedLeaf(path, &leaf)) {
        return CountedLeafExists(root, leaf);
    }
    LiveKey key;
    return key.Open(ToHkey(root), path, KEY_QUERY_VALUE) != REG_ERROR_FILE_NOT_FOUND;
}

RegResult WriteLiveTree(const MemoryRegistry& source, MemoryRegistry::NodeId node, RegKey root,
                        const std::string& path, std::string* error) {
    CountedLeaf leaf;
    if (IsCountedLeaf(path, &leaf)) {
        LiveKey parent;
        RegResult result = parent.Create(ToHkey(root), leaf.parent, false);
        if (result != REG_OK) {
            *error = Describe("RegCreateKeyExA", leaf.parent, result);
            return result;
        }
        return WriteCountedLeaf(source, node, parent.get(), leaf.name, leaf.parent, error);
    }
    if (IsLoadedUserRoot(root, path)) {
        RegResult loaded = LoadUserRoot(path);
        if (loaded != REG_OK) {
            *error = Describe("RegLoadKeyA", path, loaded);
            return loaded;
        }
    }
    LiveKey key;
    RegResult result = key.Create(ToHkey(root), path, IsScenarioLink(source, node));
    if (result != REG_OK) {
        *error = Describe("RegCreateKeyExA", path, result);
        return result;
    }
    return WriteKey(source, node, key.get(), path, error);
}

RegResult ReadLiveTree(RegKey root, const std::string& path, MemoryRegistry& into, int depth,
                       std::vector<std::string>* orderErrors, std::string* error) {
    CountedLeaf leaf;
    if (IsCountedLeaf(path, &leaf)) {
        if (CountedLeafExists(root, leaf)) {
            into.CreatePath(root, path);
        }
        return REG_OK;
    }
    LiveKey key;
    RegResult result = key.Open(ToHkey(root), path, KEY_READ);
    if (result == REG_ERROR_FILE_NOT_FOUND) {
        return REG_OK;
    }
    if (result != REG_OK) {
        *error = Describe("RegOpenKeyExA", path, result);
        return result;
    }
    return ReadKey(key.get(), into, into.CreatePath(root, path), path, depth, orderErrors, error);
}

RegResult GetLiveKeySecurity(RegKey root, const std::string& path, std::string* sddl) {
    return GetSecurity(
        root, path,
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, sddl);
}

RegResult SetLiveKeySecurity(RegKey root, const std::string& path, const std::string& sddl) {
    RegResult result = SetSecurity(root, path, sddl, DACL_SECURITY_INFORMATION);
    // Wine replaces the owner and group with the DACL; Windows leaves them, and
    // lets no administrator set an owner such as SYSTEM back without a privilege.
    if (result != REG_OK || !IsWine()) {
        return result;
    }
    return SetSecurity(root, path, sddl, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION);
}

RegResult SetLiveKeyDacl(RegKey root, const std::string& path, const std::string& sddl) {
    return SetSecurity(root, path, sddl, DACL_SECURITY_INFORMATION);
}

RegResult RestrictLiveKey(RegKey root, const std::string& path, std::uint32_t allowed,
                          bool takeOwnership) {
    // Only Wine needs it (it lets an owner delete whatever the DACL says), and
    // Windows lets no administrator name SYSTEM the owner without SeRestorePrivilege.
    takeOwnership = takeOwnership && IsWine();
    char sddl[96];
    std::snprintf(sddl, sizeof sddl, "%sD:P(A;;0x%x;;;WD)(A;;0x%lx;;;BA)",
                  takeOwnership ? "O:SY" : "", static_cast<unsigned>(allowed),
                  static_cast<unsigned long>(WRITE_DAC));
    return SetSecurity(
        root, path, sddl,
        DACL_SECURITY_INFORMATION | (takeOwnership ? OWNER_SECURITY_INFORMATION : 0));
}

RegResult ForceDeleteLiveTree(RegKey root, const std::string& path, std::string* error) {
    CountedLeaf leaf;
    if (IsCountedLeaf(path, &leaf)) {
        LiveKey parent;
        RegResult result = parent.Open(ToHkey(root), leaf.parent, KEY_READ);
        if (result == REG_OK) {
            result = DeleteCountedKey(parent.get(), leaf.name);
        }
        if (result != REG_OK && result != REG_ERROR_FILE_NOT_FOUND) {
            *error = Describe("NtDeleteKey", leaf.parent, result);
            return result;
        }
        return REG_OK;
    }
    if (IsLoadedUserRoot(root, path)) {
        RegResult result = UnloadUserRoot(path);
        if (result != REG_OK) {
            *error = Describe("RegUnLoadKeyA", path, result);
        }
        return result;
    }
    return ForceDelete(ToHkey(root), path, path, error);
}
