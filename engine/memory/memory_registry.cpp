#include "memory_registry.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::uint64_t kEmptySlot = ~std::uint64_t{0};
constexpr std::uint32_t kAccessRights = 0x000F003Fu;
constexpr RegKey kFirstHandle = 0x100;
constexpr RegKey kHandleStep = 4;

constexpr std::uint16_t kAlive = 1;
constexpr std::uint16_t kSorted = 2;  // the subkey slice is in enumeration order
constexpr std::uint16_t kRestricted = 4;

// Pools are compacted once their garbage outweighs what is live and exceeds
// these, so that a registry that is built and torn down repeatedly (fuzzing)
// stays bounded without compacting small ones all the time.
constexpr std::size_t kMinimumChildrenGarbage = 4096;
constexpr std::size_t kMinimumValuesGarbage = 4096;
constexpr std::size_t kMinimumValueBytesGarbage = std::size_t{1} << 20;

constexpr std::uint64_t kOnes = 0x0101010101010101ull;
constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

// Folds A..Z onto a..z in eight bytes at once, every other byte unchanged.
// The high bit is masked off first so that no byte carries into the next.
inline std::uint64_t FoldWord(std::uint64_t word) {
    std::uint64_t low = word & ~kHighBits;
    std::uint64_t atLeastA = low + kOnes * (0x80 - 'A');
    std::uint64_t aboveZ = low + kOnes * (0x80 - 'Z' - 1);
    return word | ((atLeastA & ~aboveZ & ~word & kHighBits) >> 2);
}

// Up to eight bytes, zero-filled.
inline std::uint64_t LoadWord(const char* bytes, std::size_t count) {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes, count);
    return word;
}

bool SameFolded(const char* a, const char* b, std::size_t count) {
    if (std::memcmp(a, b, count) == 0) {
        return true;
    }
    for (; count >= 8; a += 8, b += 8, count -= 8) {
        if (FoldWord(LoadWord(a, 8)) != FoldWord(LoadWord(b, 8))) {
            return false;
        }
    }
    return count == 0 || FoldWord(LoadWord(a, count)) == FoldWord(LoadWord(b, count));
}

// Windows orders subkeys by their upper-cased names.
int CompareForEnumeration(std::string_view a, std::string_view b) {
    std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char ca = static_cast<unsigned char>(a[i]);
        unsigned char cb = static_cast<unsigned char>(b[i]);
        if (ca >= 'a' && ca <= 'z')
            ca = static_cast<unsigned char>(ca - 32);
        if (cb >= 'a' && cb <= 'z')
            cb = static_cast<unsigned char>(cb - 32);
        if (ca != cb) {
            return ca < cb ? -1 : 1;
        }
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace

// ---------------------------------------------------------------- storage

template <typename T>
void MemoryRegistry::BlockArray<T>::push_back(const T& item) {
    if (size_ == blocks_.size() * kBlock) {
        blocks_.push_back(std::make_unique<T[]>(kBlock));
    }
    // item may live in this array: blocks never move, so it is still valid.
    (*this)[size_++] = item;
}

template <typename T>
void MemoryRegistry::BlockArray<T>::clear() {
    blocks_.clear();
    size_ = 0;
}

template <typename T>
std::size_t MemoryRegistry::BlockArray<T>::MemoryBytes() const {
    return blocks_.size() * kBlock * sizeof(T) + blocks_.capacity() * sizeof(blocks_[0]);
}

std::uint32_t MemoryRegistry::BytePool::Add(std::string_view a, std::string_view b) {
    std::size_t size = a.size() + b.size();
    std::size_t block;
    std::size_t offset = 0;
    // An item smaller than a block starts below its end: offsets fit.
    if (size >= kBlockBytes) {
        block = blocks_.size();
        blocks_.push_back(std::unique_ptr<char[]>(new char[size]));
        blockBytes_.push_back(size);
    } else {
        if (blocks_.empty() || used_ + size >= currentBytes_) {
            std::size_t bytes =
                std::max(kFirstBlockBytes, std::min(kBlockBytes, currentBytes_ * 2));
            while (bytes <= size) {
                bytes *= 2;
            }
            current_ = blocks_.size();
            blocks_.push_back(std::unique_ptr<char[]>(new char[bytes]));
            blockBytes_.push_back(bytes);
            currentBytes_ = bytes;
            used_ = 0;
        }
        block = current_;
        offset = used_;
        used_ += size;
    }
    if (block >> (32 - kOffsetBits) != 0) {
        std::abort();  // 4 GB of names: beyond what any registry holds
    }
    char* out = blocks_[block].get() + offset;
    if (!a.empty())
        std::memcpy(out, a.data(), a.size());
    if (!b.empty())
        std::memcpy(out + a.size(), b.data(), b.size());
    stored_ += size;
    return static_cast<std::uint32_t>(block << kOffsetBits | offset);
}

void MemoryRegistry::BytePool::clear() {
    blocks_.clear();
    blockBytes_.clear();
    current_ = 0;
    currentBytes_ = 0;
    used_ = 0;
    stored_ = 0;
}

std::size_t MemoryRegistry::BytePool::MemoryBytes() const {
    std::size_t bytes =
        blocks_.capacity() * sizeof(blocks_[0]) + blockBytes_.capacity() * sizeof(blockBytes_[0]);
    for (std::size_t size : blockBytes_) {
        bytes += size;
    }
    return bytes;
}

// ---------------------------------------------------------------- keys

MemoryRegistry::MemoryRegistry() {
    slots_.assign(1024, kEmptySlot);
    roots_[0] = NewNode(kNoNode, "HKEY_LOCAL_MACHINE", 0);
    roots_[1] = NewNode(kNoNode, "HKEY_USERS", 0);
}

MemoryRegistry::~MemoryRegistry() = default;

MemoryRegistry::NodeId MemoryRegistry::RootNode(RegKey root) const {
    if (root == HKEY_LOCAL_MACHINE_ROOT)
        return roots_[0];
    if (root == HKEY_USERS_ROOT)
        return roots_[1];
    return kNoNode;
}

std::string_view MemoryRegistry::Name(NodeId key) const {
    const Node& node = nodes_[key];
    return std::string_view(names_.At(node.name), node.nameLength);
}

MemoryRegistry::NodeId MemoryRegistry::Parent(NodeId key) const {
    return nodes_[key].parent;
}

bool MemoryRegistry::SameName(NodeId key, std::string_view name) const {
    const Node& node = nodes_[key];
    return node.nameLength == name.size() &&
           SameFolded(names_.At(node.name), name.data(), name.size());
}

std::uint64_t MemoryRegistry::HashOf(NodeId parent, std::string_view name) {
    constexpr std::uint64_t kMultiplier = 0xBF58476D1CE4E5B9ull;
    std::uint64_t hash = (static_cast<std::uint64_t>(parent) + 1) * 0x9E3779B97F4A7C15ull;
    hash ^= name.size();
    const char* bytes = name.data();
    std::size_t count = name.size();
    for (; count >= 8; bytes += 8, count -= 8) {
        hash = (hash ^ FoldWord(LoadWord(bytes, 8))) * kMultiplier;
        hash ^= hash >> 31;
    }
    if (count > 0) {
        hash = (hash ^ FoldWord(LoadWord(bytes, count))) * kMultiplier;
        hash ^= hash >> 31;
    }
    hash ^= hash >> 29;
    hash *= 0x94D049BB133111EBull;
    return hash ^ (hash >> 32);
}

// A slot: the upper half of the hash, then the node. Its home is the upper
// half masked to the table, so erasing can move slots without the nodes.
void MemoryRegistry::HashInsert(NodeId node, std::uint64_t hash) {
    if ((liveKeys_ + 1) * 5 > slots_.size() * 3) {
        HashGrow();
    }
    std::size_t mask = slots_.size() - 1;
    std::size_t i = (hash >> 32) & mask;
    while (slots_[i] != kEmptySlot) {
        i = (i + 1) & mask;
    }
    slots_[i] = (hash & 0xFFFFFFFF00000000ull) | node;
}

void MemoryRegistry::HashErase(NodeId node) {
    std::size_t mask = slots_.size() - 1;
    std::uint64_t hash = HashOf(nodes_[node].parent, Name(node));
    std::size_t i = (hash >> 32) & mask;
    while (slots_[i] != kEmptySlot && static_cast<NodeId>(slots_[i]) != node) {
        i = (i + 1) & mask;
    }
    if (slots_[i] == kEmptySlot) {
        return;
    }
    // Backward shift: no tombstones, so probes stay short after deletions.
    slots_[i] = kEmptySlot;
    for (std::size_t j = (i + 1) & mask; slots_[j] != kEmptySlot; j = (j + 1) & mask) {
        std::size_t home = (slots_[j] >> 32) & mask;
        bool stays = i <= j ? (i < home && home <= j) : (i < home || home <= j);
        if (!stays) {
            slots_[i] = slots_[j];
            slots_[j] = kEmptySlot;
            i = j;
        }
    }
}

void MemoryRegistry::HashGrow() {
    std::vector<std::uint64_t> old(slots_.size() * 2, kEmptySlot);
    old.swap(slots_);
    std::size_t mask = slots_.size() - 1;
    for (std::uint64_t slot : old) {
        if (slot != kEmptySlot) {
            std::size_t i = (slot >> 32) & mask;
            while (slots_[i] != kEmptySlot) {
                i = (i + 1) & mask;
            }
            slots_[i] = slot;
        }
    }
}

MemoryRegistry::NodeId MemoryRegistry::FindHashed(NodeId parent, std::string_view name,
                                                  std::uint64_t hash) const {
    std::size_t mask = slots_.size() - 1;
    std::uint64_t tag = hash >> 32;
    for (std::size_t i = tag & mask;; i = (i + 1) & mask) {
        std::uint64_t slot = slots_[i];
        if (slot == kEmptySlot) {
            return kNoNode;
        }
        if ((slot >> 32) == tag) {
            NodeId id = static_cast<NodeId>(slot);
            if (nodes_[id].parent == parent && SameName(id, name)) {
                return id;
            }
        }
    }
}

MemoryRegistry::NodeId MemoryRegistry::Find(NodeId parent, std::string_view name) const {
    // A walk opens the subkey it has just enumerated.
    if (parent == enumParent_ && enumChild_ != kNoNode && (nodes_[enumChild_].flags & kAlive) &&
        SameName(enumChild_, name)) {
        return enumChild_;
    }
    return FindHashed(parent, name, HashOf(parent, name));
}

MemoryRegistry::NodeId MemoryRegistry::NewNode(NodeId parent, std::string_view name,
                                               std::uint64_t hash) {
    NodeId id = nodes_.size();
    Node node{};
    node.parent = parent;
    node.name = names_.Add(name);
    node.nameLength = static_cast<std::uint16_t>(name.size());
    node.flags = kAlive | kSorted;
    nodes_.push_back(node);
    if (parent != kNoNode) {
        AppendChild(parent, id);
        HashInsert(id, hash);
        ++liveKeys_;
    }
    return id;
}

void MemoryRegistry::AppendChild(NodeId parent, NodeId child) {
    Node& node = nodes_[parent];
    if (node.childCount == node.childCapacity) {
        if (childrenGarbage_ > kMinimumChildrenGarbage && childrenGarbage_ * 2 > children_.size()) {
            CompactChildren();
        }
        std::uint32_t capacity = node.childCapacity == 0 ? 1 : node.childCapacity * 2;
        if (node.childCapacity > 0 && node.childBegin + node.childCapacity == children_.size()) {
            children_.resize(node.childBegin + capacity);  // last slice: grows in place
        } else {
            std::size_t begin = children_.size();
            children_.resize(begin + capacity);
            std::copy_n(children_.begin() + node.childBegin, node.childCount,
                        children_.begin() + static_cast<std::ptrdiff_t>(begin));
            childrenGarbage_ += node.childCapacity;
            node.childBegin = static_cast<std::uint32_t>(begin);
        }
        node.childCapacity = capacity;
    }
    if ((node.flags & kSorted) && node.childCount > 0 &&
        CompareForEnumeration(Name(children_[node.childBegin + node.childCount - 1]), Name(child)) >
            0) {
        node.flags &= static_cast<std::uint16_t>(~kSorted);
    }
    children_[node.childBegin + node.childCount++] = child;
}

void MemoryRegistry::CompactChildren() {
    std::vector<NodeId> compacted;
    compacted.reserve(children_.size() - childrenGarbage_);
    for (NodeId id = 0; id < nodes_.size(); ++id) {
        Node& node = nodes_[id];
        if (node.childCount == 0) {
            continue;
        }
        std::size_t begin = compacted.size();
        compacted.insert(compacted.end(), children_.begin() + node.childBegin,
                         children_.begin() + node.childBegin + node.childCount);
        node.childBegin = static_cast<std::uint32_t>(begin);
        node.childCapacity = node.childCount;
    }
    children_.swap(compacted);
    childrenGarbage_ = 0;
}

MemoryRegistry::NodeId MemoryRegistry::CreateKey(NodeId parent, std::string_view name) {
    std::uint64_t hash = HashOf(parent, name);
    NodeId existing = FindHashed(parent, name, hash);
    return existing != kNoNode ? existing : NewNode(parent, name, hash);
}

MemoryRegistry::NodeId MemoryRegistry::CreatePath(RegKey root, std::string_view path) {
    NodeId node = RootNode(root);
    while (node != kNoNode && !path.empty()) {
        std::size_t cut = path.find('\\');
        std::string_view name = path.substr(0, cut);
        if (!name.empty()) {
            node = CreateKey(node, name);
        }
        path = cut == std::string_view::npos ? std::string_view() : path.substr(cut + 1);
    }
    return node;
}

MemoryRegistry::NodeId MemoryRegistry::Resolve(NodeId start, std::string_view path,
                                               RegResult* error) const {
    if (!path.empty() && path[0] == '\\') {
        *error = REG_ERROR_BAD_PATHNAME;
        return kNoNode;
    }
    NodeId node = start;
    for (std::size_t pos = 0; pos < path.size();) {
        if (path[pos] == '\\') {
            ++pos;
            continue;
        }
        std::size_t cut = std::min(path.find('\\', pos), path.size());
        node = Find(node, path.substr(pos, cut - pos));
        if (node == kNoNode) {
            *error = REG_ERROR_FILE_NOT_FOUND;
            return kNoNode;
        }
        pos = cut;
    }
    return node;
}

// Resumes from the deepest level that the path shares with the one last
// resolved from the same start, so a walk hashes at most its last name.
MemoryRegistry::NodeId MemoryRegistry::ResolveCached(NodeId start, std::string_view path,
                                                     RegResult* error) {
    if (path.find('\\') == std::string_view::npos) {
        return Resolve(start, path, error);
    }
    if (path[0] == '\\') {
        *error = REG_ERROR_BAD_PATHNAME;
        return kNoNode;
    }
    if (caches_[lastCache_].start != start) {
        lastCache_ ^= 1;
        if (caches_[lastCache_].start != start) {
            PathCache& evicted = caches_[lastCache_];
            evicted.start = start;
            evicted.path.clear();
            evicted.ends.clear();
            evicted.nodes.clear();
        }
    }
    PathCache& cache = caches_[lastCache_];
    std::size_t limit = std::min(path.size(), cache.path.size());
    std::size_t common = 0;
    while (common + 8 <= limit &&
           LoadWord(path.data() + common, 8) == LoadWord(cache.path.data() + common, 8)) {
        common += 8;
    }
    while (common < limit && path[common] == cache.path[common]) {
        ++common;
    }
    std::size_t level = cache.ends.size();
    while (level > 0) {
        std::size_t end = cache.ends[level - 1];
        if (end <= common && (end == path.size() || path[end] == '\\')) {
            break;
        }
        --level;
    }
    cache.ends.resize(level);
    cache.nodes.resize(level);
    std::size_t shared = level > 0 ? cache.ends.back() : 0;
    NodeId node = level > 0 ? cache.nodes.back() : start;
    cache.path.resize(shared);
    for (std::size_t pos = shared; pos < path.size();) {
        if (path[pos] == '\\') {
            ++pos;
            continue;
        }
        std::size_t cut = std::min(path.find('\\', pos), path.size());
        node = Find(node, path.substr(pos, cut - pos));
        if (node == kNoNode) {
            *error = REG_ERROR_FILE_NOT_FOUND;
            break;
        }
        cache.ends.push_back(static_cast<std::uint32_t>(cut));
        cache.nodes.push_back(node);
        pos = cut;
    }
    std::size_t resolved = cache.ends.empty() ? 0 : cache.ends.back();
    cache.path.append(path.data() + shared, resolved - shared);
    return node;
}

MemoryRegistry::NodeId MemoryRegistry::FindPath(RegKey root, std::string_view path) const {
    RegResult ignored = REG_OK;
    NodeId start = RootNode(root);
    return start == kNoNode ? kNoNode : Resolve(start, path, &ignored);
}

void MemoryRegistry::SortChildren(NodeId key) const {
    Node& node = const_cast<Node&>(nodes_[key]);
    if (node.flags & kSorted) {
        return;
    }
    auto begin = children_.begin() + node.childBegin;
    std::sort(begin, begin + node.childCount,
              [this](NodeId a, NodeId b) { return CompareForEnumeration(Name(a), Name(b)) < 0; });
    node.flags |= kSorted;
}

std::vector<MemoryRegistry::NodeId> MemoryRegistry::Children(NodeId key) const {
    SortChildren(key);
    const Node& node = nodes_[key];
    auto begin = children_.begin() + node.childBegin;
    return std::vector<NodeId>(begin, begin + node.childCount);
}

void MemoryRegistry::Unlink(NodeId key) {
    Node& node = nodes_[key];
    Node& parent = nodes_[node.parent];
    auto begin = children_.begin() + parent.childBegin;
    auto end = begin + parent.childCount;
    if (*begin == key) {
        // The recursive delete always takes index 0.
        ++parent.childBegin;
        --parent.childCapacity;
        ++childrenGarbage_;
    } else {
        auto it = (parent.flags & kSorted)
                      ? std::lower_bound(begin, end, key,
                                         [this](NodeId a, NodeId b) {
                                             return CompareForEnumeration(Name(a), Name(b)) < 0;
                                         })
                      : std::find(begin, end, key);
        std::copy(it + 1, end, it);
    }
    if (--parent.childCount == 0) {
        childrenGarbage_ += parent.childCapacity;
        parent.childBegin = 0;
        parent.childCapacity = 0;
        parent.flags |= kSorted;
    }
    HashErase(key);
    for (PathCache& cache : caches_) {
        if (!cache.nodes.empty() && cache.nodes.back() == key) {
            // Only a leaf is unlinked, so only the deepest level can name it.
            cache.nodes.pop_back();
            cache.ends.pop_back();
            cache.path.resize(cache.ends.empty() ? 0 : cache.ends.back());
        }
    }
    ReleaseValues(node);
    node.flags &= static_cast<std::uint16_t>(~(kAlive | kRestricted));
    allowed_.erase(key);
    --liveKeys_;
}

void MemoryRegistry::RemoveTree(NodeId key) {
    if (nodes_[key].parent == kNoNode) {
        return;  // a root stays
    }
    std::vector<NodeId> pending{key};
    while (!pending.empty()) {
        NodeId id = pending.back();
        const Node& node = nodes_[id];
        if (node.childCount > 0) {
            pending.push_back(children_[node.childBegin]);
            continue;
        }
        pending.pop_back();
        Unlink(id);
    }
}

// ---------------------------------------------------------------- values

MemoryRegistry::ValueRecord* MemoryRegistry::FindValue(NodeId key, std::string_view name) {
    const Node& node = nodes_[key];
    for (std::uint32_t i = 0; i < node.valueCount; ++i) {
        ValueRecord& value = values_[node.valueBegin + i];
        if (value.nameLength == name.size() &&
            SameFolded(valueBytes_.At(value.bytes), name.data(), name.size())) {
            return &value;
        }
    }
    return nullptr;
}

void MemoryRegistry::ReleaseValues(Node& node) {
    for (std::uint32_t i = 0; i < node.valueCount; ++i) {
        const ValueRecord& value = values_[node.valueBegin + i];
        valueBytesGarbage_ += value.nameLength + value.dataSize;
    }
    valuesGarbage_ += node.valueCount;
    node.valueCount = 0;
}

void MemoryRegistry::CompactValues() {
    BlockArray<ValueRecord> records;
    BytePool bytes;
    for (NodeId id = 0; id < nodes_.size(); ++id) {
        Node& node = nodes_[id];
        std::uint32_t begin = records.size();
        for (std::uint32_t i = 0; i < node.valueCount; ++i) {
            ValueRecord value = values_[node.valueBegin + i];
            value.bytes = bytes.Add(
                std::string_view(valueBytes_.At(value.bytes), value.nameLength + value.dataSize));
            records.push_back(value);
        }
        node.valueBegin = begin;
    }
    std::swap(values_, records);
    std::swap(valueBytes_, bytes);
    valuesGarbage_ = 0;
    valueBytesGarbage_ = 0;
}

void MemoryRegistry::SetValue(NodeId key, std::string_view name, std::uint32_t type,
                              std::string_view data) {
    if ((valuesGarbage_ > kMinimumValuesGarbage && valuesGarbage_ * 2 > values_.size()) ||
        (valueBytesGarbage_ > kMinimumValueBytesGarbage &&
         valueBytesGarbage_ * 2 > valueBytes_.size())) {
        CompactValues();
    }
    if (ValueRecord* value = FindValue(key, name)) {
        // The name keeps the letter case it was created with.
        if (data.size() <= value->dataSize) {
            if (!data.empty()) {
                std::memcpy(valueBytes_.MutableAt(value->bytes) + value->nameLength, data.data(),
                            data.size());
            }
            valueBytesGarbage_ += value->dataSize - data.size();
        } else {
            std::string_view oldName(valueBytes_.At(value->bytes), value->nameLength);
            valueBytesGarbage_ += value->nameLength + value->dataSize;
            value->bytes = valueBytes_.Add(oldName, data);
        }
        value->dataSize = static_cast<std::uint32_t>(data.size());
        value->type = type;
        return;
    }
    Node& node = nodes_[key];
    if (node.valueCount == 0) {
        node.valueBegin = values_.size();
    } else if (node.valueBegin + node.valueCount != values_.size()) {
        // Not the last slice: move it there, where it can grow.
        std::uint32_t begin = values_.size();
        for (std::uint32_t i = 0; i < node.valueCount; ++i) {
            values_.push_back(values_[node.valueBegin + i]);
        }
        valuesGarbage_ += node.valueCount;
        node.valueBegin = begin;
    }
    values_.push_back(ValueRecord{valueBytes_.Add(name, data),
                                  static_cast<std::uint32_t>(name.size()),
                                  static_cast<std::uint32_t>(data.size()), type});
    ++node.valueCount;
}

bool MemoryRegistry::RemoveValue(NodeId key, std::string_view name) {
    ValueRecord* value = FindValue(key, name);
    if (value == nullptr) {
        return false;
    }
    Node& node = nodes_[key];
    valueBytesGarbage_ += value->nameLength + value->dataSize;
    std::uint32_t index = 0;
    while (&values_[node.valueBegin + index] != value) {
        ++index;
    }
    for (std::uint32_t i = index; i + 1 < node.valueCount; ++i) {
        values_[node.valueBegin + i] = values_[node.valueBegin + i + 1];
    }
    --node.valueCount;
    ++valuesGarbage_;
    return true;
}

std::vector<MemoryRegistry::Value> MemoryRegistry::Values(NodeId key) const {
    const Node& node = nodes_[key];
    std::vector<Value> values;
    values.reserve(node.valueCount);
    for (std::uint32_t i = 0; i < node.valueCount; ++i) {
        const ValueRecord& value = values_[node.valueBegin + i];
        const char* bytes = valueBytes_.At(value.bytes);
        values.push_back(Value{std::string(bytes, value.nameLength), value.type,
                               std::string(bytes + value.nameLength, value.dataSize)});
    }
    return values;
}

// ---------------------------------------------------------------- access

void MemoryRegistry::SetAllowedAccess(NodeId key, std::uint32_t allowed) {
    Node& node = nodes_[key];
    if (allowed == ACCESS_KEY_ALL) {
        allowed_.erase(key);
        node.flags &= static_cast<std::uint16_t>(~kRestricted);
    } else {
        allowed_[key] = allowed;
        node.flags |= kRestricted;
    }
}

std::uint32_t MemoryRegistry::Allowed(NodeId key) const {
    if (!(nodes_[key].flags & kRestricted)) {
        return ACCESS_KEY_ALL;
    }
    auto it = allowed_.find(key);
    return it != allowed_.end() ? it->second : ACCESS_KEY_ALL;
}

void MemoryRegistry::InjectFailure(RegOperation op, std::uint32_t nth, RegResult code) {
    injections_.push_back(Injection{op, calls_[static_cast<int>(op)] + nth, code});
}

bool MemoryRegistry::Injected(RegOperation op, RegResult* code) {
    std::uint32_t call = ++calls_[static_cast<int>(op)];
    for (const Injection& injection : injections_) {
        if (injection.op == op && injection.atCall == call) {
            *code = injection.code;
            return true;
        }
    }
    return false;
}

void MemoryRegistry::SetCallObserver(CallObserver observer, void* context) {
    observer_ = observer;
    observerContext_ = context;
}

void MemoryRegistry::Notify(CallKind kind, NodeId node, std::uint32_t detail, std::string_view name,
                            RegResult result) const {
    if (observer_ != nullptr) {
        observer_(observerContext_, Call{kind, node, detail, name, result});
    }
}

RegResult MemoryRegistry::ResolveHandle(RegKey key, std::uint32_t needed, NodeId* node) const {
    NodeId root = RootNode(key);
    if (root != kNoNode) {
        *node = root;
        return REG_OK;
    }
    if (key < kFirstHandle || (key - kFirstHandle) % kHandleStep != 0) {
        return REG_ERROR_INVALID_HANDLE;
    }
    std::size_t slot = (key - kFirstHandle) / kHandleStep;
    if (slot >= handles_.size() || !handles_[slot].inUse) {
        return REG_ERROR_INVALID_HANDLE;
    }
    const Handle& handle = handles_[slot];
    if ((handle.access & needed) != needed) {
        return REG_ERROR_ACCESS_DENIED;
    }
    if (!(nodes_[handle.node].flags & kAlive)) {
        return REG_ERROR_KEY_DELETED;
    }
    *node = handle.node;
    return REG_OK;
}

// ---------------------------------------------------------------- operations

RegResult MemoryRegistry::Open(RegKey root, const char* path, std::uint32_t access, RegKey* key) {
    NodeId opened = kNoNode;
    RegResult result = OpenKey(root, path, access, key, &opened);
    Notify(CallKind::Open, opened, access, path ? path : "", result);
    return result;
}

RegResult MemoryRegistry::OpenKey(RegKey root, const char* path, std::uint32_t access, RegKey* key,
                                  NodeId* opened) {
    RegResult result = REG_OK;
    if (Injected(RegOperation::Open, &result)) {
        return result;
    }
    NodeId start = kNoNode;
    result = ResolveHandle(root, 0, &start);
    if (result != REG_OK) {
        return result;
    }
    NodeId node = ResolveCached(start, path ? path : "", &result);
    if (node == kNoNode) {
        return result;
    }
    if ((access & kAccessRights & ~Allowed(node)) != 0) {
        return REG_ERROR_ACCESS_DENIED;
    }
    std::uint32_t slot;
    if (!freeHandles_.empty()) {
        slot = freeHandles_.back();
        freeHandles_.pop_back();
    } else {
        slot = static_cast<std::uint32_t>(handles_.size());
        handles_.emplace_back();
    }
    handles_[slot] = Handle{node, access, true};
    ++openHandles_;
    *key = kFirstHandle + slot * kHandleStep;
    *opened = node;
    return REG_OK;
}

RegResult MemoryRegistry::Enum(RegKey key, std::uint32_t index, char* name,
                               std::uint32_t* nameChars, char* className,
                               std::uint32_t* classChars) {
    NodeId reached = kNoNode;
    RegResult result = EnumKey(key, index, name, nameChars, className, classChars, &reached);
    Notify(CallKind::Enum, reached, index, {}, result);
    return result;
}

RegResult MemoryRegistry::EnumKey(RegKey key, std::uint32_t index, char* name,
                                  std::uint32_t* nameChars, char* className,
                                  std::uint32_t* classChars, NodeId* reached) {
    RegResult result = REG_OK;
    if (Injected(RegOperation::Enum, &result)) {
        return result;
    }
    NodeId node = kNoNode;
    result = ResolveHandle(key, ACCESS_ENUMERATE_SUB_KEYS, &node);
    if (result != REG_OK) {
        return result;
    }
    *reached = node;
    SortChildren(node);
    const Node& parent = nodes_[node];
    if (index >= parent.childCount) {
        return REG_ERROR_NO_MORE_ITEMS;
    }
    NodeId child = children_[parent.childBegin + index];
    std::string_view childName = Name(child);
    if (name == nullptr || nameChars == nullptr || childName.size() >= *nameChars) {
        return REG_ERROR_MORE_DATA;
    }
    std::memcpy(name, childName.data(), childName.size());
    name[childName.size()] = '\0';
    *nameChars = static_cast<std::uint32_t>(childName.size());
    if (className != nullptr && classChars != nullptr && *classChars > 0) {
        className[0] = '\0';
    }
    if (classChars != nullptr) {
        *classChars = 0;
    }
    enumParent_ = node;
    enumChild_ = child;
    return REG_OK;
}

RegResult MemoryRegistry::Query(RegKey key, const char* valueName, std::uint32_t* type,
                                unsigned char* data, std::uint32_t* size) {
    NodeId reached = kNoNode;
    RegResult result = QueryValue(key, valueName, type, data, size, &reached);
    Notify(CallKind::Query, reached, 0, valueName ? valueName : "", result);
    return result;
}

RegResult MemoryRegistry::QueryValue(RegKey key, const char* valueName, std::uint32_t* type,
                                     unsigned char* data, std::uint32_t* size, NodeId* reached) {
    RegResult result = REG_OK;
    if (Injected(RegOperation::Query, &result)) {
        return result;
    }
    NodeId node = kNoNode;
    result = ResolveHandle(key, ACCESS_QUERY_VALUE, &node);
    if (result != REG_OK) {
        return result;
    }
    *reached = node;
    const ValueRecord* value = FindValue(node, valueName ? valueName : "");
    if (value == nullptr) {
        return REG_ERROR_FILE_NOT_FOUND;
    }
    if (type != nullptr) {
        *type = value->type;
    }
    std::uint32_t needed = value->dataSize;
    if (data != nullptr) {
        if (size == nullptr) {
            return REG_ERROR_INVALID_PARAMETER;
        }
        if (*size < needed) {
            *size = needed;
            return REG_ERROR_MORE_DATA;
        }
        if (needed > 0) {
            std::memcpy(data, valueBytes_.At(value->bytes) + value->nameLength, needed);
        }
        // Windows ends unterminated string data with a NUL, not counted,
        // when the buffer has room for it.
        bool isString = value->type == REG_TYPE_SZ || value->type == REG_TYPE_EXPAND_SZ ||
                        value->type == REG_TYPE_MULTI_SZ;
        if (isString && needed > 0 && data[needed - 1] != 0 && *size > needed) {
            data[needed] = 0;
        }
    }
    if (size != nullptr) {
        *size = needed;
    }
    return REG_OK;
}

RegResult MemoryRegistry::Delete(RegKey parent, const char* childName) {
    NodeId reached = kNoNode;
    RegResult result = DeleteKey(parent, childName, &reached);
    Notify(CallKind::Delete, reached, 0, childName ? childName : "", result);
    return result;
}

RegResult MemoryRegistry::DeleteKey(RegKey parent, const char* childName, NodeId* reached) {
    RegResult result = REG_OK;
    if (Injected(RegOperation::Delete, &result)) {
        return result;
    }
    NodeId start = kNoNode;
    result = ResolveHandle(parent, 0, &start);
    if (result != REG_OK) {
        return result;
    }
    *reached = start;
    if (childName == nullptr) {
        return REG_ERROR_INVALID_PARAMETER;
    }
    // As on Windows, an empty name opens the parent itself, which goes.
    NodeId child = ResolveCached(start, childName, &result);
    if (child == kNoNode) {
        return result;
    }
    if (nodes_[child].parent == kNoNode || (Allowed(child) & ACCESS_DELETE) == 0 ||
        nodes_[child].childCount > 0) {
        return REG_ERROR_ACCESS_DENIED;
    }
    Unlink(child);
    return REG_OK;
}

void MemoryRegistry::Close(RegKey key) {
    if (key < kFirstHandle || (key - kFirstHandle) % kHandleStep != 0) {
        return;
    }
    std::size_t slot = (key - kFirstHandle) / kHandleStep;
    if (slot < handles_.size() && handles_[slot].inUse) {
        handles_[slot].inUse = false;
        freeHandles_.push_back(static_cast<std::uint32_t>(slot));
        --openHandles_;
        Notify(CallKind::Close, handles_[slot].node, 0, {}, REG_OK);
    }
}

// ---------------------------------------------------------------- memory

std::size_t MemoryRegistry::MemoryBytes() const {
    std::size_t bytes = nodes_.MemoryBytes() + names_.MemoryBytes() +
                        children_.capacity() * sizeof(NodeId) + values_.MemoryBytes() +
                        valueBytes_.MemoryBytes() + slots_.capacity() * sizeof(std::uint64_t) +
                        handles_.capacity() * sizeof(Handle) +
                        freeHandles_.capacity() * sizeof(std::uint32_t) +
                        injections_.capacity() * sizeof(Injection);
    // A node of the map: the pair, the next pointer and the cached hash.
    bytes += allowed_.size() * (sizeof(std::pair<NodeId, std::uint32_t>) + 2 * sizeof(void*)) +
             allowed_.bucket_count() * sizeof(void*);
    for (const PathCache& cache : caches_) {
        bytes += cache.path.capacity() + cache.ends.capacity() * sizeof(std::uint32_t) +
                 cache.nodes.capacity() * sizeof(NodeId);
    }
    return bytes;
}

MemoryRegistry::MemoryUse MemoryRegistry::MemoryUsage() const {
    MemoryUse use;
    use.total = MemoryBytes();
    for (NodeId id = 0; id < nodes_.size(); ++id) {
        const Node& node = nodes_[id];
        if (!(node.flags & kAlive) || node.parent == kNoNode) {
            continue;
        }
        use.keyNames += node.nameLength;
        for (std::uint32_t i = 0; i < node.valueCount; ++i) {
            const ValueRecord& value = values_[node.valueBegin + i];
            use.valueNamesAndData += value.nameLength + value.dataSize;
        }
    }
    return use;
}
