// A key opened through the wide registry calls, closed on every path out of
// its scope.
#pragma once

#include <windows.h>

#include <utility>

class OpenedKey {
  public:
    OpenedKey() = default;
    ~OpenedKey() { Close(); }
    OpenedKey(const OpenedKey&) = delete;
    OpenedKey& operator=(const OpenedKey&) = delete;
    OpenedKey(OpenedKey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
    OpenedKey& operator=(OpenedKey&& other) noexcept {
        if (this != &other) {
            Close();
            key_ = std::exchange(other.key_, nullptr);
        }
        return *this;
    }

    // Closes any key held, then opens root\path. Holds nothing on failure.
    [[nodiscard]] LONG Open(HKEY root, const wchar_t* path, REGSAM access) {
        Close();
        HKEY opened = nullptr;
        LONG result = RegOpenKeyExW(root, path, 0, access, &opened);
        if (result == ERROR_SUCCESS) {
            key_ = opened;
        }
        return result;
    }

    void Close() {
        if (key_ != nullptr) {
            RegCloseKey(std::exchange(key_, nullptr));
        }
    }

    HKEY get() const { return key_; }

  private:
    HKEY key_ = nullptr;
};
