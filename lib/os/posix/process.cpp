// The POSIX back end, continued: starting programs as Windows starts them, and the
// environment with PATH in Windows form.
#include "os.h"
#include "os_common.h"
#include "names.h"
#include "shared.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

// ---- Processes and environment -------------------------------------------------------

const char os_program_suffix[] = "";

int os_program_path(char *buffer, uint32_t size)
{
    char native[NATIVE_PATH_SIZE];
    if (size > 0)
        buffer[0] = '\0';
    ssize_t length = readlink("/proc/self/exe", native, sizeof native - 1);
    if (length <= 0)
        return -1;
    native[length] = '\0';
    return to_windows_path(native, buffer, size);
}

// The native path of a program to start: the name with ".EXE" when it has no extension,
// else (or when no such file exists) the name as written. 0, or -1 when no file exists.
static int find_program(const char *program, char *native)
{
    const char *name = program;
    for (const char *p = program; *p; p++)
        if (*p == '\\' || *p == '/')
            name = p + 1;
    struct stat st;
    if (!strchr(name, '.')) {
        char with_suffix[NATIVE_PATH_SIZE];
        int length = snprintf(with_suffix, sizeof with_suffix, "%s.EXE", program);
        if (length > 0 && length < NATIVE_PATH_SIZE && translate_path(with_suffix, native) == 0 &&
            stat(native, &st) == 0 && S_ISREG(st.st_mode))
            return 0;
    }
    if (translate_path(program, native) == 0 && stat(native, &st) == 0 && S_ISREG(st.st_mode))
        return 0;
    errno = ENOENT;
    return -1;
}

// Opens a redirection file for the child (close-on-exec; the child duplicates it onto its
// standard handle). -1 when no path is given or it cannot be opened (*failed then set).
static int open_redirection(const char *path, int for_output, int *failed)
{
    if (!path)
        return -1;
    char native[NATIVE_PATH_SIZE];
    int fd = -1;
    if (translate_path(path, native) == 0)
        fd = open(native,
                  for_output ? O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC : O_RDONLY | O_CLOEXEC,
                  0644);
    if (fd < 0)
        *failed = 1;
    return fd;
}

// In the child: takes the redirections, starts the program; on failure reports errno
// through the close-on-exec pipe.
static void exec_child(const char *native, char **argv, const int *handles, int report)
{
    for (int i = 0; i < 3; i++)
        if (handles[i] >= 0 && dup2(handles[i], i) < 0)
            break;
    execv(native, argv);
    int error = errno;
    ssize_t ignored = write(report, &error, sizeof error);
    (void)ignored;
    _exit(127);
}

// Waits for the child and reads its exit status; a child ended by a signal gives 128 plus
// the signal number, as shells show it. 0, or -1 when the exec failed.
static int wait_child(pid_t child, int report, int *exit_status)
{
    int error = 0;
    ssize_t got;
    do
        got = read(report, &error, sizeof error);
    while (got < 0 && errno == EINTR);
    close(report);
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    if (got == static_cast<ssize_t>(sizeof error)) {
        // The child's reason (EACCES, ENOEXEC...) is the caller's to read.
        errno = error;
        return -1;
    }
    if (WIFEXITED(status))
        *exit_status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        *exit_status = 128 + WTERMSIG(status);
    return 0;
}

static int start_and_wait(const char *native, char **argv, const int *handles, int *exit_status)
{
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0)
        return -1;
    fflush(stdout);
    fflush(stderr);
    pid_t child = fork();
    if (child < 0) {
        close(report[0]);
        close(report[1]);
        return -1;
    }
    if (child == 0) {
        close(report[0]);
        exec_child(native, argv, handles, report[1]);
    }
    close(report[1]);
    return wait_child(child, report[0], exit_status);
}

int os_run_program(const char *program, const char *command_line, const char *input_path,
                   const char *output_path, const char *error_path, int *exit_status)
{
    if (os_fault_fires(OS_FAULT_START)) {
        errno = EIO;
        return -1;
    }
    char native[NATIVE_PATH_SIZE];
    if (find_program(program, native) != 0)
        return -1;
    size_t length = strlen(command_line);
    char **argv = static_cast<char **>(malloc((length / 2 + 3) * sizeof(char *)));
    char *text = static_cast<char *>(malloc(length + 1));
    int handles[3] = {-1, -1, -1}, failed = 0, result = -1;
    if (argv && text) {
        if (os_split_command_line(command_line, argv, text) == 0) {
            argv[0] = native;
            argv[1] = nullptr;
        }
        handles[0] = open_redirection(input_path, 0, &failed);
        handles[1] = open_redirection(output_path, 1, &failed);
        if (error_path && output_path && strcmp(error_path, output_path) == 0)
            handles[2] = handles[1] >= 0 ? dup(handles[1]) : -1;
        else
            handles[2] = open_redirection(error_path, 1, &failed);
        if (!failed)
            result = start_and_wait(native, argv, handles, exit_status);
        // The program, or the files its output went to, may have changed any folder, even
        // in the same tick as a listing.
        names_forget_all();
    }
    int error = errno;
    for (int i = 0; i < 3; i++)
        if (handles[i] >= 0)
            close(handles[i]);
    free(argv);
    free(text);
    errno = error;
    return result;
}

// Writes a Unix PATH ('/a:/b') in Windows form ('Z:\a;Z:\b'). The value's length, or -2.
static int windows_path_list(const char *value, char *buffer, uint32_t size)
{
    uint32_t length = 0;
    for (const char *p = value;;) {
        const char *end = strchr(p, ':');
        size_t part = end ? static_cast<size_t>(end - p) : strlen(p);
        const char *prefix = (part > 0 && p[0] == '/') ? "Z:" : part == 0 ? "." : "";
        size_t need = strlen(prefix) + part + (length > 0 ? 1 : 0);
        if (length + need + 1 > size) {
            buffer[0] = '\0';
            return -2;
        }
        if (length > 0)
            buffer[length++] = ';';
        for (const char *q = prefix; *q; q++)
            buffer[length++] = *q;
        for (size_t i = 0; i < part; i++)
            buffer[length++] = p[i] == '/' ? '\\' : p[i];
        buffer[length] = '\0';
        if (!end)
            return static_cast<int>(length);
        p = end + 1;
    }
}

int os_get_environment(const char *name, char *buffer, uint32_t size)
{
    if (size > 0)
        buffer[0] = '\0';
    const char *value = getenv(name);
    if (!value)
        return -1;
    if (size == 0)
        return -2;
    if (strcmp(name, "PATH") == 0 && value[0] && !strchr(value, ';') && !strchr(value, '\\'))
        return windows_path_list(value, buffer, size);
    size_t length = strlen(value);
    if (length + 1 > size)
        return -2;
    memcpy(buffer, value, length + 1);
    return static_cast<int>(length);
}

int os_set_environment(const char *name, const char *value)
{
    if (!value)
        return unsetenv(name) == 0 ? 0 : -1;
    return setenv(name, value, 1) == 0 ? 0 : -1;
}
