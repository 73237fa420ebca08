// Synthetic Windows Installer data shaped like a real machine's: several
// users, each with Components (one key per component, named by a packed
// code, holding one or two values) and Products (packed code, then
// Features, InstallProperties, Patches, Usage), and the per-user product
// registrations under HKEY_USERS. Every SID is test-only, so the data can be
// imported into a real registry and removed again without touching anything
// else. Deterministic for a given seed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "memory/memory_registry.h"
#include "registry.h"

struct InstallerDataOptions {
    // Keys below the UserData key (UserData itself not counted); at least
    // kMinimumInstallerDataKeys.
    std::size_t keys = 100000;
    // The damaged 1.11 registration, placed last in walk order: the walk
    // meets it only after everything else.
    bool damagedProduct = false;
    std::uint64_t seed = 0x6B65796D656E64ull;
};

constexpr std::size_t kMinimumInstallerDataKeys = 64;

struct InstallerDataSummary {
    std::size_t dataKeys = 0;     // below UserData
    std::size_t productKeys = 0;  // product registrations under HKEY_USERS
    std::size_t products = 0;
    std::size_t components = 0;
    std::vector<std::string> sids;  // in enumeration order
    // Without a damaged product both are empty.
    std::string damagedDataPath;     // under HKEY_LOCAL_MACHINE
    std::string damagedProductPath;  // under HKEY_USERS
};

// Receives the data as a tree, each key's values before its subkeys, every
// key's subkeys in enumeration order.
class InstallerDataSink {
  public:
    virtual ~InstallerDataSink() = default;
    // The keys that follow are children of this root.
    virtual void BeginRoot(RegKey root) = 0;
    virtual void BeginKey(std::string_view name) = 0;
    virtual void EndKey() = 0;
    // data: the raw bytes; strings carry their terminating NUL.
    virtual void Value(std::string_view name, std::uint32_t type, std::string_view data) = 0;
};

// Emits the whole data set: the UserData tree, then HKEY_USERS.
InstallerDataSummary GenerateInstallerData(const InstallerDataOptions& options,
                                           InstallerDataSink& sink);

// Emits only the damaged product's two trees (installer data key and
// product registration), as GenerateInstallerData does; for putting the
// target back after a repair run removed it.
void GenerateDamagedProduct(const InstallerDataOptions& options, InstallerDataSink& sink);

// The SIDs the data uses, for removing it from a real registry.
std::vector<std::string> InstallerDataSids(const InstallerDataOptions& options);

// Builds straight into a registry.
InstallerDataSummary GenerateInstallerData(const InstallerDataOptions& options,
                                           MemoryRegistry& registry);
void GenerateDamagedProduct(const InstallerDataOptions& options, MemoryRegistry& registry);

// REGEDIT4 text of the same data, CRLF line ends.
std::string InstallerDataRegText(const InstallerDataOptions& options,
                                 InstallerDataSummary* summary);
