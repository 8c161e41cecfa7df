// Background programs on POSIX: fork and exec, SIGKILL.
#include "background.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

// 'Z:\a\b' as '/a/b'.
static std::string native(const std::string &path)
{
    std::string out = path.size() >= 2 && path[1] == ':' ? path.substr(2) : path;
    for (char &c : out)
        if (c == '\\')
            c = '/';
    return out;
}

intptr_t background_start(const std::string &program, const std::string &name,
                          const std::string &output_path)
{
    std::string file = native(program), out = native(output_path);
    pid_t pid = fork();
    if (pid != 0)
        return pid > 0 ? pid : -1;
    // A group of its own, so that it can be ended with the programs it starts.
    setpgid(0, 0);
    int in = open("/dev/null", O_RDONLY);
    int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || fd < 0)
        _exit(127);
    dup2(in, 0);
    dup2(fd, 1);
    dup2(fd, 2);
    execl(file.c_str(), name.c_str(), static_cast<char *>(nullptr));
    _exit(127);
}

int background_wait(intptr_t process)
{
    int status = 0;
    if (waitpid(static_cast<pid_t>(process), &status, 0) < 0 || !WIFEXITED(status))
        return -1000;
    return WEXITSTATUS(status);
}

void background_kill(intptr_t process)
{
    kill(static_cast<pid_t>(process), SIGKILL);
    background_wait(process);
}

void background_kill_tree(intptr_t process)
{
    kill(-static_cast<pid_t>(process), SIGKILL);
    background_wait(process);
}
