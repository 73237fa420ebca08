// The run told to people (text, last line a summary) and to log
// collectors (one JSON object). Both end with a line break.
#pragma once

#include <string>

#include "run_record.h"

std::wstring SummaryLine(const RunRecord& record);
std::wstring TextReport(const RunRecord& record);
std::wstring JsonReport(const RunRecord& record);
