// A scenario is a registry file whose comment lines say what a run on it
// must do:
//   ; include: <file>              load another registry file first (relative)
//   ; run: repair | search <key> | delete <key>      (repair when absent)
//   ; diagnostic: on
//   ; answer: yes | no             answers to the questions, in order
//   ; outcome: removed | not-removed | not-found     (run: repair)
//   ; result: <code>               (run: search or delete)
//   ; report: <caption> | <text>   every report in order ...
//   ; ask: <caption> | <text>      ... and every question among them
//   ; deleted: <key>               a tree gone afterwards; everything else stays
//   ; recorded: <key> | <key>      RepairTargets afterwards (product, data)
//   ; allow: <hex mask> <key>      the only rights that key grants
//   ; inject: open|enum|query|delete <nth> <code>
//   ; platform: memory             runs on the in-memory registry only
//   ; nul-key: <key>               a leaf key whose name holds a NUL, written
//                                  <NUL>; only the native API can make it
//   ; link: <key> -> <target key>  a registry link; only the live registry has
//                                  them, so the in-memory runners skip it
// What keymendc, which looks at every registration, makes of it where that
// differs from the window's repair (run: repair):
//   ; keymendc: <check outcome> / <repair outcome>
//   ; keymendc-deleted: <key>      a tree its repair removes beyond deleted:
//   ; keymendc-kept: <key>         a tree of deleted: that its repair keeps
//   ; unseen: <key> | <code>       every key it could not read, in order
//   ; not-loaded: <SID> | <profile folder, or none>   every such user, in order
// Keys are written with their root: HKEY_LOCAL_MACHINE\... or HKEY_USERS\...
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "memory/memory_registry.h"
#include "support/recording_reporter.h"

struct ScenarioKey {
    RegKey root = 0;
    std::string path;
};

struct ScenarioAccess {
    ScenarioKey key;
    std::uint32_t allowed = 0;
};

// A registry link, held in a scenario's registry as the live registry shows
// it to a read that does not follow it: a key holding nothing but its
// target's kernel name ("\Registry\Machine\...") in SymbolicLinkValue, of
// type REG_LINK, UTF-16LE without a terminator.
struct ScenarioLink {
    ScenarioKey key;
    ScenarioKey target;
};
constexpr char kLinkValueName[] = "SymbolicLinkValue";
constexpr std::uint32_t kLinkValueType = 6;

struct ScenarioInjection {
    RegOperation op = RegOperation::Open;
    std::uint32_t nth = 0;
    RegResult code = 0;
};

enum class ScenarioRun { Repair, Search, Delete };

struct Scenario {
    std::string name;
    std::vector<std::string> registryFiles;  // paths, loaded in order
    ScenarioRun run = ScenarioRun::Repair;
    ScenarioKey runKey;
    bool diagnostic = false;
    std::vector<bool> answers;
    std::string outcome;  // "removed", "not-removed", "not-found"
    bool hasResult = false;
    RegResult result = 0;
    std::vector<RecordedReport> reports;
    std::vector<ScenarioKey> deleted;
    bool hasRecorded = false;
    ScenarioKey recordedProduct;
    ScenarioKey recordedData;
    std::vector<ScenarioAccess> access;
    std::vector<ScenarioInjection> injections;
    bool memoryOnly = false;
    std::vector<ScenarioKey> nulKeys;  // paths hold their NULs
    std::vector<ScenarioLink> links;
    std::string keymendcCheck;  // empty: as the repair's outcome says
    std::string keymendcRepair;
    std::vector<ScenarioKey> keymendcDeleted;
    std::vector<ScenarioKey> keymendcKept;
    std::vector<std::pair<ScenarioKey, RegResult>> unseen;
    std::vector<std::pair<std::string, std::string>> notLoaded;  // SID, profile ("" for none)
};

// Reads the directives of the scenario file at path; false with a message
// naming the line when one is malformed.
bool ReadScenario(const std::string& path, Scenario* scenario, std::string* error);

// The folder of the scenario files, tests/scenarios (support/test_paths.h).
std::string ScenarioDir();

// Every scenario file below directory, sorted, as paths.
std::vector<std::string> ListScenarioFiles(const std::string& directory);

// The trees a run deletes: deleted:, and for keymendc its own besides and
// without those it keeps.
std::vector<ScenarioKey> DeletedTrees(const Scenario& scenario, bool byKeymendc);

// "HKEY_USERS\A\B" -> root and path; false for another root.
bool ParseRootedKey(const std::string& text, ScenarioKey* key);
std::string FormatRootedKey(const ScenarioKey& key);

// Loads every registry file of the scenario into registry, then its NUL keys
// and links; false with the loader's message on a malformed file.
bool LoadScenarioRegistry(const Scenario& scenario, MemoryRegistry& registry, std::string* error);

// Makes link.key the link; false when the registry gives it anything else.
bool AddScenarioLink(MemoryRegistry& registry, const ScenarioLink& link, std::string* error);

// The node holds a link, as AddScenarioLink makes one.
bool IsScenarioLink(const MemoryRegistry& registry, MemoryRegistry::NodeId node);
