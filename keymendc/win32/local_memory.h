// Memory that a Windows call allocated with LocalAlloc for its caller (SIDs
// as text, security descriptors), freed on every path out of a scope.
#pragma once

#include <windows.h>

#include <memory>

struct LocalFreer {
    void operator()(void* memory) const { LocalFree(memory); }
};

template <class T = void>
using LocalMemory = std::unique_ptr<T, LocalFreer>;
