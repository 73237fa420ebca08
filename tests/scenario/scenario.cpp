#include "scenario.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "memory/reg_file.h"
#include "support/test_paths.h"

namespace {

std::string Trim(const std::string& text) {
    std::size_t begin = text.find_first_not_of(" \t\r");
    std::size_t end = text.find_last_not_of(" \t\r");
    return begin == std::string::npos ? std::string() : text.substr(begin, end - begin + 1);
}

// Splits "a | b" at its first " | ".
bool SplitPair(const std::string& text, std::string* first, std::string* second) {
    std::size_t bar = text.find(" | ");
    if (bar == std::string::npos) {
        return false;
    }
    *first = Trim(text.substr(0, bar));
    *second = text.substr(bar + 3);
    return true;
}

// Report texts hold line feeds; a scenario writes them as \n.
std::string Unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
            out += '\n';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Directives are ASCII; a UTF-16 file is read by dropping its zero bytes.
std::string ReadAsNarrow(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        std::string narrow;
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
            narrow += bytes[i];
        }
        return narrow;
    }
    return bytes;
}

bool HoldsNul(const std::string& path) {
    return path.find('\0') != std::string::npos;
}

bool ParseOperation(const std::string& word, RegOperation* op) {
    static const std::pair<const char*, RegOperation> kOperations[] = {
        {"open", RegOperation::Open},
        {"enum", RegOperation::Enum},
        {"query", RegOperation::Query},
        {"delete", RegOperation::Delete}};
    for (const auto& [name, value] : kOperations) {
        if (word == name) {
            *op = value;
            return true;
        }
    }
    return false;
}

bool ApplyDirective(const std::string& keyword, const std::string& value,
                    const std::string& directory, Scenario* scenario) {
    if (keyword == "include") {
        scenario->registryFiles.insert(scenario->registryFiles.end() - 1, directory + "/" + value);
        return true;
    }
    if (keyword == "run") {
        if (value == "repair") {
            scenario->run = ScenarioRun::Repair;
            return true;
        }
        std::istringstream words(value);
        std::string verb;
        std::string key;
        words >> verb;
        std::getline(words, key);
        scenario->run = verb == "search" ? ScenarioRun::Search : ScenarioRun::Delete;
        if (verb != "search" && verb != "delete") {
            return false;
        }
        key = Trim(key);
        // A delete of a path without a root names the null root.
        if (!ParseRootedKey(key, &scenario->runKey)) {
            scenario->runKey = ScenarioKey{0, key == "\"\"" ? std::string() : key};
        }
        return true;
    }
    if (keyword == "diagnostic") {
        scenario->diagnostic = value == "on";
        return value == "on" || value == "off";
    }
    if (keyword == "answer") {
        scenario->answers.push_back(value == "yes");
        return value == "yes" || value == "no";
    }
    if (keyword == "outcome") {
        scenario->outcome = value;
        return value == "removed" || value == "not-removed" || value == "not-found";
    }
    if (keyword == "result") {
        scenario->hasResult = true;
        scenario->result = static_cast<RegResult>(std::stoul(value));
        return true;
    }
    if (keyword == "report" || keyword == "ask") {
        std::string caption;
        std::string text;
        if (!SplitPair(value, &caption, &text)) {
            return false;
        }
        scenario->reports.push_back(RecordedReport{caption, Unescape(text), keyword == "ask"});
        return true;
    }
    if (keyword == "deleted") {
        ScenarioKey key;
        scenario->deleted.push_back(key);
        return ParseRootedKey(value, &scenario->deleted.back());
    }
    if (keyword == "recorded") {
        std::string product;
        std::string data;
        scenario->hasRecorded = true;
        if (value == "none") {
            return true;
        }
        return SplitPair(value, &product, &data) &&
               ParseRootedKey(product, &scenario->recordedProduct) &&
               ParseRootedKey(Trim(data), &scenario->recordedData);
    }
    if (keyword == "allow") {
        std::istringstream words(value);
        std::string mask;
        std::string key;
        words >> mask;
        std::getline(words, key);
        ScenarioAccess access;
        access.allowed = static_cast<std::uint32_t>(std::stoul(mask, nullptr, 16));
        scenario->access.push_back(access);
        return ParseRootedKey(Trim(key), &scenario->access.back().key);
    }
    if (keyword == "inject") {
        std::istringstream words(value);
        std::string op;
        ScenarioInjection injection;
        words >> op >> injection.nth >> injection.code;
        scenario->injections.push_back(injection);
        return !words.fail() && ParseOperation(op, &scenario->injections.back().op);
    }
    if (keyword == "nul-key") {
        ScenarioKey key;
        std::string path = value;
        for (std::size_t at; (at = path.find("<NUL>")) != std::string::npos;) {
            path.replace(at, 5, 1, '\0');
        }
        scenario->nulKeys.push_back(key);
        return ParseRootedKey(path, &scenario->nulKeys.back()) &&
               HoldsNul(scenario->nulKeys.back().path);
    }
    if (keyword == "link") {
        std::size_t arrow = value.find(" -> ");
        scenario->links.emplace_back();
        return arrow != std::string::npos &&
               ParseRootedKey(value.substr(0, arrow), &scenario->links.back().key) &&
               ParseRootedKey(value.substr(arrow + 4), &scenario->links.back().target) &&
               !scenario->links.back().key.path.empty();
    }
    if (keyword == "keymendc") {
        std::size_t slash = value.find(" / ");
        if (slash == std::string::npos) {
            return false;
        }
        scenario->keymendcCheck = value.substr(0, slash);
        scenario->keymendcRepair = value.substr(slash + 3);
        return true;
    }
    if (keyword == "keymendc-deleted") {
        scenario->keymendcDeleted.emplace_back();
        return ParseRootedKey(value, &scenario->keymendcDeleted.back());
    }
    if (keyword == "keymendc-kept") {
        scenario->keymendcKept.emplace_back();
        return ParseRootedKey(value, &scenario->keymendcKept.back());
    }
    if (keyword == "unseen") {
        std::string key;
        std::string code;
        scenario->unseen.emplace_back();
        scenario->unseen.back().second = 0;
        if (!SplitPair(value, &key, &code)) {
            return false;
        }
        scenario->unseen.back().second = static_cast<RegResult>(std::stoul(code));
        return ParseRootedKey(key, &scenario->unseen.back().first);
    }
    if (keyword == "not-loaded") {
        std::string sid;
        std::string profile;
        if (!SplitPair(value, &sid, &profile)) {
            return false;
        }
        scenario->notLoaded.emplace_back(sid, profile == "none" ? std::string() : profile);
        return true;
    }
    if (keyword == "platform") {
        scenario->memoryOnly = value == "memory";
        return true;
    }
    return false;
}

}  // namespace

bool ParseRootedKey(const std::string& text, ScenarioKey* key) {
    static const std::pair<const char*, RegKey> kRoots[] = {
        {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE_ROOT}, {"HKEY_USERS", HKEY_USERS_ROOT}};
    for (const auto& [name, root] : kRoots) {
        std::string prefix = name;
        if (text == prefix || text.rfind(prefix + "\\", 0) == 0) {
            key->root = root;
            key->path = text.size() > prefix.size() ? text.substr(prefix.size() + 1) : "";
            return true;
        }
    }
    return false;
}

std::vector<ScenarioKey> DeletedTrees(const Scenario& scenario, bool byKeymendc) {
    std::vector<ScenarioKey> trees;
    for (const ScenarioKey& key : scenario.deleted) {
        bool kept =
            byKeymendc && std::any_of(scenario.keymendcKept.begin(), scenario.keymendcKept.end(),
                                      [&key](const ScenarioKey& spared) {
                                          return FormatRootedKey(spared) == FormatRootedKey(key);
                                      });
        if (!kept) {
            trees.push_back(key);
        }
    }
    if (byKeymendc) {
        trees.insert(trees.end(), scenario.keymendcDeleted.begin(), scenario.keymendcDeleted.end());
    }
    return trees;
}

std::string FormatRootedKey(const ScenarioKey& key) {
    std::string root = key.root == HKEY_LOCAL_MACHINE_ROOT ? "HKEY_LOCAL_MACHINE"
                       : key.root == HKEY_USERS_ROOT       ? "HKEY_USERS"
                                                           : "(null)";
    return key.path.empty() ? root : root + "\\" + key.path;
}

bool ReadScenario(const std::string& path, Scenario* scenario, std::string* error) {
    *scenario = Scenario{};
    scenario->name = std::filesystem::path(path).stem().string();
    scenario->registryFiles.push_back(path);
    std::string directory = std::filesystem::path(path).parent_path().string();
    std::istringstream lines(ReadAsNarrow(path));
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.rfind("; ", 0) != 0) {
            continue;
        }
        std::size_t colon = line.find(": ", 2);
        if (colon == std::string::npos) {
            continue;  // an ordinary comment
        }
        std::string keyword = line.substr(2, colon - 2);
        if (keyword.find(' ') != std::string::npos) {
            continue;
        }
        bool understood = false;
        try {
            understood = ApplyDirective(keyword, line.substr(colon + 2), directory, scenario);
        } catch (const std::exception&) {
            understood = false;
        }
        if (!understood) {
            *error = path + ":" + std::to_string(number) + ": malformed directive: " + line;
            return false;
        }
    }
    return true;
}

std::string ScenarioDir() {
    return TestPath(KEYMEND_SCENARIO_DIR);
}

std::vector<std::string> ListScenarioFiles(const std::string& directory) {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(directory)) {
        bool isBase = entry.path().parent_path().filename() == "base";
        if (entry.is_regular_file() && entry.path().extension() == ".reg" && !isBase) {
            files.push_back(entry.path().generic_string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

bool LoadScenarioRegistry(const Scenario& scenario, MemoryRegistry& registry, std::string* error) {
    for (const std::string& file : scenario.registryFiles) {
        RegFileError fileError;
        if (!LoadRegFileFromPath(registry, file, &fileError)) {
            *error = file + ":" + std::to_string(fileError.line) + ": " + fileError.message;
            return false;
        }
    }
    for (const ScenarioKey& key : scenario.nulKeys) {
        registry.CreatePath(key.root, key.path);
    }
    for (const ScenarioLink& link : scenario.links) {
        if (!AddScenarioLink(registry, link, error)) {
            return false;
        }
    }
    return true;
}

bool AddScenarioLink(MemoryRegistry& registry, const ScenarioLink& link, std::string* error) {
    MemoryRegistry::NodeId node = registry.CreatePath(link.key.root, link.key.path);
    if (!registry.Children(node).empty() || !registry.Values(node).empty()) {
        *error = "link: a link holds nothing but its target: " + FormatRootedKey(link.key);
        return false;
    }
    std::string target =
        link.target.root == HKEY_USERS_ROOT ? "\\Registry\\User" : "\\Registry\\Machine";
    if (!link.target.path.empty()) {
        target += "\\" + link.target.path;
    }
    std::string utf16;  // scenario names are ASCII: a byte is a UTF-16 unit
    for (char c : target) {
        utf16 += c;
        utf16 += '\0';
    }
    registry.SetValue(node, kLinkValueName, kLinkValueType, utf16);
    return true;
}

bool IsScenarioLink(const MemoryRegistry& registry, MemoryRegistry::NodeId node) {
    std::vector<MemoryRegistry::Value> values = registry.Values(node);
    return values.size() == 1 && values[0].name == kLinkValueName &&
           values[0].type == kLinkValueType;
}
