#include "support/utf8.h"

#include <windows.h>

std::string Utf8(const std::wstring& text) {
    std::string utf8(text.size() * 3 + 1, '\0');
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                    &utf8[0], static_cast<int>(utf8.size()), nullptr, nullptr);
    utf8.resize(static_cast<std::size_t>(bytes > 0 ? bytes : 0));
    return utf8;
}
