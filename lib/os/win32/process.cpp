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
    WCHAR wide[OS_PATH_UNITS];
    DWORD length = GetModuleFileNameW(nullptr, wide, OS_PATH_UNITS);
    if (length == 0 || length >= OS_PATH_UNITS) {
        buffer[0] = '\0';
        return -1;
    }
    return to_utf8(wide, buffer, size) < 0 ? -1 : 0;
}

// UTF-8 text as UTF-16 in memory of its own (free it), for the texts that may pass a path's
// size: a command line, an environment variable. Null when it is no UTF-8 or memory is short.
static WCHAR *wide_copy(const char *text)
{
    int units = static_cast<int>(strlen(text)) + 1;
    WCHAR *wide = static_cast<WCHAR *>(malloc(units * sizeof(WCHAR)));
    if (wide && to_wide(text, wide, units) < 0) {
        free(wide);
        return nullptr;
    }
    return wide;
}

// Opens a file for the child's standard handle, inheritable; the standard handle itself
// when no path is given.
static HANDLE child_handle(const char *path, DWORD standard, int for_output)
{
    if (!path)
        return GetStdHandle(standard);
    SECURITY_ATTRIBUTES security = {sizeof security, nullptr, TRUE};
    WCHAR wide[OS_PATH_UNITS];
    if (to_wide(path, wide) < 0)
        return INVALID_HANDLE_VALUE;
    HANDLE handle;
    int tries = 0;
    do
        handle = CreateFileW(
            wide, for_output ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
            &security, for_output ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    while (handle == INVALID_HANDLE_VALUE && sharing_wait(&tries));
    return handle;
}

// Starts the program with its standard handles and waits. 0, or -1.
static int start_and_wait(const WCHAR *application, WCHAR *command_line, HANDLE *handles,
                          int redirected, int *exit_status)
{
    STARTUPINFOW startup;
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
    // stays locked while the program runs, even after this process was killed. An ANSI
    // program gets the command line in its ANSI code page from the system.
    if (!CreateProcessW(application, command_line, nullptr, nullptr, TRUE, 0, nullptr, nullptr,
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

// The program's file in wide (OS_PATH_UNITS units): ".EXE" added to a name without an
// extension. 0, or -1.
static int application_of(const char *program, WCHAR *wide)
{
    const char *name = program;
    for (const char *p = program; *p; p++)
        if (*p == '\\' || *p == '/' || *p == ':')
            name = p + 1;
    char application[OS_PATH_SIZE];
    int written =
        snprintf(application, sizeof application, "%s%s", program, strchr(name, '.') ? "" : ".EXE");
    if (written < 0 || written >= static_cast<int>(sizeof application)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return -1;
    }
    return to_wide(application, wide) < 0 ? -1 : 0;
}

int os_run_program(const char *program, const char *command_line, const char *input_path,
                   const char *output_path, const char *error_path, int *exit_status)
{
    if (os_fault_fires(OS_FAULT_START)) {
        SetLastError(ERROR_WRITE_FAULT);
        return -1;
    }
    WCHAR application[OS_PATH_UNITS];
    if (application_of(program, application) != 0)
        return -1;
    WCHAR *line = wide_copy(command_line);
    if (!line)
        return -1;
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

// The value of the variable named wide_name in memory of its own (free it). Null when it is
// not set or memory is short.
static WCHAR *environment_value(const WCHAR *wide_name)
{
    SetLastError(0);
    DWORD units = GetEnvironmentVariableW(wide_name, nullptr, 0);
    if (units == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND)
        return nullptr;
    WCHAR *value = static_cast<WCHAR *>(malloc((units + 1) * sizeof(WCHAR)));
    if (!value)
        return nullptr;
    value[0] = L'\0';
    // A value made longer in between is no value read.
    if (GetEnvironmentVariableW(wide_name, value, units + 1) > units) {
        free(value);
        return nullptr;
    }
    return value;
}

int os_get_environment(const char *name, char *buffer, uint32_t size)
{
    WCHAR wide_name[OS_PATH_UNITS];
    WCHAR *value = to_wide(name, wide_name) < 0 ? nullptr : environment_value(wide_name);
    if (size > 0)
        buffer[0] = '\0';
    if (!value)
        return -1;
    int length = to_utf8(value, buffer, size);
    free(value);
    return length < 0 ? -2 : length;
}

int os_set_environment(const char *name, const char *value)
{
    // The C runtime keeps its own copy of the environment for getenv.
    size_t length = strlen(name) + (value ? strlen(value) : 0) + 2;
    char *assignment = static_cast<char *>(malloc(length));
    if (!assignment)
        return -1;
    snprintf(assignment, length, "%s=%s", name, value ? value : "");
    WCHAR *wide = wide_copy(assignment);
    free(assignment);
    if (!wide)
        return -1;
    WCHAR *equals = wcschr(wide + (wide[0] ? 1 : 0), L'=');
    *equals = L'\0';
    int result = SetEnvironmentVariableW(wide, value ? equals + 1 : nullptr) ? 0 : -1;
    *equals = L'=';
    if (result == 0 && _wputenv(wide) != 0)
        result = -1;
    free(wide);
    return result;
}
