#pragma once

#include <cstdint>

// Calendar year, in local time, of the last write of this process's
// executable file; 0 when the file cannot be opened or its time read.
std::uint16_t ReadBuildYear();
