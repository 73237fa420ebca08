#include "installer_data.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "search_key.h"

namespace {

constexpr const char* kUserDataPath[] = {"SOFTWARE",       "Microsoft", "Windows",
                                         "CurrentVersion", "Installer", "UserData"};
constexpr const char* kProductsPath[] = {"Software", "Microsoft", "Installer", "Products"};
// A domain no machine has: importing and deleting these SIDs touches
// nothing real.
constexpr char kTestDomain[] = "S-1-5-21-4000000001-4000000002-4000000003-";
constexpr std::uint32_t kFirstRid = 1001;
constexpr char kDamagedName[] = "DUVA Brelix for Windows";
constexpr char kDamagedVersion[] = "1.11.0050";

constexpr const char* kMakers[] = {"Orvane",    "Quillet",   "Brasswick", "Tandemere",
                                   "Halvorsen", "Mirecroft", "Pellagon",  "Ostwyn",
                                   "Caddoran",  "Velmiro",   "Runstead",  "Ambergate"};
constexpr const char* kProducts[] = {
    "Photo Desk",   "Sound Forge Lite", "Backup Agent",  "PDF Printer",   "Runtime",
    "Media Codecs", "Device Manager",   "Update Helper", "Font Pack",     "SDK",
    "Office Tools", "Scanner Driver",   "Sync Client",   "Remote Viewer", "Language Pack"};
constexpr const char* kFiles[] = {"core", "ui",   "net",  "codec",  "help",
                                  "res",  "util", "data", "plugin", "intl"};

std::uint64_t Mix(std::uint64_t z) {
    z += 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

class Rng {
  public:
    explicit Rng(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next() { return Mix(state_++); }
    // Uniform in [0, bound).
    std::size_t Below(std::size_t bound) {
        return static_cast<std::size_t>(Next() % static_cast<std::uint64_t>(bound));
    }
    double Unit() { return static_cast<double>(Next() >> 11) / 9007199254740992.0; }

  private:
    std::uint64_t state_;
};

void AppendHex(std::string& out, std::uint64_t value, int digits) {
    static const char kHex[] = "0123456789ABCDEF";
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
        out.push_back(kHex[(value >> shift) & 0xF]);
    }
}

// A packed code whose first eight digits are `order`: names made from
// increasing orders are generated in enumeration order, the rest is random.
std::string PackedCode(std::uint32_t order, Rng& rng) {
    std::string code;
    code.reserve(32);
    AppendHex(code, order, 8);
    AppendHex(code, rng.Next(), 16);
    AppendHex(code, rng.Next(), 8);
    return code;
}

// The i-th of n orders spread over [0, limit), strictly increasing in i:
// each lies at random within its own share of the range.
std::uint32_t Spread(std::size_t i, std::size_t n, std::uint64_t limit, Rng& rng) {
    std::uint64_t share = limit / static_cast<std::uint64_t>(n);
    std::uint64_t start = static_cast<std::uint64_t>(i) * limit / static_cast<std::uint64_t>(n);
    return static_cast<std::uint32_t>(start + rng.Next() % share);
}

std::string Sz(std::string_view text) {
    std::string data(text);
    data.push_back('\0');
    return data;
}

std::string Dword(std::uint32_t value) {
    std::string data(4, '\0');
    for (int i = 0; i < 4; ++i) {
        data[static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
    return data;
}

struct Shape {
    std::vector<std::string> sids;
    std::vector<std::size_t> products;
    std::vector<std::size_t> components;
    std::vector<std::size_t> patches;
};

// Keys per SID: the SID, Components, Patches, Products.
constexpr std::size_t kKeysPerSid = 4;
// Keys per product: the product, Features, InstallProperties, Patches, Usage.
constexpr std::size_t kKeysPerProduct = 5;

Shape ShapeFor(const InstallerDataOptions& options) {
    std::size_t keys = std::max(options.keys, kMinimumInstallerDataKeys);
    std::size_t sidCount = keys < 50000 ? 3 : keys < 500000 ? 4 : 6;
    Shape shape;
    for (std::size_t s = 0; s < sidCount; ++s) {
        shape.sids.push_back(kTestDomain + std::to_string(kFirstRid + s));
    }
    // The first user holds most, as the machine-wide installs do on a real
    // machine; the rest share what is left.
    std::size_t totalProducts = std::max<std::size_t>(2 * sidCount, keys / 120);
    shape.products.assign(sidCount, 0);
    shape.patches.assign(sidCount, 0);
    std::size_t assigned = 0;
    for (std::size_t s = 1; s < sidCount; ++s) {
        shape.products[s] = std::max<std::size_t>(2, totalProducts * 2 / (5 * (sidCount - 1)));
        assigned += shape.products[s];
    }
    shape.products[0] = std::max<std::size_t>(2, totalProducts - std::min(assigned, totalProducts));
    std::size_t fixedKeys = options.damagedProduct ? kKeysPerProduct : 0;
    for (std::size_t s = 0; s < sidCount; ++s) {
        shape.patches[s] = 1 + shape.products[s] / 40;
        fixedKeys += kKeysPerSid + shape.patches[s] + kKeysPerProduct * shape.products[s];
    }
    std::size_t totalComponents = keys > fixedKeys ? keys - fixedKeys : 0;
    shape.components.assign(sidCount, 0);
    std::size_t given = 0;
    for (std::size_t s = 1; s < sidCount; ++s) {
        shape.components[s] = totalComponents * 2 / (5 * (sidCount - 1));
        given += shape.components[s];
    }
    shape.components[0] = totalComponents - given;
    return shape;
}

struct ProductFacts {
    std::string code;
    std::string maker;
    std::string name;
    std::string version;
};

ProductFacts Facts(std::size_t sid, std::size_t index, std::size_t count, std::uint64_t seed) {
    Rng rng(Mix(seed ^ (sid << 40) ^ index) ^ 0x50524F44ull);
    ProductFacts facts;
    // Top digit below F: the damaged product's code sorts after every other.
    facts.code = PackedCode(Spread(index, count, 0xF0000000ull, rng), rng);
    std::size_t pick = static_cast<std::size_t>(rng.Next());
    facts.maker = kMakers[pick % std::size(kMakers)];
    facts.name = facts.maker + " " + kProducts[(pick / 16) % std::size(kProducts)];
    facts.version = std::to_string(1 + rng.Below(14)) + "." + std::to_string(rng.Below(20)) + "." +
                    std::to_string(1000 + rng.Below(9000));
    // One near miss per user: the right product in its next release.
    if (sid > 0 && index == count / 2) {
        facts.maker = "DUVA";
        facts.name = kDamagedName;
        facts.version = "1.12.0020";
    }
    return facts;
}

ProductFacts DamagedFacts(std::uint64_t seed) {
    Rng rng(Mix(seed ^ 0x44414D41474544ull));
    ProductFacts facts;
    facts.code = "F";
    AppendHex(facts.code, rng.Next(), 16);
    AppendHex(facts.code, rng.Next(), 15);
    facts.maker = "DUVA";
    facts.name = kDamagedName;
    facts.version = kDamagedVersion;
    return facts;
}

// Wraps the sink: counts the keys it is given and walks fixed paths.
class Emitter {
  public:
    explicit Emitter(InstallerDataSink& sink) : sink_(sink) {}

    void Root(RegKey root) { sink_.BeginRoot(root); }
    void Begin(std::string_view name) {
        sink_.BeginKey(name);
        ++keys_;
    }
    void End() { sink_.EndKey(); }
    template <std::size_t N>
    void BeginPath(const char* const (&names)[N]) {
        for (const char* name : names) {
            Begin(name);
        }
    }
    template <std::size_t N>
    void EndPath(const char* const (&)[N]) {
        for (std::size_t i = 0; i < N; ++i) {
            End();
        }
    }
    void Sz(std::string_view name, std::string_view text) {
        sink_.Value(name, REG_TYPE_SZ, ::Sz(text));
    }
    void Dword(std::string_view name, std::uint32_t value) {
        sink_.Value(name, REG_TYPE_DWORD, ::Dword(value));
    }
    void Raw(std::string_view name, std::uint32_t type, std::string_view data) {
        sink_.Value(name, type, data);
    }
    std::size_t keys() const { return keys_; }
    void ResetCount() { keys_ = 0; }

  private:
    InstallerDataSink& sink_;
    std::size_t keys_ = 0;
};

std::string LowerHex(std::string_view code, std::size_t digits) {
    std::string text(code.substr(0, digits));
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::string Braced(std::string_view code) {
    return "{" + std::string(code.substr(0, 8)) + "-" + std::string(code.substr(8, 4)) + "-" +
           std::string(code.substr(12, 4)) + "-" + std::string(code.substr(16, 4)) + "-" +
           std::string(code.substr(20, 12)) + "}";
}

std::string RandomText(Rng& rng, std::size_t length) {
    static const char kChars[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789!$%&()*+,-.?@[]^_`{}~";
    std::string text(length, ' ');
    for (char& c : text) {
        c = kChars[rng.Below(sizeof kChars - 1)];
    }
    return text;
}

void EmitProduct(Emitter& out, const ProductFacts& facts, Rng& rng) {
    std::string folder = "C:\\Program Files\\" + facts.maker + "\\" + facts.name + "\\";
    std::string guid = Braced(facts.code);
    out.Begin(facts.code);
    out.Begin("Features");
    out.Sz("Complete", "");
    std::size_t features = 1 + rng.Below(3);
    for (std::size_t f = 0; f < features; ++f) {
        out.Sz("Feature" + std::to_string(f), RandomText(rng, 20 + rng.Below(40)));
    }
    out.End();
    out.Begin("InstallProperties");
    out.Sz("LocalPackage", "C:\\Windows\\Installer\\" + LowerHex(facts.code, 6) + ".msi");
    out.Sz("AuthorizedCDFPrefix", "");
    out.Sz("Comments", "");
    out.Sz("Contact", "");
    out.Sz("DisplayVersion", facts.version);
    out.Sz("HelpLink", "");
    out.Sz("HelpTelephone", "");
    out.Sz("InstallDate", "2024" + std::to_string(1001 + rng.Below(230)));
    out.Sz("InstallLocation", folder);
    out.Sz("InstallSource", "D:\\Setup\\" + facts.name + "\\");
    out.Raw("ModifyPath", REG_TYPE_EXPAND_SZ, Sz("MsiExec.exe /I" + guid));
    out.Dword("NoModify", 1);
    out.Sz("Publisher", facts.maker + " Inc.");
    out.Sz("Readme", "");
    out.Sz("Size", "");
    out.Dword("EstimatedSize", static_cast<std::uint32_t>(100 + rng.Below(900000)));
    out.Raw("UninstallString", REG_TYPE_EXPAND_SZ, Sz("MsiExec.exe /X" + guid));
    out.Sz("URLInfoAbout", "");
    out.Sz("URLUpdateInfo", "");
    out.Dword("VersionMajor", static_cast<std::uint32_t>(std::atoi(facts.version.c_str())));
    out.Dword("VersionMinor", 0);
    out.Dword("WindowsInstaller", 1);
    out.Dword("Version", 0x01000000);
    out.Dword("Language", 1033);
    out.Sz("DisplayName", facts.name);
    out.End();
    out.Begin("Patches");
    out.Raw("AllPatches", REG_TYPE_MULTI_SZ, std::string_view("\0", 1));
    out.End();
    out.Begin("Usage");
    out.Dword("Complete", static_cast<std::uint32_t>(0x1F000000 | rng.Below(64)));
    out.End();
    out.End();
}

void EmitRegistration(Emitter& out, const ProductFacts& facts) {
    std::string package = LowerHex(facts.code, 6) + ".msi";
    std::string source = "D:\\Setup\\" + facts.name + "\\";
    out.Begin(facts.code);
    out.Sz("ProductName", facts.name);
    out.Sz("PackageCode", facts.code.substr(16) + facts.code.substr(0, 16));
    out.Dword("Language", 1033);
    out.Dword("Version", 0x01000000);
    out.Dword("Assignment", 0);
    out.Dword("AdvertiseFlags", 388);
    out.Dword("InstanceType", 0);
    out.Dword("AuthorizedLUAApp", 0);
    out.Dword("DeploymentFlags", 3);
    out.Raw("Clients", REG_TYPE_MULTI_SZ, std::string_view(":\0\0", 3));
    out.Begin("SourceList");
    out.Sz("PackageName", package);
    out.Raw("LastUsedSource", REG_TYPE_EXPAND_SZ, Sz("n;1;" + source));
    out.Begin("Media");
    out.Sz("1", ";");
    out.Sz("DiskPrompt", facts.name);
    out.End();
    out.Begin("Net");
    out.Raw("1", REG_TYPE_EXPAND_SZ, Sz(source));
    out.End();
    out.End();
    out.End();
}

// Keys per registration: the product, SourceList, Media, Net.
constexpr std::size_t kKeysPerRegistration = 4;

void EmitComponents(Emitter& out, const std::vector<ProductFacts>& products, std::size_t count,
                    std::size_t sid, std::uint64_t seed) {
    Rng rng(Mix(seed ^ (sid << 48) ^ 0x434F4D50ull));
    out.Begin("Components");
    for (std::size_t i = 0; i < count; ++i) {
        out.Begin(PackedCode(Spread(i, count, 0x100000000ull, rng), rng));
        // Skewed: a few products own most components, as large suites do.
        std::size_t values = rng.Below(10) < 3 ? 2 : 1;
        for (std::size_t v = 0; v < values; ++v) {
            double u = rng.Unit();
            const ProductFacts& owner = products[static_cast<std::size_t>(
                u * u * u * static_cast<double>(products.size()))];
            std::string file = kFiles[rng.Below(std::size(kFiles))] + std::to_string(i % 997);
            if (rng.Below(5) == 0) {
                out.Sz(owner.code,
                       "02:\\SOFTWARE\\" + owner.maker + "\\" + owner.name + "\\Settings\\" + file);
            } else {
                out.Sz(owner.code, "C:\\Program Files\\" + owner.maker + "\\" + owner.name +
                                       "\\bin\\" + file + ".dll");
            }
        }
        out.End();
    }
    out.End();
}

void EmitPatches(Emitter& out, std::size_t count, std::size_t sid, std::uint64_t seed) {
    Rng rng(Mix(seed ^ (sid << 52) ^ 0x5041544348ull));
    out.Begin("Patches");
    for (std::size_t i = 0; i < count; ++i) {
        std::string code = PackedCode(Spread(i, count, 0x100000000ull, rng), rng);
        out.Begin(code);
        out.Sz("LocalPackage", "C:\\Windows\\Installer\\" + LowerHex(code, 8) + ".msp");
        out.End();
    }
    out.End();
}

}  // namespace

std::vector<std::string> InstallerDataSids(const InstallerDataOptions& options) {
    return ShapeFor(options).sids;
}

InstallerDataSummary GenerateInstallerData(const InstallerDataOptions& options,
                                           InstallerDataSink& sink) {
    Shape shape = ShapeFor(options);
    std::size_t sidCount = shape.sids.size();
    std::vector<std::vector<ProductFacts>> products(sidCount);
    for (std::size_t s = 0; s < sidCount; ++s) {
        for (std::size_t j = 0; j < shape.products[s]; ++j) {
            products[s].push_back(Facts(s, j, shape.products[s], options.seed));
        }
    }
    ProductFacts damaged = DamagedFacts(options.seed);

    InstallerDataSummary summary;
    summary.sids = shape.sids;
    Emitter out(sink);
    Rng rng(Mix(options.seed ^ 0x50524F50ull));
    out.Root(HKEY_LOCAL_MACHINE_ROOT);
    out.BeginPath(kUserDataPath);
    out.ResetCount();
    for (std::size_t s = 0; s < sidCount; ++s) {
        out.Begin(shape.sids[s]);
        EmitComponents(out, products[s], shape.components[s], s, options.seed);
        EmitPatches(out, shape.patches[s], s, options.seed);
        out.Begin("Products");
        for (const ProductFacts& facts : products[s]) {
            EmitProduct(out, facts, rng);
        }
        if (options.damagedProduct && s + 1 == sidCount) {
            Rng damagedRng(Mix(options.seed ^ 0x4452ull));
            EmitProduct(out, damaged, damagedRng);
        }
        out.End();
        out.End();
        summary.products += products[s].size();
        summary.components += shape.components[s];
    }
    summary.dataKeys = out.keys();
    out.EndPath(kUserDataPath);

    // The first user's products are machine-wide: registered elsewhere.
    out.Root(HKEY_USERS_ROOT);
    std::size_t registrations = 0;
    for (std::size_t s = 1; s < sidCount; ++s) {
        out.Begin(shape.sids[s]);
        out.BeginPath(kProductsPath);
        for (const ProductFacts& facts : products[s]) {
            EmitRegistration(out, facts);
            ++registrations;
        }
        if (options.damagedProduct && s + 1 == sidCount) {
            EmitRegistration(out, damaged);
            ++registrations;
        }
        out.EndPath(kProductsPath);
        out.End();
    }
    summary.productKeys = registrations * kKeysPerRegistration;
    if (options.damagedProduct) {
        ++summary.products;
        const std::string& sid = shape.sids.back();
        summary.damagedDataPath =
            std::string(kInstallerUserDataPath) + "\\" + sid + "\\Products\\" + damaged.code;
        summary.damagedProductPath =
            sid + "\\Software\\Microsoft\\Installer\\Products\\" + damaged.code;
    }
    return summary;
}

void GenerateDamagedProduct(const InstallerDataOptions& options, InstallerDataSink& sink) {
    Shape shape = ShapeFor(options);
    ProductFacts damaged = DamagedFacts(options.seed);
    Emitter out(sink);
    out.Root(HKEY_LOCAL_MACHINE_ROOT);
    out.BeginPath(kUserDataPath);
    out.Begin(shape.sids.back());
    out.Begin("Products");
    Rng damagedRng(Mix(options.seed ^ 0x4452ull));
    EmitProduct(out, damaged, damagedRng);
    out.End();
    out.End();
    out.EndPath(kUserDataPath);
    out.Root(HKEY_USERS_ROOT);
    out.Begin(shape.sids.back());
    out.BeginPath(kProductsPath);
    EmitRegistration(out, damaged);
    out.EndPath(kProductsPath);
    out.End();
}

namespace {

class RegistrySink : public InstallerDataSink {
  public:
    explicit RegistrySink(MemoryRegistry& registry) : registry_(registry) {}
    void BeginRoot(RegKey root) override { path_.assign(1, registry_.RootNode(root)); }
    void BeginKey(std::string_view name) override {
        path_.push_back(registry_.CreateKey(path_.back(), name));
    }
    void EndKey() override { path_.pop_back(); }
    void Value(std::string_view name, std::uint32_t type, std::string_view data) override {
        registry_.SetValue(path_.back(), name, type, data);
    }

  private:
    MemoryRegistry& registry_;
    std::vector<MemoryRegistry::NodeId> path_;
};

class RegTextSink : public InstallerDataSink {
  public:
    explicit RegTextSink(std::string& out) : out_(out) { out_.append("REGEDIT4\r\n"); }
    void BeginRoot(RegKey root) override {
        path_ = root == HKEY_USERS_ROOT ? "HKEY_USERS" : "HKEY_LOCAL_MACHINE";
        lengths_.clear();
    }
    void BeginKey(std::string_view name) override {
        lengths_.push_back(path_.size());
        path_.push_back('\\');
        path_.append(name);
        out_.append("\r\n[");
        out_.append(path_);
        out_.append("]\r\n");
    }
    void EndKey() override {
        path_.resize(lengths_.back());
        lengths_.pop_back();
    }
    void Value(std::string_view name, std::uint32_t type, std::string_view data) override {
        Quoted(name);
        out_.push_back('=');
        bool plainText = type == REG_TYPE_SZ && !data.empty() && data.back() == '\0' &&
                         data.find('\0') == data.size() - 1;
        if (plainText) {
            Quoted(data.substr(0, data.size() - 1));
        } else if (type == REG_TYPE_DWORD && data.size() == 4) {
            std::uint32_t value = 0;
            for (std::size_t i = 4; i-- > 0;) {
                value = (value << 8) | static_cast<unsigned char>(data[i]);
            }
            char text[16];
            std::snprintf(text, sizeof text, "dword:%08x", value);
            out_.append(text);
        } else {
            char prefix[24];
            std::snprintf(prefix, sizeof prefix,
                          type == REG_TYPE_BINARY ? "hex:" : "hex(%x):", type);
            out_.append(prefix);
            static const char kHex[] = "0123456789abcdef";
            for (std::size_t i = 0; i < data.size(); ++i) {
                unsigned char byte = static_cast<unsigned char>(data[i]);
                if (i > 0)
                    out_.push_back(',');
                out_.push_back(kHex[byte >> 4]);
                out_.push_back(kHex[byte & 0xF]);
            }
        }
        out_.append("\r\n");
    }

  private:
    void Quoted(std::string_view text) {
        out_.push_back('"');
        for (char c : text) {
            if (c == '\\' || c == '"')
                out_.push_back('\\');
            out_.push_back(c);
        }
        out_.push_back('"');
    }

    std::string& out_;
    std::string path_;
    std::vector<std::size_t> lengths_;
};

}  // namespace

InstallerDataSummary GenerateInstallerData(const InstallerDataOptions& options,
                                           MemoryRegistry& registry) {
    RegistrySink sink(registry);
    return GenerateInstallerData(options, sink);
}

void GenerateDamagedProduct(const InstallerDataOptions& options, MemoryRegistry& registry) {
    RegistrySink sink(registry);
    GenerateDamagedProduct(options, sink);
}

std::string InstallerDataRegText(const InstallerDataOptions& options,
                                 InstallerDataSummary* summary) {
    std::string text;
    text.reserve(options.keys * 280 + 4096);
    RegTextSink sink(text);
    InstallerDataSummary result = GenerateInstallerData(options, sink);
    if (summary != nullptr) {
        *summary = std::move(result);
    }
    return text;
}
