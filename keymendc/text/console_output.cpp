#include "console_output.h"

namespace {

// Windows 7's console refuses one write of more than 64 KB and prints
// nothing; pipes and files may take less than asked.
constexpr std::size_t kConsoleChunkChars = 8192;
constexpr std::size_t kFileChunkBytes = 65536;

std::wstring ToWide(UINT codePage, const std::string& text) {
    if (text.empty()) {
        return std::wstring();
    }
    int size = static_cast<int>(text.size());
    int chars = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(chars), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), size, &wide[0], chars);
    return wide;
}

void WriteToConsole(HANDLE console, const std::wstring& text) {
    for (std::size_t done = 0; done < text.size();) {
        std::size_t piece =
            text.size() - done < kConsoleChunkChars ? text.size() - done : kConsoleChunkChars;
        // A surrogate pair stays in one piece.
        if (piece > 1 && piece < text.size() - done && IS_HIGH_SURROGATE(text[done + piece - 1])) {
            --piece;
        }
        DWORD written = 0;
        if (!WriteConsoleW(console, text.data() + done, static_cast<DWORD>(piece), &written,
                           nullptr) ||
            written == 0) {
            return;
        }
        done += written;
    }
}

void WriteToFile(HANDLE file, const std::string& bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        std::size_t piece =
            bytes.size() - done < kFileChunkBytes ? bytes.size() - done : kFileChunkBytes;
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + done, static_cast<DWORD>(piece), &written, nullptr) ||
            written == 0) {
            return;
        }
        done += written;
    }
}

}  // namespace

std::wstring AnsiToWide(const char* text) {
    return ToWide(CP_ACP, text);
}

std::wstring Utf8ToWide(const std::string& text) {
    return ToWide(CP_UTF8, text);
}

std::string WideToUtf8(const std::wstring& text) {
    if (text.empty()) {
        return std::string();
    }
    int size = static_cast<int>(text.size());
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, &utf8[0], bytes, nullptr, nullptr);
    return utf8;
}

void WriteText(HANDLE stream, const std::wstring& text) {
    DWORD mode = 0;
    if (GetConsoleMode(stream, &mode)) {
        WriteToConsole(stream, text);
        return;
    }
    // A console shows \n as a line break; files and pipes for Windows tools want CRLF.
    std::wstring lines;
    lines.reserve(text.size() + text.size() / 16);
    for (wchar_t c : text) {
        if (c == L'\n') {
            lines += L'\r';
        }
        lines += c;
    }
    WriteToFile(stream, WideToUtf8(lines));
}
