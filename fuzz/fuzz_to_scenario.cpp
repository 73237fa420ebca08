// Turns a fuzzer input into a scenario file for tests/scenarios/found/: the
// registry it builds, its directives, and what the engine did with it now
// (to be corrected by hand where the engine was wrong). The invariant
// violations go to stderr.
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "fuzz_input.h"
#include "memory/reg_file.h"
#include "memory_harness.h"

namespace {

void Deleted(const SnapshotKey& before, const SnapshotKey* after, const std::string& path,
             std::ostream& out) {
    for (const auto& entry : before.subkeys) {
        const SnapshotKey& key = *entry.second;
        std::string keyPath = path + "\\" + key.name;
        const SnapshotKey* still = after ? after->Subkey(key.name) : nullptr;
        if (still == nullptr) {
            out << "; deleted: " << keyPath << "\n";
        } else {
            Deleted(key, still, keyPath, out);
        }
    }
}

// A .reg file cannot name a key whose name holds a NUL: such keys become
// nul-key directives, and their trees leave the file's body.
void CollectNulKeys(const MemoryRegistry& registry, MemoryRegistry::NodeId node,
                    const std::string& path, bool below, std::vector<std::string>* keys,
                    std::vector<std::string>* tops) {
    for (MemoryRegistry::NodeId child : registry.Children(node)) {
        std::string name(registry.Name(child));
        std::string childPath = path + "\\" + name;
        bool holdsNul = below || name.find('\0') != std::string::npos;
        if (holdsNul) {
            keys->push_back(childPath);
            if (!below) {
                tops->push_back(childPath);
            }
        }
        CollectNulKeys(registry, child, childPath, holdsNul, keys, tops);
    }
}

std::string WithNulMarked(std::string text) {
    for (std::size_t at; (at = text.find('\0')) != std::string::npos;) {
        text.replace(at, 1, "<NUL>");
    }
    return text;
}

std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        out += c == '\n' ? std::string("\\n") : std::string(1, c);
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: fuzz_to_scenario <input>  > tests/scenarios/found/<name>.reg\n";
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    auto data = reinterpret_cast<const std::uint8_t*>(bytes.data());

    MemoryRegistry registry;
    std::vector<std::string> directives;
    FuzzSettings settings = BuildFuzzRegistry(data, bytes.size(), registry, &directives);
    std::vector<std::string> nulKeys;
    std::vector<std::string> nulTops;
    for (RegKey root : {HKEY_LOCAL_MACHINE_ROOT, HKEY_USERS_ROOT}) {
        CollectNulKeys(registry, registry.RootNode(root),
                       root == HKEY_USERS_ROOT ? "HKEY_USERS" : "HKEY_LOCAL_MACHINE", false,
                       &nulKeys, &nulTops);
    }
    std::string body;
    {
        MemoryRegistry withoutNul;
        BuildFuzzRegistry(data, bytes.size(), withoutNul);
        for (const std::string& top : nulTops) {
            std::size_t cut = top.find('\\');
            RegKey root =
                top.compare(0, cut, "HKEY_USERS") == 0 ? HKEY_USERS_ROOT : HKEY_LOCAL_MACHINE_ROOT;
            withoutNul.RemoveTree(withoutNul.FindPath(root, top.substr(cut + 1)));
        }
        body = WriteRegFile(withoutNul, RegFileFormat::Regedit4);
    }
    RegistrySnapshot before = SnapshotMemoryRegistry(registry);
    CheckedRun run;
    RegistrySnapshot after;
    std::vector<std::string> violations =
        RepairAndCheck(registry, settings.diagnostic, settings.answers, &run, &after);
    for (const std::string& violation : violations) {
        std::cerr << violation << "\n";
    }
    if (!violations.empty()) {
        std::cerr << "failed calls:\n";
        static const char* const kKinds[] = {"open", "enum", "query", "delete"};
        for (const CallRecord& call : run.calls) {
            if (call.result != REG_OK && call.result != REG_ERROR_NO_MORE_ITEMS) {
                std::cerr << "  " << kKinds[static_cast<int>(call.kind)] << " " << std::hex
                          << call.access << std::dec << " " << call.result << " ("
                          << call.path.size() << " characters) "
                          << DescribeLocation(call.root, call.path).substr(0, 160) << "\n";
            }
        }
    }

    std::cout << "REGEDIT4\r\n\r\n; Found by the fuzzer.\r\n";
    if (settings.diagnostic) {
        std::cout << "; diagnostic: on\r\n";
    }
    for (bool answer : settings.answers) {
        std::cout << "; answer: " << (answer ? "yes" : "no") << "\r\n";
    }
    for (const std::string& directive : directives) {
        std::cout << "; " << directive << "\r\n";
    }
    for (const std::string& key : nulKeys) {
        std::cout << "; nul-key: " << WithNulMarked(key) << "\r\n";
    }
    std::cout << "; outcome: " << OutcomeName(run.outcome) << "\r\n";
    for (const RecordedReport& report : run.reports) {
        std::cout << "; " << (report.question ? "ask: " : "report: ") << report.caption << " | "
                  << Escaped(report.text) << "\r\n";
    }
    std::ostringstream deleted;
    Deleted(before.machine, &after.machine, "HKEY_LOCAL_MACHINE", deleted);
    Deleted(before.users, &after.users, "HKEY_USERS", deleted);
    std::string lines = deleted.str();
    for (std::size_t at = 0; (at = lines.find('\n', at)) != std::string::npos; at += 2) {
        lines.insert(at, "\r");
    }
    std::cout << lines;
    std::cout << body.substr(body.find('\n') + 1);
    return violations.empty() ? 0 : 1;
}
