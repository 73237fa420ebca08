#include "diagnostics.h"

#include <cstdarg>
#include <cstdio>

#include "bounded_text.h"

bool DiagnosticMode = false;

namespace {

// One report at a time, as the dialogs are modal.
BoundedText<1024> ReportText;

// A report cut to fit is still worth showing.
void FormatReport(const char* format, va_list args) {
    (void)ReportText.FormatV(format, args);
}

}  // namespace

void ReportDiagnostic(const char* caption, const char* format, ...) {
    if (!DiagnosticMode) {
        return;
    }
    va_list args;
    va_start(args, format);
    FormatReport(format, args);
    va_end(args);
    ShowReportBox(ReportText.c_str(), caption);
}

bool AskDiagnostic(const char* caption, const char* format, ...) {
    if (!DiagnosticMode) {
        return true;
    }
    va_list args;
    va_start(args, format);
    FormatReport(format, args);
    va_end(args);
    return AskYesNoBox(ReportText.c_str(), caption);
}
