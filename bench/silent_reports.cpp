// Benchmarks run with diagnostic mode off, so no report is ever shown; the
// engine still needs the platform's two boxes at link time.
#include "diagnostics.h"

void ShowReportBox(const char*, const char*) {}
bool AskYesNoBox(const char*, const char*) {
    return false;
}
