// Background programs on Windows: CreateProcess, TerminateProcess.
#include "background.h"

#include <windows.h>

#include <map>

// The job object of each process started, which the programs it starts join.
static std::map<intptr_t, HANDLE> jobs;

intptr_t background_start(const std::string &program, const std::string &name,
                          const std::string &output_path)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileA(output_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE in = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE || in == INVALID_HANDLE_VALUE) {
        if (out != INVALID_HANDLE_VALUE)
            CloseHandle(out);
        if (in != INVALID_HANDLE_VALUE)
            CloseHandle(in);
        return -1;
    }
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = out;
    PROCESS_INFORMATION info;
    std::string line = name;
    BOOL started = CreateProcessA(program.c_str(), &line[0], nullptr, nullptr, TRUE,
                                  CREATE_SUSPENDED, nullptr, nullptr, &startup, &info);
    CloseHandle(out);
    CloseHandle(in);
    if (!started)
        return -1;
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    if (job && !AssignProcessToJobObject(job, info.hProcess)) {
        CloseHandle(job);
        job = nullptr;
    }
    ResumeThread(info.hThread);
    CloseHandle(info.hThread);
    intptr_t process = reinterpret_cast<intptr_t>(info.hProcess);
    if (job)
        jobs[process] = job;
    return process;
}

int background_wait(intptr_t process)
{
    HANDLE handle = reinterpret_cast<HANDLE>(process);
    DWORD status = 0;
    int result = -1000;
    if (WaitForSingleObject(handle, INFINITE) == WAIT_OBJECT_0 &&
        GetExitCodeProcess(handle, &status) && status != 0xDEAD)
        result = static_cast<int>(status);
    CloseHandle(handle);
    auto job = jobs.find(process);
    if (job != jobs.end()) {
        CloseHandle(job->second);
        jobs.erase(job);
    }
    return result;
}

void background_kill(intptr_t process)
{
    TerminateProcess(reinterpret_cast<HANDLE>(process), 0xDEAD);
    background_wait(process);
}

void background_kill_tree(intptr_t process)
{
    auto job = jobs.find(process);
    if (job != jobs.end())
        TerminateJobObject(job->second, 0xDEAD);
    background_kill(process);
}
