#include "run_program.h"

#include <chrono>
#include <memory>

namespace {

struct HandleCloser {
    void operator()(HANDLE handle) const {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
    }
};
using Handle = std::unique_ptr<void, HandleCloser>;

Handle KillOnCloseJob() {
    Handle job(CreateJobObjectW(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job && !SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                                        sizeof limits)) {
        job.reset();
    }
    return job;
}

}  // namespace

ProgramResult RunLogged(const std::wstring& commandLine, const std::wstring& folder,
                        const std::wstring& logFile, DWORD minutes) {
    ProgramResult result;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    Handle log(CreateFileW(logFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    Handle input(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr));
    if (log.get() == INVALID_HANDLE_VALUE) {
        result.started = GetLastError();
        return result;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.get();
    startup.hStdOutput = log.get();
    startup.hStdError = log.get();
    std::wstring line = commandLine;
    PROCESS_INFORMATION process{};
    Handle job = KillOnCloseJob();
    auto start = std::chrono::steady_clock::now();
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                        folder.c_str(), &startup, &process)) {
        result.started = GetLastError();
        return result;
    }
    Handle processHandle(process.hProcess);
    Handle thread(process.hThread);
    if (job && !AssignProcessToJobObject(job.get(), process.hProcess)) {
        job.reset();
    }
    ResumeThread(process.hThread);
    if (WaitForSingleObject(process.hProcess, minutes * 60000) != WAIT_OBJECT_0) {
        result.timedOut = true;
        if (job) {
            TerminateJobObject(job.get(), ERROR_TIMEOUT);
        } else {
            TerminateProcess(process.hProcess, ERROR_TIMEOUT);
        }
        WaitForSingleObject(process.hProcess, 10000);
    }
    GetExitCodeProcess(process.hProcess, &result.exitCode);
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return result;
}
