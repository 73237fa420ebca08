// The answers the tests recorded where Windows and Wine may differ
// (tests/support/platform_answer.h), read back from the programs' logs.
#pragma once

#include <string>
#include <vector>

struct PlatformAnswer {
    std::string program;
    std::string question;
    std::string answer;
    std::string wineAnswer;
};

// Every "KEYMEND-PLATFORM-ANSWER" line of the log at path, in order.
[[nodiscard]] std::vector<PlatformAnswer> ReadPlatformAnswers(const std::string& program,
                                                              const std::wstring& path);
