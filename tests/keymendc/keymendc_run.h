// keymendc.exe run as a deployment tool runs it: arguments, standard output
// and error caught in files, the exit code read.
#pragma once

#include <windows.h>

#include <string>

#include "support/utf8.h"

struct ProgramRun {
    DWORD exitCode = 0xFFFFFFFF;  // also when the program could not start
    std::string out;              // bytes as written: UTF-8 for a file
    std::string err;
};

// Runs program with arguments (after its quoted path) and waits for it.
ProgramRun RunProgram(const std::wstring& program, const std::wstring& arguments);
ProgramRun RunKeymendc(const std::wstring& arguments);
ProgramRun RunRegExe(const std::wstring& arguments);

// keymendc with a console screen buffer of its own as standard output and
// error, as in a command prompt; what the buffer shows afterwards, line by
// line without trailing blanks, in run->out. False when no such buffer can
// be made (Wine's console, without a window, cannot size one).
bool RunKeymendcOnConsole(const std::wstring& arguments, ProgramRun* run);

// The last line of text, without its CRLF.
std::string LastLine(const std::string& text);

std::string ReadWholeFile(const wchar_t* path);

// Text in the system's ANSI code page as UTF-8, as keymendc writes it.
std::string AnsiToUtf8(const std::string& text);
