#pragma once

#include "bounded_text.h"
#include "registry.h"

// Text values are read into 256 bytes, as the installer's names and versions
// always fit there.
using ValueText = BoundedText<256>;

// Reads a value as text ending at its first NUL or at the end of its data,
// whatever its registry type. On any failure, including text that does not
// fit in 255 characters, text is left empty and the code says why.
[[nodiscard]] RegResult ReadTextValue(RegKey key, const char* valueName, ValueText& text);
