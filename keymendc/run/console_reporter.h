// The engine's diagnostic reports in a console program: kept for the output,
// echoed to standard error only when asked, questions answered Yes.
#pragma once

#include <vector>

#include "run_record.h"

// Set once at start-up: write each report to standard error as it comes.
extern bool EchoReports;

// Every report since start, in order; questions are not failures.
const std::vector<Failure>& CollectedFailures();
