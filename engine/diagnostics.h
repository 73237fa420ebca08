// Diagnostic mode: every error the engine meets is shown to the user, and
// detection asks before it records its target. Outside it the engine is
// silent. The texts are English in every UI language.
#pragma once

// Process-wide; set once at start-up, read by the engine.
extern bool DiagnosticMode;

// Formats into the one shared report text (at most 1023 characters) and
// shows it under caption, in diagnostic mode only.
void ReportDiagnostic(const char* caption, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// In diagnostic mode, formats the question and returns the user's answer
// (true for Yes). Outside diagnostic mode returns true without asking.
bool AskDiagnostic(const char* caption, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// Supplied by the platform at link time: an OK box owned by the main window
// on Windows, a recorder in tests. Both wait until the user has answered.
void ShowReportBox(const char* text, const char* caption);
bool AskYesNoBox(const char* text, const char* caption);
