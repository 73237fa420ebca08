#include "memory_registry.h"

#include <algorithm>
#include <cstring>

#include "../ascii_case.h"

namespace {

constexpr std::uint32_t kEmptySlot = 0xFFFFFFFFu;
constexpr std::uint32_t kTombstone = 0xFFFFFFFEu;
constexpr std::uint32_t kAccessRights = 0x000F003Fu;
constexpr RegKey kFirstHandle = 0x100;
constexpr RegKey kHandleStep = 4;

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

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldAsciiCase(a[i]) != FoldAsciiCase(b[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

// Subkeys in enumeration order from begin on. Deleting at index 0, as the
// recursive delete does, only moves begin; other orders compact.
struct MemoryRegistry::ChildList {
    std::vector<NodeId> ids;
    std::uint32_t begin = 0;
    bool sorted = true;

    std::size_t size() const { return ids.size() - begin; }
};

struct MemoryRegistry::Node {
    NodeId parent = kNoNode;
    std::uint32_t nameOffset = 0;
    std::uint16_t nameLength = 0;
    bool alive = true;
    std::uint32_t allowed = ACCESS_KEY_ALL;
    ChildList children;
    std::vector<Value> values;
};

MemoryRegistry::MemoryRegistry() {
    slots_.assign(1024, kEmptySlot);
    roots_[0] = NewNode(kNoNode, "HKEY_LOCAL_MACHINE");
    roots_[1] = NewNode(kNoNode, "HKEY_USERS");
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
    return std::string_view(names_).substr(node.nameOffset, node.nameLength);
}

MemoryRegistry::NodeId MemoryRegistry::Parent(NodeId key) const {
    return nodes_[key].parent;
}

std::uint64_t MemoryRegistry::HashOf(NodeId parent, std::string_view name) const {
    std::uint64_t hash =
        1469598103934665603ull ^ (static_cast<std::uint64_t>(parent) * 0x9E3779B97F4A7C15ull);
    for (char c : name) {
        hash ^= static_cast<unsigned char>(FoldAsciiCase(c));
        hash *= 1099511628211ull;
    }
    return hash ^ (hash >> 29);
}

void MemoryRegistry::HashInsert(NodeId node) {
    if ((slotsUsed_ + 1) * 10 > slots_.size() * 7) {
        HashGrow();
    }
    std::size_t mask = slots_.size() - 1;
    std::size_t i = HashOf(nodes_[node].parent, Name(node)) & mask;
    while (slots_[i] != kEmptySlot && slots_[i] != kTombstone) {
        i = (i + 1) & mask;
    }
    if (slots_[i] == kEmptySlot) {
        ++slotsUsed_;
    }
    slots_[i] = node;
}

void MemoryRegistry::HashErase(NodeId node) {
    std::size_t mask = slots_.size() - 1;
    std::size_t i = HashOf(nodes_[node].parent, Name(node)) & mask;
    while (slots_[i] != kEmptySlot) {
        if (slots_[i] == node) {
            slots_[i] = kTombstone;
            return;
        }
        i = (i + 1) & mask;
    }
}

void MemoryRegistry::HashGrow() {
    std::size_t size = slots_.size();
    while (liveKeys_ * 10 >= size * 4) {
        size *= 2;
    }
    slots_.assign(size, kEmptySlot);
    slotsUsed_ = 0;
    for (NodeId id = 0; id < nodes_.size(); ++id) {
        if (nodes_[id].alive && nodes_[id].parent != kNoNode) {
            std::size_t mask = slots_.size() - 1;
            std::size_t i = HashOf(nodes_[id].parent, Name(id)) & mask;
            while (slots_[i] != kEmptySlot) {
                i = (i + 1) & mask;
            }
            slots_[i] = id;
            ++slotsUsed_;
        }
    }
}

MemoryRegistry::NodeId MemoryRegistry::Find(NodeId parent, std::string_view name) const {
    std::size_t mask = slots_.size() - 1;
    std::size_t i = HashOf(parent, name) & mask;
    while (slots_[i] != kEmptySlot) {
        NodeId id = slots_[i];
        if (id != kTombstone && nodes_[id].parent == parent && SameName(Name(id), name)) {
            return id;
        }
        i = (i + 1) & mask;
    }
    return kNoNode;
}

MemoryRegistry::NodeId MemoryRegistry::NewNode(NodeId parent, std::string_view name) {
    NodeId id = static_cast<NodeId>(nodes_.size());
    Node node;
    node.parent = parent;
    node.nameOffset = static_cast<std::uint32_t>(names_.size());
    node.nameLength = static_cast<std::uint16_t>(name.size());
    names_.append(name);
    nodes_.push_back(std::move(node));
    if (parent != kNoNode) {
        ChildList& siblings = nodes_[parent].children;
        if (siblings.sorted && siblings.size() > 0 &&
            CompareForEnumeration(Name(siblings.ids.back()), name) > 0) {
            siblings.sorted = false;
        }
        siblings.ids.push_back(id);
        ++liveKeys_;
        HashInsert(id);
    }
    return id;
}

MemoryRegistry::NodeId MemoryRegistry::CreateKey(NodeId parent, std::string_view name) {
    NodeId existing = Find(parent, name);
    return existing != kNoNode ? existing : NewNode(parent, name);
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
    while (!path.empty()) {
        std::size_t cut = path.find('\\');
        std::string_view name = path.substr(0, cut);
        if (!name.empty()) {
            node = Find(node, name);
            if (node == kNoNode) {
                *error = REG_ERROR_FILE_NOT_FOUND;
                return kNoNode;
            }
        }
        path = cut == std::string_view::npos ? std::string_view() : path.substr(cut + 1);
    }
    return node;
}

MemoryRegistry::NodeId MemoryRegistry::FindPath(RegKey root, std::string_view path) const {
    RegResult ignored = REG_OK;
    NodeId start = RootNode(root);
    return start == kNoNode ? kNoNode : Resolve(start, path, &ignored);
}

void MemoryRegistry::SortChildren(NodeId key) const {
    ChildList& children = const_cast<ChildList&>(nodes_[key].children);
    if (children.sorted) {
        return;
    }
    std::sort(children.ids.begin() + children.begin, children.ids.end(),
              [this](NodeId a, NodeId b) { return CompareForEnumeration(Name(a), Name(b)) < 0; });
    children.sorted = true;
}

std::vector<MemoryRegistry::NodeId> MemoryRegistry::Children(NodeId key) const {
    SortChildren(key);
    const auto& children = nodes_[key].children;
    return std::vector<NodeId>(children.ids.begin() + children.begin, children.ids.end());
}

void MemoryRegistry::SetValue(NodeId key, std::string_view name, std::uint32_t type,
                              std::string_view data) {
    for (Value& value : nodes_[key].values) {
        if (SameName(value.name, name)) {
            value.type = type;
            value.data.assign(data);
            return;
        }
    }
    nodes_[key].values.push_back(Value{std::string(name), type, std::string(data)});
}

bool MemoryRegistry::RemoveValue(NodeId key, std::string_view name) {
    auto& values = nodes_[key].values;
    for (auto it = values.begin(); it != values.end(); ++it) {
        if (SameName(it->name, name)) {
            values.erase(it);
            return true;
        }
    }
    return false;
}

std::vector<MemoryRegistry::Value> MemoryRegistry::Values(NodeId key) const {
    return nodes_[key].values;
}

void MemoryRegistry::Unlink(NodeId key) {
    Node& node = nodes_[key];
    ChildList& siblings = nodes_[node.parent].children;
    if (siblings.size() > 0 && siblings.ids[siblings.begin] == key) {
        ++siblings.begin;
    } else {
        auto it = std::find(siblings.ids.begin() + siblings.begin, siblings.ids.end(), key);
        if (it != siblings.ids.end()) {
            siblings.ids.erase(it);
        }
    }
    if (siblings.begin > 64 && siblings.begin * 2 > siblings.ids.size()) {
        siblings.ids.erase(siblings.ids.begin(), siblings.ids.begin() + siblings.begin);
        siblings.begin = 0;
    }
    if (siblings.size() == 0) {
        siblings.ids.clear();
        siblings.ids.shrink_to_fit();
        siblings.begin = 0;
        siblings.sorted = true;
    }
    HashErase(key);
    node.alive = false;
    node.values.clear();
    node.values.shrink_to_fit();
    --liveKeys_;
}

void MemoryRegistry::RemoveTree(NodeId key) {
    std::vector<NodeId> pending{key};
    while (!pending.empty()) {
        NodeId id = pending.back();
        ChildList& children = nodes_[id].children;
        if (children.size() > 0) {
            pending.push_back(children.ids.back());
            continue;
        }
        pending.pop_back();
        Unlink(id);
    }
}

void MemoryRegistry::SetAllowedAccess(NodeId key, std::uint32_t allowed) {
    nodes_[key].allowed = allowed;
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
    if (!nodes_[handle.node].alive) {
        return REG_ERROR_KEY_DELETED;
    }
    *node = handle.node;
    return REG_OK;
}

RegResult MemoryRegistry::Open(RegKey root, const char* path, std::uint32_t access, RegKey* key) {
    RegResult result = REG_OK;
    if (Injected(RegOperation::Open, &result)) {
        return result;
    }
    NodeId start = kNoNode;
    result = ResolveHandle(root, 0, &start);
    if (result != REG_OK) {
        return result;
    }
    NodeId node = Resolve(start, path ? path : "", &result);
    if (node == kNoNode) {
        return result;
    }
    if ((access & kAccessRights & ~nodes_[node].allowed) != 0) {
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
    return REG_OK;
}

RegResult MemoryRegistry::Enum(RegKey key, std::uint32_t index, char* name,
                               std::uint32_t* nameChars, char* className,
                               std::uint32_t* classChars) {
    RegResult result = REG_OK;
    if (Injected(RegOperation::Enum, &result)) {
        return result;
    }
    NodeId node = kNoNode;
    result = ResolveHandle(key, ACCESS_ENUMERATE_SUB_KEYS, &node);
    if (result != REG_OK) {
        return result;
    }
    SortChildren(node);
    const ChildList& children = nodes_[node].children;
    if (index >= children.size()) {
        return REG_ERROR_NO_MORE_ITEMS;
    }
    std::string_view childName = Name(children.ids[children.begin + index]);
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
    return REG_OK;
}

RegResult MemoryRegistry::Query(RegKey key, const char* valueName, std::uint32_t* type,
                                unsigned char* data, std::uint32_t* size) {
    RegResult result = REG_OK;
    if (Injected(RegOperation::Query, &result)) {
        return result;
    }
    NodeId node = kNoNode;
    result = ResolveHandle(key, ACCESS_QUERY_VALUE, &node);
    if (result != REG_OK) {
        return result;
    }
    std::string_view wanted = valueName ? valueName : "";
    for (const Value& value : nodes_[node].values) {
        if (!SameName(value.name, wanted)) {
            continue;
        }
        if (type != nullptr) {
            *type = value.type;
        }
        std::uint32_t needed = static_cast<std::uint32_t>(value.data.size());
        if (data != nullptr) {
            if (size == nullptr) {
                return REG_ERROR_INVALID_PARAMETER;
            }
            if (*size < needed) {
                *size = needed;
                return REG_ERROR_MORE_DATA;
            }
            std::memcpy(data, value.data.data(), needed);
            // Windows ends unterminated string data with a NUL, not counted,
            // when the buffer has room for it.
            bool isString = value.type == REG_TYPE_SZ || value.type == REG_TYPE_EXPAND_SZ ||
                            value.type == REG_TYPE_MULTI_SZ;
            if (isString && needed > 0 && data[needed - 1] != 0 && *size > needed) {
                data[needed] = 0;
            }
        }
        if (size != nullptr) {
            *size = needed;
        }
        return REG_OK;
    }
    return REG_ERROR_FILE_NOT_FOUND;
}

RegResult MemoryRegistry::Delete(RegKey parent, const char* childName) {
    RegResult result = REG_OK;
    if (Injected(RegOperation::Delete, &result)) {
        return result;
    }
    NodeId start = kNoNode;
    result = ResolveHandle(parent, 0, &start);
    if (result != REG_OK) {
        return result;
    }
    if (childName == nullptr || childName[0] == '\0') {
        return REG_ERROR_INVALID_PARAMETER;
    }
    NodeId child = Resolve(start, childName, &result);
    if (child == kNoNode) {
        return result;
    }
    if ((nodes_[child].allowed & ACCESS_DELETE) == 0 || nodes_[child].children.size() > 0) {
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
    }
}

std::size_t MemoryRegistry::MemoryBytes() const {
    std::size_t bytes = nodes_.capacity() * sizeof(Node) + names_.capacity() +
                        slots_.capacity() * sizeof(std::uint32_t) +
                        handles_.capacity() * sizeof(Handle);
    for (const Node& node : nodes_) {
        bytes += node.children.ids.capacity() * sizeof(NodeId);
        bytes += node.values.capacity() * sizeof(Value);
        for (const Value& value : node.values) {
            if (value.name.capacity() > 15)
                bytes += value.name.capacity() + 1;
            if (value.data.capacity() > 15)
                bytes += value.data.capacity() + 1;
        }
    }
    return bytes;
}

MemoryRegistry::MemoryUse MemoryRegistry::MemoryUsage() const {
    MemoryUse use;
    use.total = MemoryBytes();
    for (NodeId id = 0; id < nodes_.size(); ++id) {
        if (!nodes_[id].alive)
            continue;
        use.keyNames += nodes_[id].nameLength;
        for (const Value& value : nodes_[id].values) {
            use.valueNamesAndData += value.name.size() + value.data.size();
        }
    }
    return use;
}
