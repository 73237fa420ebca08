// Text to a console as wide characters, to a pipe or a file as UTF-8.
#pragma once

#include <windows.h>

#include <string>

void WriteText(HANDLE stream, const std::wstring& text);

// The system's ANSI code page, in which the engine's paths and reports are.
std::wstring AnsiToWide(const char* text);
std::string WideToUtf8(const std::wstring& text);
std::wstring Utf8ToWide(const std::string& text);
