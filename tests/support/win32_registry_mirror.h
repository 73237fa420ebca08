// Copies key trees between a MemoryRegistry and the live Windows registry,
// and makes live keys refuse access the way MemoryRegistry::SetAllowedAccess
// does, so one scenario can be run against both. Calls advapi32 directly,
// never the engine's provider, so the provider's handle count stays the
// engine's own.
#pragma once

#include <string>
#include <vector>

#include "memory/memory_registry.h"

// False only when the key is known to be absent; a key we may not open
// exists all the same.
bool LiveKeyExists(RegKey root, const std::string& path);

// Creates root\path and copies node's values and everything below it. Value
// bytes and types are written exactly, unterminated strings included. A key
// holding a scenario's link (IsScenarioLink) is made a live link. Every
// other call here opens a link as itself and never follows it.
RegResult WriteLiveTree(const MemoryRegistry& source, MemoryRegistry::NodeId node, RegKey root,
                        const std::string& path, std::string* error);

// Reads root\path and depth levels below it (kWholeTree: all) into into,
// creating the levels above it with the spelling of path. A missing key
// reads as nothing. orderErrors, if given, receives a message for every key
// whose live subkey order differs from the order MemoryRegistry gives the
// same names.
constexpr int kWholeTree = -1;
RegResult ReadLiveTree(RegKey root, const std::string& path, MemoryRegistry& into, int depth,
                       std::vector<std::string>* orderErrors, std::string* error);

// The key's owner, group and DACL as SDDL text, and back: the DACL first,
// which may be what grants the right to set the owner. Wine gives a key whose
// DACL alone was set a new owner and group, so both are restored too.
RegResult GetLiveKeySecurity(RegKey root, const std::string& path, std::string* sddl);
RegResult SetLiveKeySecurity(RegKey root, const std::string& path, const std::string& sddl);
RegResult SetLiveKeyDacl(RegKey root, const std::string& path, const std::string& sddl);

// Grants Everyone exactly allowed. With takeOwnership, under Wine, the owner becomes
// SYSTEM too, without which Wine lets an owning administrator delete the key
// whatever the DACL says. Administrators keep WRITE_DAC, so the restriction
// can be lifted again: Wine honours no privilege that would take the key back.
RegResult RestrictLiveKey(RegKey root, const std::string& path, std::uint32_t allowed,
                          bool takeOwnership);

// Deletes root\path and everything below it, first giving administrators
// full access to every key on the way. A missing key is success.
RegResult ForceDeleteLiveTree(RegKey root, const std::string& path, std::string* error);
