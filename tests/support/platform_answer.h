// What the platform answered where Windows and Wine may legitimately
// differ: the test accepts both, and records which it saw beside Wine's
// known answer. The self-test runner lists every record whose answer is not
// Wine's ("where Windows answered otherwise than Wine"). A difference that
// matters to the outcome stays a failure: the test checks it itself.
#pragma once

#include <string>

// Writes `question`, `answer` and `wineAnswer` as a GoogleTest property (it
// lands in the test's XML) and as one line on standard output:
//   KEYMEND-PLATFORM-ANSWER<TAB>question<TAB>answer<TAB>wineAnswer
// Call it inside a test; none of the texts may hold a tab or a line break.
// A wineAnswer of "-" says that Wine cannot show it (the scripts' test).
void RecordPlatformAnswer(const std::string& question, const std::string& answer,
                          const std::string& wineAnswer);
