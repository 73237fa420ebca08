// What one test does to the live registry, and its undoing. The test's own
// keys are the shallowest keys of its registry that do not exist yet; keys
// that exist already are only passed through, or restricted and restored.
// Everything is noted in a ledger file in the working directory before it is
// changed, so that a run that died half-way is undone by the next one.
#pragma once

#include <string>
#include <vector>

#include "memory/memory_registry.h"
#include "scenario/scenario.h"

class LiveArea {
  public:
    LiveArea() = default;
    LiveArea(const LiveArea&) = delete;
    LiveArea& operator=(const LiveArea&) = delete;
    ~LiveArea();  // removes whatever is left

    // Finds the own keys and writes them with everything below them. A
    // value on a key that exists already is refused.
    bool Seed(const MemoryRegistry& seed, std::string* error);
    // The only rights each key grants; see RestrictLiveKey.
    bool Restrict(const std::vector<ScenarioAccess>& access, std::string* error);
    bool LiftRestrictions(std::string* error);
    // The own keys as they are now.
    bool ReadBack(MemoryRegistry& into, std::vector<std::string>* orderErrors,
                  std::string* error) const;
    // The own keys of registry, values in name order.
    std::string Text(const MemoryRegistry& registry) const;
    // Deletes the own keys, then checks that their parents and every
    // restricted existing key are as they were before Seed.
    bool Remove(std::string* error);

    const std::vector<ScenarioKey>& own() const { return own_; }

  private:
    struct Borrowed {
        ScenarioKey key;
        std::string security;  // as it was
    };

    bool FindOwnKeys(const MemoryRegistry& seed, MemoryRegistry::NodeId node,
                     const ScenarioKey& key, std::string* error);
    bool IsOwn(const ScenarioKey& key) const;
    bool TakeSurroundings(std::string* text, std::string* error) const;
    bool SaveLedger(std::string* error) const;

    std::vector<ScenarioKey> own_;
    std::vector<Borrowed> borrowed_;
    std::vector<ScenarioKey> restricted_;
    std::string surroundingsBefore_;
    bool active_ = false;
};

// The keys of registry under each of keys, values in name order: RegEnumValue
// promises no order (Wine sorts by name, Windows keeps the order written),
// and the engine never enumerates values.
std::string CanonicalText(const MemoryRegistry& registry, const std::vector<ScenarioKey>& keys);
