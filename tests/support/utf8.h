// The Windows test programs' texts are UTF-8 (reports, logs, assertions);
// Windows' are UTF-16.
#pragma once

#include <string>

[[nodiscard]] std::string Utf8(const std::wstring& text);
