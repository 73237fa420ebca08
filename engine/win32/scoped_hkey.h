// A Win32 registry handle that closes itself on every path out of a scope.
// Move-only: one owner closes it, once.
#pragma once

#include <windows.h>

#include <utility>

class ScopedHkey {
  public:
    ScopedHkey() = default;
    ~ScopedHkey() { Close(); }
    ScopedHkey(const ScopedHkey&) = delete;
    ScopedHkey& operator=(const ScopedHkey&) = delete;
    ScopedHkey(ScopedHkey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
    ScopedHkey& operator=(ScopedHkey&& other) noexcept {
        if (this != &other) {
            Close();
            key_ = std::exchange(other.key_, nullptr);
        }
        return *this;
    }

    // Closes any key held, then opens root\path. Holds nothing on failure.
    [[nodiscard]] LONG Open(HKEY root, const wchar_t* path, REGSAM access) {
        return RegOpenKeyExW(root, path, 0, access, receive());
    }

    // For an out parameter (RegOpenKeyExW and the like): closes any key held
    // first, so that nothing leaks when the object is reused.
    HKEY* receive() {
        Close();
        return &key_;
    }

    void Close() {
        if (key_ != nullptr) {
            RegCloseKey(std::exchange(key_, nullptr));
        }
    }

    HKEY get() const { return key_; }

    // Hands the key to the caller, who closes it.
    [[nodiscard]] HKEY release() { return std::exchange(key_, nullptr); }

  private:
    HKEY key_ = nullptr;
};
