// Stands in for the message boxes: keeps every diagnostic report and
// question in order and answers the questions from a script.
#pragma once

#include <deque>
#include <string>
#include <vector>

struct RecordedReport {
    std::string caption;
    std::string text;
    bool question = false;

    bool operator==(const RecordedReport& other) const {
        return caption == other.caption && text == other.text && question == other.question;
    }
};

struct ReportRecorder {
    std::vector<RecordedReport> reports;
    std::deque<bool> answers;  // for questions, in order; No once exhausted
    int unansweredQuestions = 0;

    void Reset() {
        reports.clear();
        answers.clear();
        unansweredQuestions = 0;
    }
};

ReportRecorder& Recorder();
