#include "platform_answers.h"

#include <fstream>

std::vector<PlatformAnswer> ReadPlatformAnswers(const std::string& program,
                                                const std::wstring& path) {
    static const std::string kMark = "KEYMEND-PLATFORM-ANSWER\t";
    std::vector<PlatformAnswer> answers;
    std::ifstream log(path.c_str(), std::ios::binary);
    for (std::string line; std::getline(log, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        std::size_t at = line.find(kMark);
        if (at == std::string::npos) {
            continue;
        }
        std::string fields = line.substr(at + kMark.size());
        std::size_t first = fields.find('\t');
        std::size_t second = fields.find('\t', first + 1);
        if (first == std::string::npos || second == std::string::npos) {
            continue;
        }
        answers.push_back({program, fields.substr(0, first),
                           fields.substr(first + 1, second - first - 1),
                           fields.substr(second + 1)});
    }
    return answers;
}
