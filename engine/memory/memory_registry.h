// A registry held in memory that answers the engine's registry operations
// as Windows does: names match without regard to ASCII case, subkeys
// enumerate sorted as Windows sorts them (upper-cased), by index in constant
// time, and are found by name through one hash table in constant average
// time. It adds what tests need: per-key access refusal, a count of open
// handles, and failure injection.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "../registry.h"

enum class RegOperation { Open, Enum, Query, Delete, Count };

class MemoryRegistry {
  public:
    using NodeId = std::uint32_t;
    static constexpr NodeId kNoNode = 0xFFFFFFFFu;

    struct Value {
        std::string name;
        std::uint32_t type = REG_TYPE_NONE;
        std::string data;  // raw bytes, as RegQueryValueExA hands them out
    };

    MemoryRegistry();
    ~MemoryRegistry();
    MemoryRegistry(const MemoryRegistry&) = delete;
    MemoryRegistry& operator=(const MemoryRegistry&) = delete;

    // Root node for HKEY_LOCAL_MACHINE_ROOT or HKEY_USERS_ROOT; kNoNode else.
    NodeId RootNode(RegKey root) const;

    // Building and inspecting, outside the operations' bookkeeping.
    NodeId CreateKey(NodeId parent, std::string_view name);  // existing or new
    NodeId CreatePath(RegKey root, std::string_view path);   // creates every level
    NodeId Find(NodeId parent, std::string_view name) const;
    NodeId FindPath(RegKey root, std::string_view path) const;
    void SetValue(NodeId key, std::string_view name, std::uint32_t type, std::string_view data);
    bool RemoveValue(NodeId key, std::string_view name);
    void RemoveTree(NodeId key);  // the key, all below it, its values
    std::string_view Name(NodeId key) const;
    NodeId Parent(NodeId key) const;
    std::vector<NodeId> Children(NodeId key) const;  // live, in enumeration order
    std::vector<Value> Values(NodeId key) const;     // in insertion order
    std::size_t KeyCount() const { return liveKeys_; }
    std::size_t MemoryBytes() const;
    // What MemoryBytes holds, and how much of it is the registry's content.
    struct MemoryUse {
        std::size_t total = 0;
        std::size_t keyNames = 0;           // live keys' names
        std::size_t valueNamesAndData = 0;  // live values' names and data
    };
    MemoryUse MemoryUsage() const;

    // Access refusal as a non-administrator meets it: an open asking for any
    // right outside allowed fails with 5; RegDeleteKey needs ACCESS_DELETE.
    void SetAllowedAccess(NodeId key, std::uint32_t allowed);

    // The nth call (counting from 1, from now) of op fails with code and has
    // no effect. Several may be armed at once.
    void InjectFailure(RegOperation op, std::uint32_t nth, RegResult code);
    std::uint32_t CallCount(RegOperation op) const { return calls_[static_cast<int>(op)]; }

    std::uint32_t OpenHandleCount() const { return openHandles_; }

    // The operations, with the semantics of their advapi32 namesakes.
    RegResult Open(RegKey root, const char* path, std::uint32_t access, RegKey* key);
    RegResult Enum(RegKey key, std::uint32_t index, char* name, std::uint32_t* nameChars,
                   char* className, std::uint32_t* classChars);
    RegResult Query(RegKey key, const char* valueName, std::uint32_t* type, unsigned char* data,
                    std::uint32_t* size);
    RegResult Delete(RegKey parent, const char* childName);
    void Close(RegKey key);

  private:
    struct Node;
    struct ChildList;
    struct Handle {
        NodeId node = kNoNode;
        std::uint32_t access = 0;
        bool inUse = false;
    };
    struct Injection {
        RegOperation op;
        std::uint32_t atCall;
        RegResult code;
    };

    bool Injected(RegOperation op, RegResult* code);
    RegResult ResolveHandle(RegKey key, std::uint32_t needed, NodeId* node) const;
    NodeId Resolve(NodeId start, std::string_view path, RegResult* error) const;
    NodeId NewNode(NodeId parent, std::string_view name);
    void Unlink(NodeId key);
    void SortChildren(NodeId key) const;

    // Hash table over (parent, folded name) for lookups by name.
    std::uint64_t HashOf(NodeId parent, std::string_view name) const;
    void HashInsert(NodeId node);
    void HashErase(NodeId node);
    void HashGrow();

    std::vector<Node> nodes_;
    std::string names_;  // every key name, back to back
    std::vector<std::uint32_t> slots_;
    std::size_t slotsUsed_ = 0;  // live entries and tombstones
    std::size_t liveKeys_ = 0;
    std::vector<Handle> handles_;
    std::vector<std::uint32_t> freeHandles_;
    std::uint32_t openHandles_ = 0;
    std::vector<Injection> injections_;
    std::uint32_t calls_[static_cast<int>(RegOperation::Count)] = {};
    NodeId roots_[2];
};

// The registry that the engine's operations reach on a host build; tests set
// it before they run the engine. Null: every operation fails with 6.
void UseMemoryRegistry(MemoryRegistry* registry);
MemoryRegistry* ActiveMemoryRegistry();
