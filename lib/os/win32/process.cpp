// The Win32 back end, continued: starting programs and waiting for them, the environment.
#include "os.h"
#include "os_common.h"
#include "shared.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

// ---- Processes and environment -------------------------------------------------------

const char os_program_suffix[] = ".exe";

int os_program_path(char *buffer, uint32_t size)
{
    if (size == 0)
        return -1;
    DWORD length = GetModuleFileNameA(nullptr, buffer, size);
    if (length == 0 || length >= size) {
        buffer[0] = '\0';
        return -1;
    }
    return 0;
}

// Opens a file for the child's standard handle, inheritable; the standard handle itself
// when no path is given.
static HANDLE child_handle(const char *path, DWORD standard, int for_output)
{
    if (!path)
        return GetStdHandle(standard);
    SECURITY_ATTRIBUTES security = {sizeof security, nullptr, TRUE};
    return CreateFileA(path, for_output ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, &security,
                       for_output ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Starts the program with its standard handles and waits. 0, or -1.
static int start_and_wait(const char *application, char *command_line, HANDLE *handles,
                          int redirected, int *exit_status)
{
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    if (redirected) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = handles[0];
        startup.hStdOutput = handles[1];
        startup.hStdError = handles[2];
    }
    PROCESS_INFORMATION process;
    fflush(stdout);
    fflush(stderr);
    // Inheriting hands the program the run locks held (inheritable handles), so a folder
    // stays locked while the program runs, even after this process was killed.
    if (!CreateProcessA(application, command_line, nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process))
        return -1;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    *exit_status = static_cast<int>(code);
    return 0;
}

int os_run_program(const char *program, const char *command_line, const char *input_path,
                   const char *output_path, const char *error_path, int *exit_status)
{
    if (os_fault_fires(OS_FAULT_START)) {
        SetLastError(ERROR_WRITE_FAULT);
        return -1;
    }
    const char *name = program;
    for (const char *p = program; *p; p++)
        if (*p == '\\' || *p == '/' || *p == ':')
            name = p + 1;
    char application[MAX_PATH * 2];
    int written =
        snprintf(application, sizeof application, "%s%s", program, strchr(name, '.') ? "" : ".EXE");
    if (written < 0 || written >= static_cast<int>(sizeof application))
        return -1;
    char *line = static_cast<char *>(malloc(strlen(command_line) + 1));
    if (!line)
        return -1;
    strcpy(line, command_line);
    int shared_output = output_path && error_path && strcmp(output_path, error_path) == 0;
    HANDLE handles[3] = {child_handle(input_path, STD_INPUT_HANDLE, 0),
                         child_handle(output_path, STD_OUTPUT_HANDLE, 1),
                         shared_output ? INVALID_HANDLE_VALUE
                                       : child_handle(error_path, STD_ERROR_HANDLE, 1)};
    if (shared_output)
        handles[2] = handles[1];
    const char *paths[3] = {input_path, output_path, shared_output ? nullptr : error_path};
    int result = -1, failed = 0;
    for (int i = 0; i < 3; i++)
        if (paths[i] && handles[i] == INVALID_HANDLE_VALUE)
            failed = 1;
    if (!failed)
        result = start_and_wait(application, line, handles, input_path || output_path || error_path,
                                exit_status);
    // The system's reason for a start that failed outlives the clean-up.
    DWORD error = GetLastError();
    for (int i = 0; i < 3; i++)
        if (paths[i] && handles[i] != INVALID_HANDLE_VALUE)
            CloseHandle(handles[i]);
    free(line);
    SetLastError(error);
    return result;
}

int os_get_environment(const char *name, char *buffer, uint32_t size)
{
    char probe[1];
    SetLastError(0);
    DWORD length = size > 0 ? GetEnvironmentVariableA(name, buffer, size)
                            : GetEnvironmentVariableA(name, probe, 0);
    if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
        if (size > 0)
            buffer[0] = '\0';
        return -1;
    }
    if (size == 0)
        return -2;
    if (length >= size) {
        buffer[0] = '\0';
        return -2;
    }
    return static_cast<int>(length);
}

int os_set_environment(const char *name, const char *value)
{
    if (!SetEnvironmentVariableA(name, value))
        return -1;
    // The C runtime keeps its own copy of the environment for getenv.
    size_t length = strlen(name) + (value ? strlen(value) : 0) + 2;
    char *assignment = static_cast<char *>(malloc(length));
    if (!assignment)
        return -1;
    snprintf(assignment, length, "%s=%s", name, value ? value : "");
    int result = _putenv(assignment) == 0 ? 0 : -1;
    free(assignment);
    return result;
}
