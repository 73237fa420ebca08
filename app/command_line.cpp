#include "command_line.h"

#include <cstring>

void ScanCommandLine(const char* commandLine, std::uint16_t* uiLanguage, bool* diagnosticMode) {
    if (commandLine == nullptr) {
        return;
    }
    const char* slash = std::strchr(commandLine, '/');
    if (slash == nullptr) {
        return;
    }
    // Once a "/" is seen, every later byte counts, with or without its own "/".
    for (const char* cursor = slash + 1; *cursor != '\0'; ++cursor) {
        switch (*cursor) {
            case 'e':
                *uiLanguage = LANGUAGE_ENGLISH;
                break;
            case 'j':
                *uiLanguage = LANGUAGE_JAPANESE;
                break;
            case 'x':
                *diagnosticMode = true;
                break;
            default:
                break;
        }
    }
}
