#include "console_reporter.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "console_output.h"
#include "diagnostics.h"

bool EchoReports = false;

namespace {

std::vector<Failure> Failures;

// The engine's reports name their error code as "Result=<code>".
std::int64_t CodeNamedIn(const char* text) {
    const char* found = std::strstr(text, "Result=");
    return found == nullptr ? -1 : std::strtoll(found + 7, nullptr, 10);
}

void Echo(const std::wstring& caption, const std::wstring& text, const wchar_t* suffix) {
    if (EchoReports) {
        WriteText(GetStdHandle(STD_ERROR_HANDLE), caption + L": " + text + suffix + L"\n");
    }
}

}  // namespace

const std::vector<Failure>& CollectedFailures() {
    return Failures;
}

void ShowReportBox(const char* text, const char* caption) {
    Failure failure{AnsiToWide(caption), AnsiToWide(text), CodeNamedIn(text)};
    Echo(failure.caption, failure.text, L"");
    Failures.push_back(failure);
}

bool AskYesNoBox(const char* text, const char* caption) {
    Echo(AnsiToWide(caption), AnsiToWide(text), L" Yes");
    return true;
}
