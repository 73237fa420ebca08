// One test program of the bundle started and waited for, its standard
// output and error in one log file.
#pragma once

#include <windows.h>

#include <string>

struct ProgramResult {
    DWORD started = ERROR_SUCCESS;  // CreateProcess's error when it did not start
    DWORD exitCode = 0;
    bool timedOut = false;  // ended, with whatever it started, after the time limit
    double seconds = 0;
};

// Runs commandLine (its program quoted first) in folder, writing both
// streams to logFile, for at most minutes. A job object ends whatever the
// program started when it is ended (where the runner is not already in a
// job that forbids it: Windows 7 nests none).
[[nodiscard]] ProgramResult RunLogged(const std::wstring& commandLine, const std::wstring& folder,
                                      const std::wstring& logFile, DWORD minutes);
