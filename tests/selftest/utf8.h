// The runner's texts are UTF-8, Windows' are UTF-16.
#pragma once

#include <string>

[[nodiscard]] std::string Utf8(const std::wstring& text);
