// The system version as start-up keeps and tests it. Portable: tested on the
// host.
#pragma once

#include <cstdint>

// Windows 7 (6.1), the oldest system the program runs on.
constexpr std::uint16_t kLowestSystemVersion = 0x0601;

// The low 8 bits of the major version in the high byte, those of the minor
// version in the low byte: 6.1 is 0x0601, 10.0 is 0x0A00.
constexpr std::uint16_t PackSystemVersion(std::uint32_t major, std::uint32_t minor) {
    return static_cast<std::uint16_t>(((major & 0xFF) << 8) | (minor & 0xFF));
}

// Unsigned: every packed version from 0x0601 up passes.
constexpr bool SystemVersionAccepted(std::uint16_t version) {
    return version >= kLowestSystemVersion;
}
