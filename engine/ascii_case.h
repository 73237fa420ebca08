// Registry names and product names compare with the 26 letters A to Z folded
// onto a to z; every other byte must be equal.
#pragma once

inline char FoldAsciiCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline bool EqualsIgnoreAsciiCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        if (FoldAsciiCase(*a) != FoldAsciiCase(*b)) {
            return false;
        }
        if (*a == '\0') {
            return true;
        }
    }
}
