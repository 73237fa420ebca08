#include "support/platform_answer.h"

#include <gtest/gtest.h>

#include <cstdio>

void RecordPlatformAnswer(const std::string& question, const std::string& answer,
                          const std::string& wineAnswer) {
    ::testing::Test::RecordProperty("platform: " + question,
                                    answer + " (Wine: " + wineAnswer + ")");
    std::printf("KEYMEND-PLATFORM-ANSWER\t%s\t%s\t%s\n", question.c_str(), answer.c_str(),
                wineAnswer.c_str());
    std::fflush(stdout);
}
