#include "fuzz_input.h"

#include <cstdio>

#include "registry.h"

namespace {

enum Command : std::uint8_t {
    kKey,
    kChild,
    kUp,
    kValue,
    kAllow,
    kInject,
    kChain,
    kFan,
    kProduct,
    kCommandCount
};

// Enough for a 512-level chain and a wide key, small enough to run fast;
// the wider keys are for the dedicated tests.
constexpr std::size_t kKeyBudget = 1500;
constexpr std::size_t kChainLimit = 600;
// Deeper than any registry (512 levels) by half again; bounds the recursion
// of the snapshots and the check, not of the engine.
constexpr std::size_t kDepthLimit = 800;
constexpr std::size_t kFanLimit = 600;
constexpr std::size_t kDataLimit = 2048;

const char* const kWords[] = {
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData",
    "S-1-5-21-1111111111-2222222222-3333333333-1001",
    "Products",
    "InstallProperties",
    "Software\\Microsoft\\Installer\\Products",
    "C5B4A39281706F5E4D3C2B1A09F8E7D6",
    "DisplayName",
    "DisplayVersion",
    "ProductName",
    "DUVA Brelix for Windows",
    "1.11.0050",
    "1.11.0010",
    "1.11.0090",
    "1.11.00",
    "1.11.0089",
    "1.11.0011",
    "1.12.0050",
    "1.11.006",
    "duva BRELIX for windows",
    "DUVA Brelix for Windows\xA0",
    "DUVA Brelix for Windows ",
    "Features",
    "SourceList",
    "S-1-5-18",
    "Components",
    "installproperties",
    "INSTALLPROPERTIES",
    "InstallPropertie",
    "S-1-5-21-1111111111-2222222222-3333333333-1002",
    "Patches",
    "Usage",
    "1.11.XY50 beta",
};
constexpr std::size_t kWordCount = sizeof kWords / sizeof kWords[0];

constexpr std::uint32_t kMasks[] = {ACCESS_KEY_READ,
                                    ACCESS_KEY_WRITE,
                                    ACCESS_KEY_WRITE_ENUMERATE,
                                    ACCESS_KEY_READ_WRITE,
                                    ACCESS_KEY_ALL & ~ACCESS_DELETE,
                                    0,
                                    ACCESS_DELETE};
constexpr RegResult kCodes[] = {2, 5, 234, 1450, 259, 6, 1018, 87};
constexpr std::uint32_t kTypes[] = {REG_TYPE_SZ,        REG_TYPE_BINARY,   REG_TYPE_DWORD,
                                    REG_TYPE_EXPAND_SZ, REG_TYPE_MULTI_SZ, REG_TYPE_NONE,
                                    REG_TYPE_QWORD};
constexpr std::size_t kRawSelector = 255;

class Reader {
  public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool more() const { return at_ < size_; }
    std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::uint16_t U16() {
        std::uint16_t low = Byte();
        return static_cast<std::uint16_t>(low | (Byte() << 8));
    }
    std::uint32_t U32() {
        std::uint32_t low = U16();
        return low | (static_cast<std::uint32_t>(U16()) << 16);
    }
    std::string Bytes(std::size_t count) {
        count = std::min(count, size_ - at_);
        std::string bytes(reinterpret_cast<const char*>(data_ + at_), count);
        at_ += count;
        return bytes;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

std::string ChangeCase(std::string name, int how) {
    for (std::size_t i = 0; i < name.size(); ++i) {
        char& c = name[i];
        bool upper = how == 1 || (how == 3 && i % 2 == 0);
        if (upper && c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 32);
        } else if (!upper && how != 0 && c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c + 32);
        }
    }
    return name;
}

// A NUL stays: the native API makes such names, and the 8-bit calls cannot
// spell them.
std::string KeySafe(std::string name) {
    if (name.empty()) {
        return "0";
    }
    for (char& c : name) {
        if (c == '\\') {
            c = '|';
        } else if (c == '\n') {
            c = '\v';
        }
    }
    return name;
}

enum class NameUse { KeyPath, KeyName, ValueName };

std::string ReadName(Reader& in, NameUse use) {
    std::uint8_t kind = in.Byte();
    std::string name;
    switch (kind & 3) {
        case 0:
            name = in.Bytes(in.Byte());
            break;
        case 1: {
            char fill = static_cast<char>(in.Byte());
            name = std::string(in.Byte(), fill);
            break;
        }
        case 2:
            name = kWords[in.Byte() % kWordCount];
            break;
        default: {
            char code[40];
            std::snprintf(code, sizeof code, "%032X", static_cast<unsigned>(in.U16()));
            name = code;
            break;
        }
    }
    name = ChangeCase(std::move(name), (kind >> 2) & 3);
    if (use == NameUse::KeyName || (use == NameUse::KeyPath && (kind & 3) != 2)) {
        name = KeySafe(std::move(name));
    }
    return name;
}

std::string ReadData(Reader& in) {
    std::uint8_t kind = in.Byte();
    switch (kind % 5) {
        case 0:
            return in.Bytes(std::min<std::size_t>(in.U16(), kDataLimit));
        case 1:
            return kWords[in.Byte() % kWordCount];
        case 2:
            return std::string(kWords[in.Byte() % kWordCount]) + '\0';
        case 3: {
            char fill = static_cast<char>(in.Byte());
            return std::string(std::min<std::size_t>(in.U16(), kDataLimit), fill);
        }
        default: {
            std::string version = "1.11.00";
            version += static_cast<char>(in.Byte());
            version += static_cast<char>(in.Byte());
            return version;
        }
    }
}

class Builder {
  public:
    Builder(MemoryRegistry& registry, std::vector<std::string>* directives)
        : registry_(registry), directives_(directives) {
        current_ = registry.RootNode(HKEY_LOCAL_MACHINE_ROOT);
    }

    void Run(Reader& in) {
        while (in.more()) {
            switch (in.Byte() % kCommandCount) {
                case kKey: {
                    RegKey root = in.Byte() & 1 ? HKEY_USERS_ROOT : HKEY_LOCAL_MACHINE_ROOT;
                    current_ = registry_.RootNode(root);
                    depth_ = 0;
                    std::uint8_t count = in.Byte() % 16;
                    for (std::uint8_t i = 0; i < count && in.more(); ++i) {
                        Descend(ReadName(in, NameUse::KeyPath));
                    }
                    break;
                }
                case kChild:
                    Descend(ReadName(in, NameUse::KeyName));
                    break;
                case kUp:
                    for (std::uint8_t n = in.Byte(); n > 0; --n) {
                        MemoryRegistry::NodeId parent = registry_.Parent(current_);
                        if (parent == MemoryRegistry::kNoNode) {
                            break;
                        }
                        current_ = parent;
                        --depth_;
                    }
                    break;
                case kValue: {
                    std::string name = ReadName(in, NameUse::ValueName);
                    std::uint8_t selector = in.Byte();
                    std::uint32_t type = selector == kRawSelector
                                             ? in.U32()
                                             : kTypes[selector % (sizeof kTypes / sizeof *kTypes)];
                    registry_.SetValue(current_, name, type, ReadData(in));
                    break;
                }
                case kAllow: {
                    std::uint8_t selector = in.Byte();
                    std::uint32_t mask = selector == kRawSelector
                                             ? in.U32()
                                             : kMasks[selector % (sizeof kMasks / sizeof *kMasks)];
                    if (!IsRoot(current_)) {
                        registry_.SetAllowedAccess(current_, mask);
                    }
                    if (!IsRoot(current_) && directives_ != nullptr) {
                        char hex[16];
                        std::snprintf(hex, sizeof hex, "%x", mask);
                        directives_->push_back(std::string("allow: ") + hex + " " +
                                               PathOf(current_));
                    }
                    break;
                }
                case kInject: {
                    auto op = static_cast<RegOperation>(in.Byte() % 4);
                    std::uint16_t nth = in.U16();
                    std::uint8_t selector = in.Byte();
                    RegResult code = selector == kRawSelector
                                         ? in.U32()
                                         : kCodes[selector % (sizeof kCodes / sizeof *kCodes)];
                    if (nth > 0 && code != 0) {
                        registry_.InjectFailure(op, nth, code);
                    }
                    if (nth > 0 && code != 0 && directives_ != nullptr) {
                        static const char* const kOps[] = {"open", "enum", "query", "delete"};
                        directives_->push_back(std::string("inject: ") +
                                               kOps[static_cast<int>(op)] + " " +
                                               std::to_string(nth) + " " + std::to_string(code));
                    }
                    break;
                }
                case kChain: {
                    std::size_t depth = std::min<std::size_t>(in.U16(), kChainLimit);
                    std::string name = ReadName(in, NameUse::KeyName);
                    for (std::size_t i = 0; i < depth; ++i) {
                        Descend(name);
                    }
                    break;
                }
                case kFan: {
                    std::size_t count = std::min<std::size_t>(in.U16(), kFanLimit);
                    std::string name = ReadName(in, NameUse::KeyName);
                    for (std::size_t i = 0; i < count && Budget(); ++i) {
                        std::string numbered = (name + std::to_string(i)).substr(0, 255);
                        registry_.CreateKey(current_, numbered);
                        ++keys_;
                    }
                    break;
                }
                case kProduct:
                    Product(in);
                    break;
            }
        }
    }

  private:
    bool Budget() const { return keys_ < kKeyBudget; }
    std::string PathOf(MemoryRegistry::NodeId node) const {
        std::string path;
        for (MemoryRegistry::NodeId at = node; registry_.Parent(at) != MemoryRegistry::kNoNode;
             at = registry_.Parent(at)) {
            path = "\\" + std::string(registry_.Name(at)) + path;
        }
        MemoryRegistry::NodeId top = node;
        while (registry_.Parent(top) != MemoryRegistry::kNoNode) {
            top = registry_.Parent(top);
        }
        return (top == registry_.RootNode(HKEY_USERS_ROOT) ? "HKEY_USERS" : "HKEY_LOCAL_MACHINE") +
               path;
    }
    bool IsRoot(MemoryRegistry::NodeId node) const {
        return registry_.Parent(node) == MemoryRegistry::kNoNode;
    }

    // A word may stand for several levels.
    void Descend(const std::string& path) {
        std::size_t start = 0;
        for (;;) {
            std::size_t cut = path.find('\\', start);
            std::string name = path.substr(start, cut == std::string::npos ? cut : cut - start);
            if (!Budget() || depth_ >= kDepthLimit) {
                return;
            }
            current_ = registry_.CreateKey(current_, name);
            ++keys_;
            ++depth_;
            if (cut == std::string::npos) {
                return;
            }
            start = cut + 1;
        }
    }

    void Product(Reader& in) {
        std::string sid = ReadName(in, NameUse::KeyName);
        std::string code = ReadName(in, NameUse::KeyName);
        std::uint8_t flags = in.Byte();
        std::string displayName = ReadData(in);
        std::string displayVersion = ReadData(in);
        std::string productName = ReadData(in);
        if (!Budget()) {
            return;
        }
        MemoryRegistry::NodeId product = registry_.CreatePath(
            HKEY_USERS_ROOT, sid + "\\Software\\Microsoft\\Installer\\Products\\" + code);
        if (!(flags & 4)) {
            registry_.SetValue(product, "ProductName", REG_TYPE_SZ, productName);
        }
        current_ = registry_.CreatePath(
            HKEY_LOCAL_MACHINE_ROOT, std::string(kWords[0]) + "\\" + sid + "\\Products\\" + code +
                                         "\\" + ChangeCase("InstallProperties", flags >> 6));
        if (!(flags & 1)) {
            registry_.SetValue(current_, "DisplayName", REG_TYPE_SZ, displayName);
        }
        if (!(flags & 2)) {
            registry_.SetValue(current_, "DisplayVersion",
                               flags & 8 ? REG_TYPE_BINARY : REG_TYPE_SZ, displayVersion);
        }
        current_ = registry_.Parent(current_);
        depth_ = 9;
        keys_ += 12;
    }

    MemoryRegistry& registry_;
    std::vector<std::string>* directives_;
    MemoryRegistry::NodeId current_;
    std::size_t keys_ = 0;
    std::size_t depth_ = 0;
};

}  // namespace

FuzzSettings BuildFuzzRegistry(const std::uint8_t* data, std::size_t size, MemoryRegistry& registry,
                               std::vector<std::string>* directives) {
    Reader in(data, size);
    std::uint8_t settingsByte = in.Byte();
    FuzzSettings settings;
    settings.diagnostic = settingsByte & 1;
    settings.answers = {(settingsByte & 2) != 0};
    Builder(registry, directives).Run(in);
    return settings;
}

FuzzInputWriter::FuzzInputWriter(bool diagnostic, bool answerYes) {
    Byte((diagnostic ? 1 : 0) | (answerYes ? 2 : 0));
}

void FuzzInputWriter::Name(const std::string& name) {
    std::string cut = name.substr(0, 255);
    Byte(0);
    Byte(static_cast<std::uint32_t>(cut.size()));
    bytes_ += cut;
}

void FuzzInputWriter::Key(RegKey root, const std::string& path) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= path.size() && !path.empty()) {
        std::size_t cut = path.find('\\', start);
        names.push_back(path.substr(start, cut == std::string::npos ? cut : cut - start));
        if (cut == std::string::npos) {
            break;
        }
        start = cut + 1;
    }
    // Paths deeper than one command holds continue with child commands.
    Byte(kKey);
    Byte(root == HKEY_USERS_ROOT ? 1 : 0);
    std::size_t first = std::min<std::size_t>(names.size(), 15);
    Byte(static_cast<std::uint32_t>(first));
    for (std::size_t i = 0; i < first; ++i) {
        Name(names[i]);
    }
    for (std::size_t i = first; i < names.size(); ++i) {
        Byte(kChild);
        Name(names[i]);
    }
}

void FuzzInputWriter::Value(const std::string& name, std::uint32_t type, const std::string& data) {
    Byte(kValue);
    Name(name);
    Byte(kRawSelector);
    U32(type);
    Byte(0);
    std::string cut = data.substr(0, kDataLimit);
    U16(static_cast<std::uint32_t>(cut.size()));
    bytes_ += cut;
}

void FuzzInputWriter::Allow(std::uint32_t mask) {
    Byte(kAllow);
    Byte(kRawSelector);
    U32(mask);
}

void FuzzInputWriter::Inject(RegOperation op, std::uint16_t nth, RegResult code) {
    Byte(kInject);
    Byte(static_cast<std::uint32_t>(op));
    U16(nth);
    Byte(kRawSelector);
    U32(code);
}

void FuzzInputWriter::Chain(std::uint16_t depth, const std::string& name) {
    Byte(kChain);
    U16(depth);
    Name(name);
}

void FuzzInputWriter::Fan(std::uint16_t count, const std::string& name) {
    Byte(kFan);
    U16(count);
    Name(name);
}

void FuzzInputWriter::Child(const std::string& name) {
    Byte(kChild);
    Name(name);
}

void FuzzInputWriter::Up(std::uint8_t levels) {
    Byte(kUp);
    Byte(levels);
}
