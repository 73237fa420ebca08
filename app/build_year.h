#pragma once

#include <cstdint>

// Calendar year, in local time, of the last write of this process's
// executable file; 0 when the file cannot be opened or its time read. A
// path longer than 255 characters is cut to 255 and the cut path opened.
std::uint16_t ReadBuildYear();
