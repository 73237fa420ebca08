// A registry handle that closes itself on every path out of a scope.
#pragma once

#include <utility>

#include "registry.h"

class ScopedKey {
  public:
    ScopedKey() = default;
    ~ScopedKey() { Close(); }
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;
    ScopedKey(ScopedKey&& other) noexcept : key_(std::exchange(other.key_, 0)) {}
    ScopedKey& operator=(ScopedKey&& other) noexcept {
        if (this != &other) {
            Close();
            key_ = std::exchange(other.key_, 0);
        }
        return *this;
    }

    // Closes any key held, then opens root\path. Holds nothing on failure.
    [[nodiscard]] RegResult Open(RegKey root, const char* path, std::uint32_t access) {
        Close();
        RegKey opened = 0;
        RegResult result = RegistryOpenKey(root, path, access, &opened);
        if (result == REG_OK) {
            key_ = opened;
        }
        return result;
    }

    void Close() {
        if (key_ != 0) {
            RegistryCloseKey(std::exchange(key_, 0));
        }
    }

    RegKey get() const { return key_; }
    bool is_open() const { return key_ != 0; }

  private:
    RegKey key_ = 0;
};
