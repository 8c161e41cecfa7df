// Changes behind the OS layer's back on POSIX: plain system calls on the native paths.
#include "behind_back.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

// 'Z:\a\b' becomes '/a/b'.
static std::string native_of(const std::string &path)
{
    std::string native = path.size() >= 2 && path[1] == ':' ? path.substr(2) : path;
    for (char &c : native)
        if (c == '\\')
            c = '/';
    return native;
}

bool behind_back_available()
{
    return true;
}

int behind_create_file(const std::string &path)
{
    int fd = open(native_of(path).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0)
        return -1;
    return close(fd) == 0 ? 0 : -1;
}

int behind_delete_file(const std::string &path)
{
    return unlink(native_of(path).c_str()) == 0 ? 0 : -1;
}

int behind_rename(const std::string &from, const std::string &to)
{
    return rename(native_of(from).c_str(), native_of(to).c_str()) == 0 ? 0 : -1;
}

int behind_make_folder(const std::string &path)
{
    return mkdir(native_of(path).c_str(), 0700) == 0 ? 0 : -1;
}

int behind_make_link(const std::string &target, const std::string &link)
{
    return symlink(native_of(target).c_str(), native_of(link).c_str()) == 0 ? 0 : -1;
}

int behind_set_time(const std::string &path, long long seconds, long nanoseconds)
{
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(seconds);
    times[1].tv_nsec = nanoseconds;
    return utimensat(AT_FDCWD, native_of(path).c_str(), times, 0) == 0 ? 0 : -1;
}

long long behind_clock_seconds(long long offset_seconds)
{
    return static_cast<long long>(time(nullptr)) + offset_seconds;
}

int unix_make_link(const std::string &target, const std::string &link)
{
    return behind_make_link(target, link);
}

int unix_remove_link(const std::string &link)
{
    return behind_delete_file(link);
}

intptr_t behind_hold_unshared(const std::string &)
{
    return -1;
}

void behind_release_file(intptr_t)
{
}
