#include "own_scenario.h"

#include <fstream>
#include <sstream>

#include "memory/reg_file.h"

namespace {

constexpr char kScenarioSids[] = "S-1-5-21-1111111111-2222222222-3333333333-";
constexpr char kOwnSids[] = "S-1-5-21-1357924680-2468013579-3692581470-";

void MakeOwn(ScenarioKey& key) {
    key.path = WithOwnSids(key.path);
}

}  // namespace

std::string WithOwnSids(std::string text) {
    const std::string from = kScenarioSids;
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + from.size())) {
        text.replace(at, from.size(), kOwnSids);
    }
    return text;
}

bool LoadOwnScenario(const std::string& path, OwnScenario* own, std::string* error) {
    Scenario& scenario = own->scenario;
    if (!ReadScenario(path, &scenario, error)) {
        return false;
    }
    for (const std::string& file : scenario.registryFiles) {
        std::ifstream in(file, std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        std::string text = WithOwnSids(bytes.str());
        RegFileError fileError;
        if (!in || !LoadRegFile(own->seed, text, &fileError) ||
            !LoadRegFile(own->expected, text, &fileError)) {
            *error = file + ":" + std::to_string(fileError.line) + ": " + fileError.message;
            return false;
        }
    }
    for (ScenarioKey& key : scenario.nulKeys) {
        MakeOwn(key);
        own->seed.CreatePath(key.root, key.path);
        own->expected.CreatePath(key.root, key.path);
    }
    for (ScenarioLink& link : scenario.links) {
        MakeOwn(link.key);
        MakeOwn(link.target);
        if (!AddScenarioLink(own->seed, link, error) ||
            !AddScenarioLink(own->expected, link, error)) {
            return false;
        }
    }
    for (ScenarioKey& key : scenario.deleted) {
        MakeOwn(key);
        MemoryRegistry::NodeId node = own->expected.FindPath(key.root, key.path);
        if (node == MemoryRegistry::kNoNode) {
            *error = "deleted: key not in the scenario: " + FormatRootedKey(key);
            return false;
        }
        own->expected.RemoveTree(node);
    }
    for (ScenarioAccess& access : scenario.access) {
        MakeOwn(access.key);
    }
    for (RecordedReport& report : scenario.reports) {
        report.text = WithOwnSids(report.text);
    }
    return true;
}
