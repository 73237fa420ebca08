#include "recording_reporter.h"

#include "diagnostics.h"

ReportRecorder& Recorder() {
    static ReportRecorder recorder;
    return recorder;
}

void ShowReportBox(const char* text, const char* caption) {
    Recorder().reports.push_back(RecordedReport{caption, text, false});
}

bool AskYesNoBox(const char* text, const char* caption) {
    ReportRecorder& recorder = Recorder();
    recorder.reports.push_back(RecordedReport{caption, text, true});
    if (recorder.answers.empty()) {
        ++recorder.unansweredQuestions;
        return false;
    }
    bool answer = recorder.answers.front();
    recorder.answers.pop_front();
    return answer;
}
