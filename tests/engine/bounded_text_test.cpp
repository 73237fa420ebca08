#include "bounded_text.h"

#include <gtest/gtest.h>

#include <string>

#include "read_text_value.h"

TEST(BoundedText, WritesThatDoNotFitAreCutAndTerminated) {
    BoundedText<8> text;
    EXPECT_TRUE(text.Assign("1234567"));
    EXPECT_FALSE(text.Append("8"));
    EXPECT_STREQ(text.c_str(), "1234567");
    EXPECT_FALSE(text.Format("%s\\%s", "abcd", "efgh"));
    EXPECT_STREQ(text.c_str(), "abcd\\ef");
    EXPECT_EQ(text.length(), 7u);
    EXPECT_TRUE(text.Format("%d", -5));
    EXPECT_STREQ(text.c_str(), "-5");
}

TEST(BoundedText, RegistryDataEndsAtFirstNulOrAtItsEnd) {
    ValueText text;
    const unsigned char withNul[] = {'a', 'b', 0, 'c'};
    EXPECT_TRUE(text.AssignData(withNul, sizeof withNul));
    EXPECT_STREQ(text.c_str(), "ab");

    const unsigned char unterminated[] = {'x', 'y'};
    EXPECT_TRUE(text.AssignData(unterminated, sizeof unterminated));
    EXPECT_STREQ(text.c_str(), "xy");

    std::string full(255, 'v');
    EXPECT_TRUE(text.AssignData(reinterpret_cast<const unsigned char*>(full.data()), 255));
    EXPECT_EQ(text.length(), 255u);
    std::string tooLong(256, 'v');
    EXPECT_FALSE(text.AssignData(reinterpret_cast<const unsigned char*>(tooLong.data()), 256));
}
