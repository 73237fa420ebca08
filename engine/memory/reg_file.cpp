#include "reg_file.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <utility>
#include <vector>

namespace {

constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kMachineName = "HKEY_LOCAL_MACHINE";
constexpr std::string_view kUsersName = "HKEY_USERS";
constexpr std::size_t kMaxKeyNameLength = 255;
constexpr char kHexDigits[] = "0123456789abcdef";

int HexValue(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u >= '0' && u <= '9') {
        return u - '0';
    }
    u = static_cast<unsigned char>(u | 0x20);
    if (u >= 'a' && u <= 'f') {
        return u - 'a' + 10;
    }
    return -1;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool EqualsFolded(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char ca = static_cast<unsigned char>(a[i]);
        unsigned char cb = static_cast<unsigned char>(b[i]);
        if (ca >= 'A' && ca <= 'Z') {
            ca = static_cast<unsigned char>(ca + 32);
        }
        if (cb >= 'A' && cb <= 'Z') {
            cb = static_cast<unsigned char>(cb + 32);
        }
        if (ca != cb) {
            return false;
        }
    }
    return true;
}

bool StartsWithFolded(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsFolded(text.substr(0, prefix.size()), prefix);
}

bool OnlyBlanks(std::string_view text, std::size_t from) {
    for (std::size_t i = from; i < text.size(); ++i) {
        if (!IsBlank(text[i])) {
            return false;
        }
    }
    return true;
}

char NarrowCodePoint(std::uint32_t cp) {
    return cp < 0x100 ? static_cast<char>(cp) : '?';
}

// UTF-16LE units to 8-bit characters; a surrogate pair is one character. An
// odd trailing byte is kept. Writes at most as many bytes as it reads, so
// out may equal in.
std::size_t NarrowUtf16(const char* in, std::size_t size, char* out) {
    std::size_t written = 0;
    std::size_t i = 0;
    for (; i + 1 < size; i += 2) {
        std::uint32_t unit = static_cast<unsigned char>(in[i]) |
                             static_cast<std::uint32_t>(static_cast<unsigned char>(in[i + 1])) << 8;
        if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < size) {
            std::uint32_t next = static_cast<unsigned char>(in[i + 2]) |
                                 static_cast<std::uint32_t>(static_cast<unsigned char>(in[i + 3]))
                                     << 8;
            if (next >= 0xDC00 && next < 0xE000) {
                i += 2;
            }
        }
        out[written++] = NarrowCodePoint(unit);
    }
    if (i < size) {
        out[written++] = in[i];
    }
    return written;
}

// Hand-written Version 5 files come as UTF-8; a byte that does not start a
// well-formed sequence is taken as the 8-bit character it is.
std::string NarrowUtf8(std::string_view in) {
    std::string out;
    out.reserve(in.size());
    std::size_t i = 0;
    while (i < in.size()) {
        unsigned char lead = static_cast<unsigned char>(in[i]);
        std::size_t extra = lead >= 0xF0 && lead < 0xF8   ? 3
                            : lead >= 0xE0 && lead < 0xF0 ? 2
                            : lead >= 0xC2 && lead < 0xE0 ? 1
                                                          : 0;
        bool wellFormed = extra > 0 && i + extra < in.size();
        std::uint32_t cp = lead & (0x3Fu >> extra);
        for (std::size_t k = 1; wellFormed && k <= extra; ++k) {
            unsigned char next = static_cast<unsigned char>(in[i + k]);
            wellFormed = (next & 0xC0) == 0x80;
            cp = (cp << 6) | (next & 0x3Fu);
        }
        if (wellFormed) {
            out.push_back(NarrowCodePoint(cp));
            i += extra + 1;
        } else {
            out.push_back(static_cast<char>(lead));
            ++i;
        }
    }
    return out;
}

bool HasHighBytes(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return true;
        }
    }
    return false;
}

bool IsWideStringType(std::uint32_t type) {
    return type == REG_TYPE_SZ || type == REG_TYPE_EXPAND_SZ || type == REG_TYPE_MULTI_SZ;
}

// ---------------------------------------------------------------- reading

enum class OpKind : std::uint8_t { OpenKey, DeleteKey, SetValue, RemoveValue };

// A span of the file text, or of the parser's pool when escapes or
// conversion made the bytes differ from the text.
struct Slice {
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
};

struct Op {
    OpKind kind = OpKind::OpenKey;
    bool users = false;       // key ops: HKEY_USERS rather than HKEY_LOCAL_MACHINE
    bool namePooled = false;  // value ops: name in the pool
    std::uint32_t type = 0;
    Slice first;   // key path (text) or value name
    Slice second;  // value data (pool)
};

class Parser {
  public:
    Parser(std::string_view text, bool version5) : text_(text), version5_(version5) {
        pool_.reserve(text.size() / 4);
        ops_.reserve(text.size() / 48);
    }

    bool Run(std::size_t bodyStart, RegFileError* error);

    const std::vector<Op>& ops() const { return ops_; }
    std::string_view pool() const { return pool_; }

  private:
    bool NextLine(std::string_view* line);
    bool Fail(std::string message);
    bool ParseKey(std::string_view line);
    bool ParseValue(std::string_view line);
    bool ParseName(std::string_view line, std::size_t* pos, Op* op);
    bool ParseString(std::string_view line, std::size_t* pos);
    bool ParseDword(std::string_view line, std::size_t pos);
    bool ParseHexList(std::string_view line, std::size_t pos, std::uint32_t type);
    Slice TextSlice(std::string_view part) const {
        if (part.empty()) {
            return Slice{};
        }
        return Slice{static_cast<std::uint32_t>(part.data() - text_.data()),
                     static_cast<std::uint32_t>(part.size())};
    }

    std::string_view text_;
    bool version5_;
    std::size_t pos_ = 0;
    int line_ = 0;
    RegFileError* error_ = nullptr;
    enum class Section { None, Key, Deleted } section_ = Section::None;
    std::vector<Op> ops_;
    std::string pool_;
};

bool Parser::NextLine(std::string_view* line) {
    if (pos_ >= text_.size()) {
        return false;
    }
    std::size_t end = text_.find('\n', pos_);
    std::size_t next = end == std::string_view::npos ? text_.size() : end + 1;
    if (end == std::string_view::npos) {
        end = text_.size();
    }
    if (end > pos_ && text_[end - 1] == '\r') {
        --end;
    }
    *line = text_.substr(pos_, end - pos_);
    pos_ = next;
    ++line_;
    return true;
}

bool Parser::Fail(std::string message) {
    if (error_ != nullptr) {
        error_->line = line_;
        error_->message = std::move(message);
    }
    return false;
}

bool Parser::Run(std::size_t bodyStart, RegFileError* error) {
    error_ = error;
    pos_ = bodyStart;
    line_ = 1;
    std::string_view line;
    while (NextLine(&line)) {
        std::size_t start = 0;
        while (start < line.size() && IsBlank(line[start])) {
            ++start;
        }
        line.remove_prefix(start);
        if (line.empty() || line[0] == ';') {
            continue;
        }
        bool ok;
        if (line[0] == '[') {
            ok = ParseKey(line);
        } else if (line[0] == '"' || line[0] == '@') {
            ok = ParseValue(line);
        } else {
            ok = Fail("unexpected text outside a key or value line");
        }
        if (!ok) {
            return false;
        }
    }
    return true;
}

bool Parser::ParseKey(std::string_view line) {
    std::size_t close = line.rfind(']');
    if (close == std::string_view::npos) {
        return Fail("key line without closing bracket");
    }
    if (!OnlyBlanks(line, close + 1)) {
        return Fail("text after the closing bracket");
    }
    std::string_view inner = line.substr(1, close - 1);
    Op op;
    op.kind = OpKind::OpenKey;
    if (!inner.empty() && inner[0] == '-') {
        op.kind = OpKind::DeleteKey;
        inner.remove_prefix(1);
    }
    std::size_t cut = inner.find('\\');
    std::string_view rootName = inner.substr(0, cut);
    std::string_view path =
        cut == std::string_view::npos ? std::string_view() : inner.substr(cut + 1);
    if (EqualsFolded(rootName, kMachineName) || EqualsFolded(rootName, "HKLM")) {
        op.users = false;
    } else if (EqualsFolded(rootName, kUsersName) || EqualsFolded(rootName, "HKU")) {
        op.users = true;
    } else if (StartsWithFolded(rootName, "HKEY_") || EqualsFolded(rootName, "HKCU") ||
               EqualsFolded(rootName, "HKCR") || EqualsFolded(rootName, "HKCC")) {
        return Fail("root key " + std::string(rootName) +
                    " is not supported: only HKEY_LOCAL_MACHINE and HKEY_USERS exist");
    } else {
        return Fail("unknown root key '" + std::string(rootName) + "'");
    }
    while (!path.empty() && path[0] == '\\') {
        path.remove_prefix(1);
    }
    for (std::size_t begin = 0; begin < path.size();) {
        std::size_t end = path.find('\\', begin);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        if (end - begin > kMaxKeyNameLength) {
            return Fail("key name longer than 255 characters");
        }
        begin = end + 1;
    }
    if (op.kind == OpKind::DeleteKey && path.empty()) {
        return Fail("a root key cannot be deleted");
    }
    op.first = TextSlice(path);
    ops_.push_back(op);
    section_ = op.kind == OpKind::OpenKey ? Section::Key : Section::Deleted;
    return true;
}

bool Parser::ParseName(std::string_view line, std::size_t* pos, Op* op) {
    if (line[0] == '@') {
        *pos = 1;
        return true;
    }
    // Common case: no escapes, the name stays a span of the text.
    std::size_t i = 1;
    while (i < line.size() && line[i] != '"' && line[i] != '\\') {
        ++i;
    }
    if (i < line.size() && line[i] == '"') {
        op->first = TextSlice(line.substr(1, i - 1));
        *pos = i + 1;
        return true;
    }
    std::size_t start = pool_.size();
    pool_.append(line.data() + 1, i - 1);
    while (i < line.size() && line[i] != '"') {
        char c = line[i];
        if (c == '\\' && i + 1 < line.size()) {
            char next = line[i + 1];
            // CR, LF and NUL have no other way into a name.
            char escaped = next == 'r' ? '\r' : next == 'n' ? '\n' : next == '0' ? '\0' : next;
            if (next == '\\' || next == '"' || escaped != next) {
                c = escaped;
                ++i;
            }
        }
        pool_.push_back(c);
        ++i;
    }
    if (i >= line.size()) {
        return Fail("unterminated quoted value name");
    }
    op->namePooled = true;
    op->first =
        Slice{static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(pool_.size() - start)};
    *pos = i + 1;
    return true;
}

// Appends the string's bytes and its terminating NUL to the pool.
bool Parser::ParseString(std::string_view line, std::size_t* pos) {
    std::size_t i = *pos + 1;
    for (;;) {
        std::size_t run = i;
        while (i < line.size() && line[i] != '"' && line[i] != '\\') {
            ++i;
        }
        pool_.append(line.data() + run, i - run);
        if (i >= line.size()) {
            return Fail("unterminated quoted string");
        }
        if (line[i] == '"') {
            break;
        }
        // Only \\ and \" are escapes; any other backslash is taken as written.
        if (i + 1 < line.size() && (line[i + 1] == '\\' || line[i + 1] == '"')) {
            ++i;
        }
        pool_.push_back(line[i]);
        ++i;
    }
    pool_.push_back('\0');
    *pos = i + 1;
    return true;
}

bool Parser::ParseDword(std::string_view line, std::size_t pos) {
    std::uint32_t value = 0;
    std::size_t digits = 0;
    for (; pos < line.size() && !IsBlank(line[pos]); ++pos) {
        int digit = HexValue(line[pos]);
        if (digit < 0) {
            return Fail("bad hex digit in dword value");
        }
        if (++digits > 8) {
            return Fail("dword value with more than 8 digits");
        }
        value = (value << 4) | static_cast<std::uint32_t>(digit);
    }
    if (digits == 0) {
        return Fail("dword value without digits");
    }
    if (!OnlyBlanks(line, pos)) {
        return Fail("text after the dword value");
    }
    for (int shift = 0; shift < 32; shift += 8) {
        pool_.push_back(static_cast<char>((value >> shift) & 0xFF));
    }
    return true;
}

bool Parser::ParseHexList(std::string_view line, std::size_t pos, std::uint32_t type) {
    std::size_t start = pool_.size();
    for (;;) {
        while (pos < line.size() && IsBlank(line[pos])) {
            ++pos;
        }
        if (pos == line.size()) {
            break;
        }
        if (line[pos] == '\\' && OnlyBlanks(line, pos + 1)) {
            if (!NextLine(&line)) {
                return Fail("file ends inside a continued hex list");
            }
            pos = 0;
            continue;
        }
        int high = HexValue(line[pos]);
        if (high < 0) {
            return Fail("bad hex digit");
        }
        int byte = high;
        ++pos;
        if (pos < line.size() && HexValue(line[pos]) >= 0) {
            byte = byte * 16 + HexValue(line[pos]);
            ++pos;
            if (pos < line.size() && HexValue(line[pos]) >= 0) {
                return Fail("hex byte with more than two digits");
            }
        }
        if (pos < line.size() && !IsBlank(line[pos]) && line[pos] != ',') {
            return Fail("bad hex digit");
        }
        pool_.push_back(static_cast<char>(byte));
        while (pos < line.size() && IsBlank(line[pos])) {
            ++pos;
        }
        if (pos == line.size()) {
            break;
        }
        if (line[pos] != ',') {
            return Fail("expected ',' between hex bytes");
        }
        ++pos;
    }
    if (version5_ && IsWideStringType(type)) {
        std::size_t narrowed = NarrowUtf16(&pool_[start], pool_.size() - start, &pool_[start]);
        pool_.resize(start + narrowed);
    }
    return true;
}

bool Parser::ParseValue(std::string_view line) {
    if (section_ == Section::None) {
        return Fail("value line before any key");
    }
    if (section_ == Section::Deleted) {
        return Fail("value line under a deleted key");
    }
    Op op;
    std::size_t pos = 0;
    if (!ParseName(line, &pos, &op)) {
        return false;
    }
    while (pos < line.size() && IsBlank(line[pos])) {
        ++pos;
    }
    if (pos >= line.size() || line[pos] != '=') {
        return Fail("expected '=' after the value name");
    }
    ++pos;
    while (pos < line.size() && IsBlank(line[pos])) {
        ++pos;
    }
    std::string_view rest = line.substr(pos);
    std::size_t dataStart = pool_.size();
    op.kind = OpKind::SetValue;
    if (!rest.empty() && rest[0] == '-') {
        if (!OnlyBlanks(line, pos + 1)) {
            return Fail("text after '-'");
        }
        op.kind = OpKind::RemoveValue;
    } else if (!rest.empty() && rest[0] == '"') {
        op.type = REG_TYPE_SZ;
        if (!ParseString(line, &pos)) {
            return false;
        }
        if (!OnlyBlanks(line, pos)) {
            return Fail("text after the closing quote");
        }
    } else if (StartsWithFolded(rest, "dword:")) {
        op.type = REG_TYPE_DWORD;
        if (!ParseDword(line, pos + 6)) {
            return false;
        }
    } else if (StartsWithFolded(rest, "hex:")) {
        op.type = REG_TYPE_BINARY;
        if (!ParseHexList(line, pos + 4, op.type)) {
            return false;
        }
    } else if (StartsWithFolded(rest, "hex(")) {
        std::size_t i = 4;
        std::uint32_t type = 0;
        for (; i < rest.size() && rest[i] != ')'; ++i) {
            int digit = HexValue(rest[i]);
            if (digit < 0) {
                return Fail("bad hex digit in value type");
            }
            if (i >= 12) {
                return Fail("value type above ffffffff");
            }
            type = (type << 4) | static_cast<std::uint32_t>(digit);
        }
        if (i == 4 || i + 1 >= rest.size() || rest[i + 1] != ':') {
            return Fail("malformed hex(type): prefix");
        }
        op.type = type;
        if (!ParseHexList(line, pos + i + 2, op.type)) {
            return false;
        }
    } else {
        return Fail("unknown value type");
    }
    op.second = Slice{static_cast<std::uint32_t>(dataStart),
                      static_cast<std::uint32_t>(pool_.size() - dataStart)};
    ops_.push_back(op);
    return true;
}

// Remembers the nodes along the last opened path, since consecutive key
// lines mostly share all but their last levels.
class KeyCache {
  public:
    MemoryRegistry::NodeId Open(MemoryRegistry& registry, RegKey root, std::string_view path) {
        if (root != root_) {
            levels_.clear();
            root_ = root;
        }
        MemoryRegistry::NodeId node = registry.RootNode(root);
        std::size_t depth = 0;
        bool shared = true;
        for (std::size_t begin = 0; begin < path.size();) {
            std::size_t end = path.find('\\', begin);
            if (end == std::string_view::npos) {
                end = path.size();
            }
            std::string_view name = path.substr(begin, end - begin);
            begin = end + 1;
            if (name.empty()) {
                continue;
            }
            if (shared && depth < levels_.size() && levels_[depth].name == name) {
                node = levels_[depth].node;
            } else {
                shared = false;
                node = registry.CreateKey(node, name);
                levels_.resize(depth);
                levels_.push_back(Level{name, node});
            }
            ++depth;
        }
        levels_.resize(depth);
        return node;
    }

    void Reset() {
        levels_.clear();
        root_ = 0;
    }

  private:
    struct Level {
        std::string_view name;
        MemoryRegistry::NodeId node;
    };
    RegKey root_ = 0;
    std::vector<Level> levels_;
};

void Apply(MemoryRegistry& registry, const Parser& parser, std::string_view text) {
    std::string_view pool = parser.pool();
    KeyCache cache;
    MemoryRegistry::NodeId current = MemoryRegistry::kNoNode;
    for (const Op& op : parser.ops()) {
        RegKey root = op.users ? HKEY_USERS_ROOT : HKEY_LOCAL_MACHINE_ROOT;
        std::string_view first =
            (op.namePooled ? pool : text).substr(op.first.offset, op.first.length);
        switch (op.kind) {
            case OpKind::OpenKey:
                current = cache.Open(registry, root, first);
                break;
            case OpKind::DeleteKey: {
                MemoryRegistry::NodeId node = registry.FindPath(root, first);
                if (node != MemoryRegistry::kNoNode) {
                    registry.RemoveTree(node);
                }
                cache.Reset();
                current = MemoryRegistry::kNoNode;
                break;
            }
            case OpKind::SetValue:
                registry.SetValue(current, first, op.type,
                                  pool.substr(op.second.offset, op.second.length));
                break;
            case OpKind::RemoveValue:
                registry.RemoveValue(current, first);
                break;
        }
    }
}

// ---------------------------------------------------------------- writing

class Writer {
  public:
    explicit Writer(RegFileFormat format) : version5_(format == RegFileFormat::Version5) {
        out_.append(version5_ ? kHeader5 : kHeader4);
        out_.append("\r\n");
    }

    void Tree(const MemoryRegistry& registry, MemoryRegistry::NodeId top, std::string path);
    std::string Finish();

  private:
    void Section(const MemoryRegistry& registry, MemoryRegistry::NodeId key, std::string_view path);
    void Name(std::string_view name);
    void Quoted(std::string_view text);
    void HexList(std::size_t lineStart, std::string_view data, bool wide);

    bool version5_;
    std::string out_;
};

// A REG_SZ is written as text only when reading the text back gives the
// same bytes: exactly one NUL, at the end, and no line break.
bool WritableAsText(const MemoryRegistry::Value& value) {
    const std::string& data = value.data;
    if (value.type != REG_TYPE_SZ || data.empty() || data.back() != '\0') {
        return false;
    }
    for (std::size_t i = 0; i + 1 < data.size(); ++i) {
        char c = data[i];
        if (c == '\0' || c == '\r' || c == '\n') {
            return false;
        }
    }
    return true;
}

void Writer::Tree(const MemoryRegistry& registry, MemoryRegistry::NodeId top, std::string path) {
    struct Pending {
        MemoryRegistry::NodeId node;
        std::size_t parentLength;
    };
    std::vector<Pending> stack;
    auto pushChildren = [&](MemoryRegistry::NodeId key) {
        std::vector<MemoryRegistry::NodeId> children = registry.Children(key);
        for (auto it = children.rbegin(); it != children.rend(); ++it) {
            stack.push_back(Pending{*it, path.size()});
        }
    };
    Section(registry, top, path);
    pushChildren(top);
    while (!stack.empty()) {
        Pending next = stack.back();
        stack.pop_back();
        path.resize(next.parentLength);
        path.push_back('\\');
        path.append(registry.Name(next.node));
        Section(registry, next.node, path);
        pushChildren(next.node);
    }
}

void Writer::Section(const MemoryRegistry& registry, MemoryRegistry::NodeId key,
                     std::string_view path) {
    out_.append("\r\n[");
    out_.append(path);
    out_.append("]\r\n");
    for (const MemoryRegistry::Value& value : registry.Values(key)) {
        std::size_t lineStart = out_.size();
        Name(value.name);
        out_.push_back('=');
        if (WritableAsText(value)) {
            out_.push_back('"');
            Quoted(std::string_view(value.data).substr(0, value.data.size() - 1));
            out_.push_back('"');
        } else if (value.type == REG_TYPE_DWORD && value.data.size() == 4) {
            std::uint32_t dword = 0;
            for (int i = 3; i >= 0; --i) {
                dword = (dword << 8) | static_cast<unsigned char>(value.data[i]);
            }
            out_.append("dword:");
            for (int shift = 28; shift >= 0; shift -= 4) {
                out_.push_back(kHexDigits[(dword >> shift) & 0xF]);
            }
        } else {
            if (value.type == REG_TYPE_BINARY) {
                out_.append("hex:");
            } else {
                out_.append("hex(");
                int shift = 28;
                while (shift > 0 && ((value.type >> shift) & 0xF) == 0) {
                    shift -= 4;
                }
                for (; shift >= 0; shift -= 4) {
                    out_.push_back(kHexDigits[(value.type >> shift) & 0xF]);
                }
                out_.append("):");
            }
            HexList(lineStart, value.data, version5_ && IsWideStringType(value.type));
        }
        out_.append("\r\n");
    }
}

void Writer::Name(std::string_view name) {
    if (name.empty()) {
        out_.push_back('@');
        return;
    }
    out_.push_back('"');
    for (char c : name) {
        switch (c) {
            case '\\':
                out_.append("\\\\");
                break;
            case '"':
                out_.append("\\\"");
                break;
            case '\r':
                out_.append("\\r");
                break;
            case '\n':
                out_.append("\\n");
                break;
            case '\0':
                out_.append("\\0");
                break;
            default:
                out_.push_back(c);
        }
    }
    out_.push_back('"');
}

void Writer::Quoted(std::string_view text) {
    for (char c : text) {
        if (c == '\\' || c == '"') {
            out_.push_back('\\');
        }
        out_.push_back(c);
    }
}

// Lines break after a comma once they pass 76 columns, continuing indented
// by two spaces.
void Writer::HexList(std::size_t lineStart, std::string_view data, bool wide) {
    std::size_t count = data.size() * (wide ? 2 : 1);
    std::size_t column = out_.size() - lineStart;
    out_.reserve(out_.size() + count * 3 + count / 24 * 5);
    for (std::size_t i = 0; i < count; ++i) {
        unsigned char byte = 0;
        if (!wide) {
            byte = static_cast<unsigned char>(data[i]);
        } else if (i % 2 == 0) {
            byte = static_cast<unsigned char>(data[i / 2]);
        }
        if (i > 0 && column + 3 > 76) {
            out_.append("\\\r\n  ");
            column = 2;
        }
        out_.push_back(kHexDigits[byte >> 4]);
        out_.push_back(kHexDigits[byte & 0xF]);
        column += 2;
        if (i + 1 < count) {
            out_.push_back(',');
            ++column;
        }
    }
}

std::string Writer::Finish() {
    out_.append("\r\n");
    if (!version5_) {
        return std::move(out_);
    }
    std::string wide;
    wide.resize(2 + out_.size() * 2);
    wide[0] = '\xFF';
    wide[1] = '\xFE';
    for (std::size_t i = 0; i < out_.size(); ++i) {
        wide[2 + i * 2] = out_[i];
        wide[3 + i * 2] = '\0';
    }
    return wide;
}

std::string RootPath(RegKey root) {
    return std::string(root == HKEY_USERS_ROOT ? kUsersName : kMachineName);
}

}  // namespace

bool LoadRegFile(MemoryRegistry& registry, std::string_view fileBytes, RegFileError* error) {
    // Slices hold 32-bit offsets.
    if (fileBytes.size() >= std::numeric_limits<std::uint32_t>::max() / 2) {
        if (error != nullptr) {
            *error = RegFileError{0, "file too large"};
        }
        return false;
    }
    std::string decoded;
    std::string_view text = fileBytes;
    bool wideFile = false;
    if (text.size() >= 2 && text[0] == '\xFF' && text[1] == '\xFE') {
        decoded.resize(text.size() - 2);
        decoded.resize(NarrowUtf16(text.data() + 2, text.size() - 2, &decoded[0]));
        text = decoded;
        wideFile = true;
    } else if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }

    std::size_t headerEnd = text.find('\n');
    std::string_view header = text.substr(0, headerEnd);
    std::size_t bodyStart = headerEnd == std::string_view::npos ? text.size() : headerEnd + 1;
    while (!header.empty() && (header.back() == '\r' || IsBlank(header.back()))) {
        header.remove_suffix(1);
    }
    bool version5 = header == kHeader5;
    if (!version5 && header != kHeader4) {
        if (error != nullptr) {
            *error =
                RegFileError{1, "missing header: expected REGEDIT4 or " + std::string(kHeader5)};
        }
        return false;
    }
    if (version5 && !wideFile && HasHighBytes(text)) {
        decoded = NarrowUtf8(text);
        text = decoded;
    }

    Parser parser(text, version5);
    if (!parser.Run(bodyStart, error)) {
        return false;
    }
    Apply(registry, parser, text);
    return true;
}

bool LoadRegFileFromPath(MemoryRegistry& registry, const std::string& path, RegFileError* error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        if (error != nullptr) {
            *error = RegFileError{0, "cannot open " + path};
        }
        return false;
    }
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad()) {
        if (error != nullptr) {
            *error = RegFileError{0, "cannot read " + path};
        }
        return false;
    }
    return LoadRegFile(registry, bytes, error);
}

std::string WriteRegFile(const MemoryRegistry& registry, RegFileFormat format) {
    Writer writer(format);
    writer.Tree(registry, registry.RootNode(HKEY_LOCAL_MACHINE_ROOT),
                RootPath(HKEY_LOCAL_MACHINE_ROOT));
    writer.Tree(registry, registry.RootNode(HKEY_USERS_ROOT), RootPath(HKEY_USERS_ROOT));
    return writer.Finish();
}

std::string WriteRegFileSubtree(const MemoryRegistry& registry, RegKey root, std::string_view path,
                                RegFileFormat format) {
    Writer writer(format);
    MemoryRegistry::NodeId top = registry.RootNode(root) == MemoryRegistry::kNoNode
                                     ? MemoryRegistry::kNoNode
                                     : registry.FindPath(root, path);
    if (top != MemoryRegistry::kNoNode) {
        // The stored spelling of every level, not the caller's.
        std::vector<std::string_view> names;
        for (MemoryRegistry::NodeId node = top; node != MemoryRegistry::kNoNode;
             node = registry.Parent(node)) {
            names.push_back(registry.Name(node));
        }
        std::string fullPath;
        for (auto it = names.rbegin(); it != names.rend(); ++it) {
            if (!fullPath.empty()) {
                fullPath.push_back('\\');
            }
            fullPath.append(*it);
        }
        writer.Tree(registry, top, std::move(fullPath));
    }
    return writer.Finish();
}
