// A registry held in memory that answers the engine's registry operations
// as Windows does: names match without regard to ASCII case, subkeys
// enumerate sorted as Windows sorts them (upper-cased), by index in constant
// time, and are found by name through one hash table in constant average
// time. It adds what tests need: per-key access refusal, a count of open
// handles, failure injection and an observer of every call.
//
// Built for walks of a million keys: a walk opens each key by its full path
// just after enumerating it, so the last resolved path of each start key and
// the last enumerated subkey are remembered, and such an open hashes nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
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

    // Every operation as it returns: which key it reached (kNoNode when it
    // reached none), the access asked (Open) or index (Enum), the path,
    // value or subkey name it was given, and its result.
    enum class CallKind { Open, Enum, Query, Delete, Close };
    struct Call {
        CallKind kind;
        NodeId node;
        std::uint32_t detail;
        std::string_view name;
        RegResult result;
    };
    using CallObserver = void (*)(void* context, const Call& call);
    void SetCallObserver(CallObserver observer, void* context);

    // The operations, with the semantics of their advapi32 namesakes.
    RegResult Open(RegKey root, const char* path, std::uint32_t access, RegKey* key);
    RegResult Enum(RegKey key, std::uint32_t index, char* name, std::uint32_t* nameChars,
                   char* className, std::uint32_t* classChars);
    RegResult Query(RegKey key, const char* valueName, std::uint32_t* type, unsigned char* data,
                    std::uint32_t* size);
    RegResult Delete(RegKey parent, const char* childName);
    void Close(RegKey key);

  private:
    // Fixed-size blocks: growth copies nothing and wastes at most a block.
    template <typename T>
    class BlockArray {
      public:
        static constexpr std::uint32_t kShift = 12;
        static constexpr std::uint32_t kBlock = 1u << kShift;
        T& operator[](std::uint32_t i) { return blocks_[i >> kShift][i & (kBlock - 1)]; }
        const T& operator[](std::uint32_t i) const {
            return blocks_[i >> kShift][i & (kBlock - 1)];
        }
        std::uint32_t size() const { return size_; }
        void push_back(const T& item);
        void clear();
        std::size_t MemoryBytes() const;

      private:
        std::vector<std::unique_ptr<T[]>> blocks_;
        std::uint32_t size_ = 0;
    };

    // Byte strings back to back in blocks; an item never straddles blocks.
    class BytePool {
      public:
        std::uint32_t Add(std::string_view a, std::string_view b = {});
        const char* At(std::uint32_t ref) const {
            return blocks_[ref >> kOffsetBits].get() + (ref & kOffsetMask);
        }
        char* MutableAt(std::uint32_t ref) {
            return blocks_[ref >> kOffsetBits].get() + (ref & kOffsetMask);
        }
        void clear();
        std::size_t MemoryBytes() const;
        std::size_t size() const { return stored_; }

      private:
        static constexpr std::uint32_t kOffsetBits = 18;
        static constexpr std::uint32_t kOffsetMask = (1u << kOffsetBits) - 1;
        static constexpr std::size_t kBlockBytes = std::size_t{1} << kOffsetBits;
        std::vector<std::unique_ptr<char[]>> blocks_;
        std::vector<std::size_t> blockBytes_;
        // Blocks double up to kBlockBytes: a small registry stays small.
        static constexpr std::size_t kFirstBlockBytes = std::size_t{16} << 10;
        std::size_t current_ = 0;  // block being filled
        std::size_t currentBytes_ = 0;
        std::size_t used_ = 0;
        std::size_t stored_ = 0;
    };

    struct Node {
        NodeId parent;
        std::uint32_t name;  // in names_
        // Subkeys: a slice of children_, in enumeration order when sorted.
        std::uint32_t childBegin;
        std::uint32_t childCount;
        std::uint32_t childCapacity;
        // Values: a slice of values_, in insertion order.
        std::uint32_t valueBegin;
        std::uint32_t valueCount;
        std::uint16_t nameLength;
        std::uint16_t flags;
    };
    struct ValueRecord {
        std::uint32_t bytes;  // in valueBytes_: the name, then the data
        std::uint32_t nameLength;
        std::uint32_t dataSize;
        std::uint32_t type;
    };
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
    // The nodes along the path last resolved from one start key.
    struct PathCache {
        NodeId start = kNoNode;
        std::string path;  // up to the end of the last level
        std::vector<std::uint32_t> ends;
        std::vector<NodeId> nodes;
    };

    bool Injected(RegOperation op, RegResult* code);
    void Notify(CallKind kind, NodeId node, std::uint32_t detail, std::string_view name,
                RegResult result) const;
    RegResult OpenKey(RegKey root, const char* path, std::uint32_t access, RegKey* key,
                      NodeId* opened);
    RegResult EnumKey(RegKey key, std::uint32_t index, char* name, std::uint32_t* nameChars,
                      char* className, std::uint32_t* classChars, NodeId* reached);
    RegResult QueryValue(RegKey key, const char* valueName, std::uint32_t* type,
                         unsigned char* data, std::uint32_t* size, NodeId* reached);
    RegResult DeleteKey(RegKey parent, const char* childName, NodeId* reached);
    RegResult ResolveHandle(RegKey key, std::uint32_t needed, NodeId* node) const;
    NodeId Resolve(NodeId start, std::string_view path, RegResult* error) const;
    NodeId ResolveCached(NodeId start, std::string_view path, RegResult* error);
    NodeId FindHashed(NodeId parent, std::string_view name, std::uint64_t hash) const;
    NodeId NewNode(NodeId parent, std::string_view name, std::uint64_t hash);
    void AppendChild(NodeId parent, NodeId child);
    void Unlink(NodeId key);
    void SortChildren(NodeId key) const;
    std::uint32_t Allowed(NodeId key) const;
    bool SameName(NodeId key, std::string_view name) const;
    ValueRecord* FindValue(NodeId key, std::string_view name);
    void ReleaseValues(Node& node);
    void CompactChildren();
    void CompactValues();

    // Open addressing over (parent, folded name): each slot holds a node and
    // the upper half of its hash, so probes rarely touch a node.
    static std::uint64_t HashOf(NodeId parent, std::string_view name);
    void HashInsert(NodeId node, std::uint64_t hash);
    void HashErase(NodeId node);
    void HashGrow();

    BlockArray<Node> nodes_;
    BytePool names_;
    mutable std::vector<NodeId> children_;
    std::size_t childrenGarbage_ = 0;
    BlockArray<ValueRecord> values_;
    std::size_t valuesGarbage_ = 0;
    BytePool valueBytes_;
    std::size_t valueBytesGarbage_ = 0;
    std::vector<std::uint64_t> slots_;
    std::size_t liveKeys_ = 0;
    std::unordered_map<NodeId, std::uint32_t> allowed_;  // only keys not allowing all
    std::vector<Handle> handles_;
    std::vector<std::uint32_t> freeHandles_;
    std::uint32_t openHandles_ = 0;
    std::vector<Injection> injections_;
    std::uint32_t calls_[static_cast<int>(RegOperation::Count)] = {};
    CallObserver observer_ = nullptr;
    void* observerContext_ = nullptr;
    PathCache caches_[2];
    std::uint32_t lastCache_ = 0;
    // The subkey that the last enumeration returned, and its parent.
    NodeId enumParent_ = kNoNode;
    NodeId enumChild_ = kNoNode;
    NodeId roots_[2];
};

// The registry that the engine's operations reach on a host build; tests set
// it before they run the engine. Null: every operation fails with 6.
void UseMemoryRegistry(MemoryRegistry* registry);
MemoryRegistry* ActiveMemoryRegistry();

// The active registry for the life of a scope.
class ScopedActiveRegistry {
  public:
    explicit ScopedActiveRegistry(MemoryRegistry& registry) { UseMemoryRegistry(&registry); }
    ~ScopedActiveRegistry() { UseMemoryRegistry(nullptr); }
    ScopedActiveRegistry(const ScopedActiveRegistry&) = delete;
    ScopedActiveRegistry& operator=(const ScopedActiveRegistry&) = delete;
};
