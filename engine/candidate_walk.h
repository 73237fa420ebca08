// The depth-first walk of the installer's per-user data that the search
// makes, with what to do at each candidate left to a visitor: the window's
// repair stops at the first accepted target, keymendc looks at every one.
#pragma once

#include "registry.h"

class CandidateVisitor {
  public:
    // A key holding an "InstallProperties" subkey that opened for reading,
    // with its DisplayName and DisplayVersion (empty text when a read
    // failed). True ends the whole walk.
    virtual bool Offer(const char* candidatePath, const char* displayName,
                       const char* displayVersion) = 0;
    // A key the walk could not look into: its open (or the write probe of
    // its parent) or an enumeration inside it failed with code. The walk
    // goes on with the next key.
    virtual void Unseen(const char* path, RegResult code) = 0;

  protected:
    ~CandidateVisitor() = default;
};

// Walks root\path in pre-order, subkeys in enumeration order, and offers
// every candidate to visitor. Returns SEARCH_FOUND (search_key.h) when the
// visitor ended the walk, 0 when it ran to the end, 87 for a path without a
// backslash, or the code of a failed open of the start key or its parent.
// Reads only; every key it opens is closed before it returns.
[[nodiscard]] RegResult WalkCandidates(RegKey root, const char* path, CandidateVisitor& visitor);
