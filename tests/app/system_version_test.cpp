#include "system_version.h"

#include <gtest/gtest.h>

namespace {

TEST(SystemVersion, PackedFromTheLowBytesAndComparedUnsigned) {
    struct Case {
        std::uint32_t major;
        std::uint32_t minor;
        std::uint16_t packed;
        bool accepted;
    };
    const Case cases[] = {
        {6, 0, 0x0600, false},   {6, 1, 0x0601, true},   {6, 2, 0x0602, true},
        {10, 0, 0x0A00, true},   {5, 2, 0x0502, false},  {6, 256, 0x0600, false},
        {262, 0, 0x0600, false},                          // 0x106: only its low byte, 6, counts
        {263, 1, 0x0701, true},  {511, 0, 0xFF00, true},  // above 0x7FFF: unsigned
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PackSystemVersion(c.major, c.minor), c.packed) << c.major << '.' << c.minor;
        EXPECT_EQ(SystemVersionAccepted(c.packed), c.accepted) << c.major << '.' << c.minor;
    }
}

}  // namespace
