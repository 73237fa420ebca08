// The command-line switches: after the first "/", every "e" selects English,
// every "j" Japanese (the last wins) and every "x" diagnostic mode. Bytes are
// read one by one, without regard to multi-byte characters.
#pragma once

#include <cstdint>

constexpr std::uint16_t LANGUAGE_ENGLISH = 9;
constexpr std::uint16_t LANGUAGE_JAPANESE = 17;

// Updates uiLanguage and diagnosticMode from commandLine (may be null).
void ScanCommandLine(const char* commandLine, std::uint16_t* uiLanguage, bool* diagnosticMode);
