// SHA-256 from the system's own provider, so that an administrator's
// certutil or Get-FileHash gives the same text.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

// Lower-case hex digest of size bytes at data into *hex; 0, or the error
// of the provider.
[[nodiscard]] DWORD Sha256Hex(const void* data, std::size_t size, std::wstring* hex);
