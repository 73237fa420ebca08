// Installer data no healthy machine has: deep chains, paths at the limits,
// wide keys, long names, odd InstallProperties and odd values. Every run
// must keep the invariants; where the outcome is certain, it is checked too.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "memory_harness.h"

namespace {

const std::string kUserData = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData";
const std::string kSid = "S-1-5-21-1111111111-2222222222-3333333333-1001";
const std::string kCode = "C5B4A39281706F5E4D3C2B1A09F8E7D6";
const std::string kName = "DUVA Brelix for Windows";

std::string Text(const std::string& text) {
    return text + std::string(1, '\0');
}

// The installer data key below UserData\<SID>\<middle>\<code>, with its
// InstallProperties, and the product registration under HKEY_USERS.
struct Product {
    std::string middle = "Products";
    std::string code = kCode;
    std::string displayName = Text(kName);
    std::string displayVersion = Text("1.11.0050");
    std::string productName = Text(kName);
    std::uint32_t versionType = REG_TYPE_SZ;
    std::string propertiesName = "InstallProperties";

    std::string DataPath() const { return kUserData + "\\" + kSid + "\\" + middle + "\\" + code; }
    std::string ProductPath() const {
        return kSid + "\\Software\\Microsoft\\Installer\\Products\\" + code;
    }

    void AddTo(MemoryRegistry& r) const {
        auto properties = r.CreatePath(HKEY_LOCAL_MACHINE_ROOT, DataPath() + "\\" + propertiesName);
        r.SetValue(properties, "DisplayName", REG_TYPE_SZ, displayName);
        r.SetValue(properties, "DisplayVersion", versionType, displayVersion);
        r.CreatePath(HKEY_LOCAL_MACHINE_ROOT, DataPath() + "\\Features");
        auto product = r.CreatePath(HKEY_USERS_ROOT, ProductPath());
        r.SetValue(product, "ProductName", REG_TYPE_SZ, productName);
        r.CreatePath(HKEY_USERS_ROOT, ProductPath() + "\\SourceList\\Net");
    }
};

std::string Chain(int depth, std::size_t nameLength, char fill = 'L') {
    std::string chain;
    for (int i = 0; i < depth; ++i) {
        chain += (i ? "\\" : "") + std::string(nameLength, fill);
    }
    return chain;
}

std::string Lines(const std::vector<std::string>& violations) {
    std::string text;
    for (std::size_t i = 0; i < violations.size() && i < 8; ++i) {
        text += "  " + violations[i] + "\n";
    }
    return text;
}

struct Shape {
    const char* name;
    std::function<void(MemoryRegistry&)> build;
    const char* outcome;  // null: any outcome that keeps the invariants
};

Product WithMiddle(std::string middle) {
    Product product;
    product.middle = std::move(middle);
    return product;
}

// A middle part that makes the installer data key path exactly length long.
std::string MiddleForDataPath(std::size_t length) {
    std::size_t fixed = kUserData.size() + kSid.size() + kCode.size() + 3;
    std::string middle;
    while (fixed + middle.size() < length) {
        std::size_t room = length - fixed - middle.size();
        if (!middle.empty()) {
            middle += '\\';
            --room;
        }
        middle += std::string(std::min<std::size_t>(room ? room : 1, 200), 'M');
    }
    return middle;
}

const Shape kShapes[] = {
    {"chain of 512 levels above the product, 1-character names",
     [](MemoryRegistry& r) { WithMiddle(Chain(512, 1)).AddTo(r); }, "not-found"},
    {"chain of 512 levels below the target",
     [](MemoryRegistry& r) {
         Product product;
         product.AddTo(r);
         r.CreatePath(HKEY_LOCAL_MACHINE_ROOT, product.DataPath() + "\\Features\\" + Chain(512, 1));
     },
     "not-removed"},
    {"chain of 512 levels below the product registration",
     [](MemoryRegistry& r) {
         Product product;
         product.AddTo(r);
         r.CreatePath(HKEY_USERS_ROOT, product.ProductPath() + "\\" + Chain(512, 3));
     },
     "not-removed"},
    {"chains of 255-character names",
     [](MemoryRegistry& r) {
         r.CreatePath(HKEY_LOCAL_MACHINE_ROOT, kUserData + "\\" + kSid + "\\" + Chain(8, 255, 'N'));
         Product().AddTo(r);
     },
     "removed"},
    // The deletion names keys in 255 characters: InstallProperties is the
    // longest path of the data key's tree.
    {"InstallProperties path of 255 characters",
     [](MemoryRegistry& r) { WithMiddle(MiddleForDataPath(255 - 18)).AddTo(r); }, "removed"},
    {"InstallProperties path of 256 characters",
     [](MemoryRegistry& r) { WithMiddle(MiddleForDataPath(256 - 18)).AddTo(r); }, "not-removed"},
    {"candidate of 1005 characters, its InstallProperties at 1023",
     [](MemoryRegistry& r) { WithMiddle(MiddleForDataPath(1005)).AddTo(r); }, "not-removed"},
    {"candidate of 1006 characters, its InstallProperties beyond 1023",
     [](MemoryRegistry& r) { WithMiddle(MiddleForDataPath(1006)).AddTo(r); }, "not-found"},
    {"unreadable key with a path of 1022 characters, its report cut at 1023",
     [](MemoryRegistry& r) {
         Product product;
         product.AddTo(r);
         std::string path = kUserData + "\\" + kSid + "\\" + MiddleForDataPath(1022 + 33);
         r.SetAllowedAccess(r.CreatePath(HKEY_LOCAL_MACHINE_ROOT, path), ACCESS_KEY_READ);
     },
     "removed"},
    {"product key with subkey names of 119 characters",
     [](MemoryRegistry& r) {
         Product product;
         product.AddTo(r);
         r.CreatePath(HKEY_USERS_ROOT, product.ProductPath() + "\\" + std::string(119, 'a') + "\\" +
                                           std::string(119, 'b'));
     },
     "not-removed"},  // the second level's path passes 255 characters
    {"product key with one subkey name of 119 characters",
     [](MemoryRegistry& r) {
         Product product;
         product.AddTo(r);
         r.CreatePath(HKEY_USERS_ROOT, product.ProductPath() + "\\" + std::string(119, 'a'));
     },
     "removed"},
    {"product key with a subkey name of 120 characters",
     [](MemoryRegistry& r) {
         Product product;
         product.AddTo(r);
         r.CreatePath(HKEY_USERS_ROOT, product.ProductPath() + "\\" + std::string(120, 'a'));
     },
     "not-removed"},
    {"data key with a subkey name of 255 characters",
     [](MemoryRegistry& r) {
         Product product;
         product.AddTo(r);
         r.CreatePath(HKEY_LOCAL_MACHINE_ROOT,
                      product.DataPath() + "\\" + std::string(255, '\xE9'));
     },
     "not-removed"},
    {"names of bytes 0x80 to 0xFF around the target",
     [](MemoryRegistry& r) {
         for (int c = 0x80; c <= 0xFF; ++c) {
             std::string name(1 + c % 7, static_cast<char>(c));
             r.CreatePath(HKEY_LOCAL_MACHINE_ROOT, kUserData + "\\" + name + "\\InstallProperties");
             r.CreatePath(HKEY_USERS_ROOT, Product().ProductPath() + "\\" + name);
         }
         Product().AddTo(r);
     },
     "removed"},
    {"InstallProperties directly below UserData and below the SID",
     [](MemoryRegistry& r) {
         r.CreatePath(HKEY_LOCAL_MACHINE_ROOT, kUserData + "\\InstallProperties");
         r.CreatePath(HKEY_LOCAL_MACHINE_ROOT, kUserData + "\\" + kSid + "\\InstallProperties");
         Product().AddTo(r);
     },
     "removed"},
    {"InstallProperties inside InstallProperties, in mixed case",
     [](MemoryRegistry& r) {
         Product product;
         product.propertiesName = "installPROPERTIES\\InstallProperties\\INSTALLPROPERTIES";
         product.AddTo(r);
     },
     "not-found"},  // the outer one has no values; the inner candidates have no product key
    {"near-miss InstallProperties names only",
     [](MemoryRegistry& r) {
         for (const char* name : {"InstallProperties ", "InstallPropertie", "InstallProperties\xE9",
                                  "Install Properties", "InstallProperties\x01"}) {
             Product product;
             product.propertiesName = name;
             product.AddTo(r);
         }
     },
     "not-found"},
    {"product name differing only beyond A-Z",
     [](MemoryRegistry& r) {
         Product product;
         product.productName = Text("DUVA Brelix for Windows\xA0");
         product.AddTo(r);
     },
     "not-found"},
    {"versions that nearly match",
     [](MemoryRegistry& r) {
         const char* versions[] = {"1.11.0010", "1.11.0090",   "1.11.00",   "1.11.0",
                                   "1.12.0050", "1.11.00\xFF", "1.11:0050", " 1.11.0050"};
         int i = 0;
         for (const char* version : versions) {
             Product product;
             product.code = std::string(31, 'A') + static_cast<char>('0' + i++);
             product.displayVersion = Text(version);
             product.AddTo(r);
         }
     },
     "not-found"},
    {"version of 255 characters, unterminated, as binary",
     [](MemoryRegistry& r) {
         Product product;
         product.displayVersion = "1.11.0050" + std::string(246, 'x');
         product.versionType = REG_TYPE_BINARY;
         product.AddTo(r);
     },
     "removed"},
    {"version of 256 characters",
     [](MemoryRegistry& r) {
         Product product;
         product.displayVersion = "1.11.0050" + std::string(247, 'x');
         product.AddTo(r);
     },
     "not-found"},
    {"values missing, as numbers, empty",
     [](MemoryRegistry& r) {
         Product missing;
         missing.AddTo(r);
         r.RemoveValue(
             r.FindPath(HKEY_LOCAL_MACHINE_ROOT, missing.DataPath() + "\\InstallProperties"),
             "DisplayName");
         Product number;
         number.code = kCode + "1";
         number.displayVersion = std::string("\x32\x00\x00\x00", 4);
         number.versionType = REG_TYPE_DWORD;
         number.AddTo(r);
         Product empty;
         empty.code = kCode + "2";
         empty.productName = "";
         empty.AddTo(r);
     },
     "not-found"},
};

TEST(HostileRegistry, EveryShapeKeepsTheInvariants) {
    for (const Shape& shape : kShapes) {
        for (bool diagnostic : {false, true}) {
            SCOPED_TRACE(std::string(shape.name) + (diagnostic ? ", diagnostic" : ""));
            MemoryRegistry registry;
            shape.build(registry);
            CheckedRun run;
            EXPECT_EQ(Lines(RepairAndCheck(registry, diagnostic, {true}, &run)), "");
            if (shape.outcome != nullptr) {
                EXPECT_STREQ(OutcomeName(run.outcome), shape.outcome);
            }
        }
    }
}

TEST(HostileRegistry, KeyWithAHundredThousandSubkeys) {
    MemoryRegistry registry;
    auto products =
        registry.CreatePath(HKEY_LOCAL_MACHINE_ROOT, kUserData + "\\" + kSid + "\\Products");
    for (int i = 0; i < 100000; ++i) {
        char name[40];
        std::snprintf(name, sizeof name, "%032X", i);
        registry.CreateKey(products, name);
    }
    Product product;
    product.code = "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF";  // walked last
    product.AddTo(registry);
    auto begin = std::chrono::steady_clock::now();
    CheckedRun run;
    EXPECT_EQ(Lines(RepairAndCheck(registry, true, {true}, &run)), "");
    EXPECT_EQ(run.outcome, RepairOutcome::Removed);
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    EXPECT_LT(seconds, 60.0);
}

}  // namespace
