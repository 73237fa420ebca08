#include "keymendc_run.h"

#include <fstream>
#include <iterator>

#include "support/test_paths.h"

namespace {

constexpr DWORD kPatience = 60000;

HANDLE CreateCatcher(const wchar_t* path) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

std::string ReadWholeFile(const wchar_t* path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// Starts program with out and err as its standard output and error and waits
// for it; its exit code, or 0xFFFFFFFF when it could not start.
DWORD StartAndWait(const std::wstring& program, const std::wstring& arguments, HANDLE out,
                   HANDLE err) {
    DWORD exitCode = 0xFFFFFFFF;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    PROCESS_INFORMATION process = {};
    if (CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                       nullptr, &startup, &process)) {
        if (WaitForSingleObject(process.hProcess, kPatience) != WAIT_OBJECT_0) {
            TerminateProcess(process.hProcess, 0xFFFFFFFF);
        }
        GetExitCodeProcess(process.hProcess, &exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    return exitCode;
}

ProgramRun RunProgram(const std::wstring& program, const std::wstring& arguments) {
    ProgramRun run;
    HANDLE out = CreateCatcher(L"keymendc_stdout.txt");
    HANDLE err = CreateCatcher(L"keymendc_stderr.txt");
    run.exitCode = StartAndWait(program, arguments, out, err);
    CloseHandle(out);
    CloseHandle(err);
    run.out = ReadWholeFile(L"keymendc_stdout.txt");
    run.err = ReadWholeFile(L"keymendc_stderr.txt");
    return run;
}

ProgramRun RunKeymendc(const std::wstring& arguments) {
    return RunProgram(TestPathW(KEYMENDC_EXE), arguments);
}

bool RunKeymendcOnConsole(const std::wstring& arguments, ProgramRun* run) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE screen =
        CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  &inherit, CONSOLE_TEXTMODE_BUFFER, nullptr);
    // Wide and tall enough that nothing scrolls away.
    constexpr SHORT kWidth = 240;
    constexpr SHORT kHeight = 32000;
    if (screen == INVALID_HANDLE_VALUE) {
        return false;
    }
    if (!SetConsoleScreenBufferSize(screen, COORD{kWidth, kHeight})) {
        CloseHandle(screen);
        return false;
    }
    run->exitCode = StartAndWait(TestPathW(KEYMENDC_EXE), arguments, screen, screen);
    std::wstring line(kWidth, L' ');
    std::wstring shown;
    for (SHORT row = 0; row < kHeight; ++row) {
        DWORD read = 0;
        ReadConsoleOutputCharacterW(screen, &line[0], kWidth, COORD{0, row}, &read);
        std::size_t end = line.find_last_not_of(L' ');
        shown += (end == std::wstring::npos ? std::wstring() : line.substr(0, end + 1)) + L"\n";
    }
    CloseHandle(screen);
    run->out = Utf8(shown.substr(0, shown.find_last_not_of(L'\n') + 1));
    return true;
}

ProgramRun RunRegExe(const std::wstring& arguments) {
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    return RunProgram(std::wstring(system) + L"\\reg.exe", arguments);
}

std::string LastLine(const std::string& text) {
    std::string trimmed = text;
    while (!trimmed.empty() && (trimmed.back() == '\n' || trimmed.back() == '\r')) {
        trimmed.pop_back();
    }
    std::size_t cut = trimmed.rfind('\n');
    return cut == std::string::npos ? trimmed : trimmed.substr(cut + 1);
}

std::string AnsiToUtf8(const std::string& text) {
    std::wstring wide(text.size(), L'\0');
    int chars = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                                    static_cast<int>(wide.size()));
    wide.resize(static_cast<std::size_t>(chars));
    return Utf8(wide);
}
