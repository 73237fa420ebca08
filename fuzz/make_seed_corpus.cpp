// Writes the fuzzer's seed corpus: every scenario file as an input, plus the
// shapes at the limits that random mutation would take long to reach.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "fuzz_input.h"
#include "memory_harness.h"
#include "scenario/scenario.h"

namespace {

const std::string kUserData = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData";
const std::string kSid = "S-1-5-21-1111111111-2222222222-3333333333-1001";
const std::string kCode = "C5B4A39281706F5E4D3C2B1A09F8E7D6";

// Each key once, by name below its parent: far shorter than whole paths.
void WriteTree(FuzzInputWriter& out, const SnapshotKey& key) {
    for (const auto& entry : key.subkeys) {
        const SnapshotKey& subkey = *entry.second;
        out.Child(subkey.name);
        for (const SnapshotValue& value : subkey.values) {
            out.Value(value.name, value.type, value.data);
        }
        WriteTree(out, subkey);
        out.Up(1);
    }
}

void WriteKeys(FuzzInputWriter& out, const RegistrySnapshot& snapshot) {
    out.Key(HKEY_LOCAL_MACHINE_ROOT, "");
    WriteTree(out, snapshot.machine);
    out.Key(HKEY_USERS_ROOT, "");
    WriteTree(out, snapshot.users);
}

// The damaged product, with its subkeys.
void WriteProduct(FuzzInputWriter& out, const std::string& dataPath) {
    out.Key(HKEY_LOCAL_MACHINE_ROOT, dataPath + "\\InstallProperties");
    out.Value("DisplayName", REG_TYPE_SZ, std::string("DUVA Brelix for Windows") + '\0');
    out.Value("DisplayVersion", REG_TYPE_SZ, std::string("1.11.0050") + '\0');
    out.Key(HKEY_USERS_ROOT, kSid + "\\Software\\Microsoft\\Installer\\Products\\" + kCode);
    out.Value("ProductName", REG_TYPE_SZ, std::string("DUVA Brelix for Windows") + '\0');
    out.Key(HKEY_USERS_ROOT,
            kSid + "\\Software\\Microsoft\\Installer\\Products\\" + kCode + "\\SourceList");
}

bool Save(const std::filesystem::path& directory, const std::string& name,
          const std::string& bytes) {
    std::ofstream file(directory / name, std::ios::binary);
    file << bytes;
    return static_cast<bool>(file);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: make_seed_corpus <scenario directory> <corpus directory>\n";
        return 2;
    }
    std::filesystem::path corpus = argv[2];
    std::filesystem::create_directories(corpus);
    int written = 0;
    for (const std::string& path : ListScenarioFiles(argv[1])) {
        Scenario scenario;
        std::string error;
        MemoryRegistry registry;
        if (!ReadScenario(path, &scenario, &error) ||
            !LoadScenarioRegistry(scenario, registry, &error)) {
            std::cerr << error << "\n";
            return 1;
        }
        if (!scenario.links.empty()) {
            continue;  // the in-memory registry has no links
        }
        bool answerYes = scenario.answers.empty() || scenario.answers.front();
        for (bool diagnostic : {false, true}) {
            FuzzInputWriter out(diagnostic, answerYes);
            WriteKeys(out, SnapshotMemoryRegistry(registry));
            for (const ScenarioAccess& access : scenario.access) {
                out.Key(access.key.root, access.key.path);
                out.Allow(access.allowed);
            }
            for (const ScenarioInjection& injection : scenario.injections) {
                out.Inject(injection.op, static_cast<std::uint16_t>(injection.nth), injection.code);
            }
            std::string stem = std::filesystem::path(path).parent_path().filename().string() + "-" +
                               scenario.name + (diagnostic ? "-diagnostic" : "");
            written += Save(corpus, stem, out.bytes());
        }
    }

    const std::string dataPath = kUserData + "\\" + kSid + "\\Products\\" + kCode;
    struct Shape {
        const char* name;
        void (*write)(FuzzInputWriter&, const std::string&);
    };
    const Shape shapes[] = {
        {"chain-512-in-target",
         [](FuzzInputWriter& out, const std::string& data) {
             WriteProduct(out, data);
             out.Key(HKEY_LOCAL_MACHINE_ROOT, data);
             out.Chain(512, "L");
         }},
        {"chain-512-above-target",
         [](FuzzInputWriter& out, const std::string&) {
             out.Key(HKEY_LOCAL_MACHINE_ROOT, kUserData + "\\" + kSid);
             out.Chain(512, "C");
             out.Key(HKEY_LOCAL_MACHINE_ROOT, kUserData + "\\" + kSid);
         }},
        {"names-119-120-255",
         [](FuzzInputWriter& out, const std::string& data) {
             WriteProduct(out, data);
             std::string product = kSid + "\\Software\\Microsoft\\Installer\\Products\\" + kCode;
             for (std::size_t length : {119, 120, 255}) {
                 out.Key(HKEY_USERS_ROOT, product + "\\" + std::string(length, 'n'));
             }
         }},
        {"wide-key",
         [](FuzzInputWriter& out, const std::string& data) {
             out.Key(HKEY_LOCAL_MACHINE_ROOT, kUserData + "\\" + kSid + "\\Products");
             out.Fan(600, "0123456789ABCDEF");
             WriteProduct(out, data);
         }},
        {"path-near-1023",
         [](FuzzInputWriter& out, const std::string&) {
             std::string middle = std::string(200, 'M') + "\\" + std::string(200, 'M') + "\\" +
                                  std::string(200, 'M') + "\\" + std::string(200, 'M') + "\\" +
                                  std::string(60, 'M');
             WriteProduct(out, kUserData + "\\" + kSid + "\\" + middle + "\\" + kCode);
         }},
        {"high-bytes",
         [](FuzzInputWriter& out, const std::string& data) {
             out.Key(HKEY_LOCAL_MACHINE_ROOT, kUserData + "\\\xE9\xFF\x80\\InstallProperties");
             out.Value("DisplayVersion", REG_TYPE_BINARY, "1.11.00\xFF\xFF");
             WriteProduct(out, data);
         }},
    };
    for (const Shape& shape : shapes) {
        FuzzInputWriter out(true, true);
        shape.write(out, dataPath);
        written += Save(corpus, shape.name, out.bytes());
    }
    std::cout << written << " seeds in " << corpus.string() << "\n";
    return 0;
}
