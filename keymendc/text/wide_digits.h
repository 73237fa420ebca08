// Numbers as wide text without the C library's wide printf, which would
// bring a second copy of mingw's formatter into keymendc (and into every
// deployment script that carries it).
#pragma once

#include <string>

// "-12", "0", "1618".
std::wstring Decimal(long long value);

// Lower-case hex, zero-padded to at least digits characters.
std::wstring Hex(unsigned long long value, int digits);
