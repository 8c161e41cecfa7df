// The POSIX back end, continued: the steps of a lock file, flock() on an inheritable
// descriptor opened without following links.
#include "os.h"
#include "os_common.h"
#include "os_lock_file.h"
#include "names.h"
#include "shared.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

// Never follows a link, never waits for the other end of a pipe, never takes a terminal.
static const int LOCK_OPEN_FLAGS = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;

// The kind of entry st describes, as os_lock_take reports it.
static int kind_of(const struct stat *st)
{
    if (S_ISLNK(st->st_mode))
        return OS_LOCK_LINK;
    if (S_ISDIR(st->st_mode))
        return OS_LOCK_FOLDER;
    if (!S_ISREG(st->st_mode))
        return OS_LOCK_DEVICE;
    // Read-only as Windows sees it: no write permission for the owner, for any user.
    if (!(st->st_mode & S_IWUSR))
        return OS_LOCK_READ_ONLY;
    return st->st_nlink != 1 ? OS_LOCK_HARD_LINK : OS_LOCK_TAKEN;
}

int lock_fault_fires(int kind)
{
    if (!os_fault_fires(kind))
        return 0;
    errno = EIO;
    return 1;
}

int lock_file_open(const char *path, intptr_t *handle)
{
    char native[NATIVE_PATH_SIZE];
    NativeLookup lookup;
    *handle = -1;
    if (translate_path(path, native, 0, &lookup) != 0)
        return OS_LOCK_FAILED;
    if (lookup.found == NAMES_EXISTS && kind_of(&lookup.st) != OS_LOCK_TAKEN &&
        kind_of(&lookup.st) != OS_LOCK_HARD_LINK)
        return kind_of(&lookup.st);
    int creates = lookup.found == NAMES_MISSING;
    if (creates)
        names_before_change(native);
    // O_EXCL with O_CREAT refuses a dangling link instead of creating what it names.
    int fd = open(native, O_RDWR | LOCK_OPEN_FLAGS | (creates ? O_CREAT | O_EXCL : 0), 0666);
    if (fd < 0) {
        struct stat st;
        if (errno == EEXIST || (errno == ENOENT && !creates))
            return lstat(native, &st) == 0 && S_ISLNK(st.st_mode)
                       ? static_cast<int>(OS_LOCK_LINK)
                       : static_cast<int>(LOCK_FILE_AGAIN);
        if (errno == ELOOP)
            return OS_LOCK_LINK;
        if (errno == EISDIR)
            return OS_LOCK_FOLDER;
        if (errno == ENXIO || errno == ENODEV)
            return OS_LOCK_DEVICE;
        if ((errno == EACCES || errno == EROFS) && lstat(native, &st) == 0 && S_ISREG(st.st_mode))
            return OS_LOCK_READ_ONLY;
        return OS_LOCK_FAILED;
    }
    if (creates)
        names_after_change(native, 1);
    *handle = fd;
    return OS_LOCK_TAKEN;
}

int lock_file_prove(intptr_t handle)
{
    struct stat st;
    if (fstat(static_cast<int>(handle), &st) != 0)
        return OS_LOCK_FAILED;
    return kind_of(&st);
}

int lock_file_final_path(intptr_t handle, char *buffer, uint32_t size)
{
    char link[64], target[PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", static_cast<int>(handle));
    ssize_t length = readlink(link, target, sizeof target - 1);
    if (length <= 0 || target[0] != '/') {
        // No /proc: the identity checks stand alone.
        if (size > 0)
            buffer[0] = '\0';
        return -1;
    }
    target[length] = '\0';
    return to_windows_path(target, buffer, size);
}

int lock_file_try(intptr_t handle)
{
    int fd = static_cast<int>(handle);
    // Started programs inherit the descriptor and with it the lock (flock locks belong to
    // the open file description, not to the process).
    int flags = fcntl(fd, F_GETFD);
    if (flags < 0 || fcntl(fd, F_SETFD, flags & ~FD_CLOEXEC) != 0)
        return OS_LOCK_FAILED;
    int result;
    while ((result = flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (result == 0)
        return OS_LOCK_TAKEN;
    return errno == EWOULDBLOCK ? OS_LOCK_HELD : OS_LOCK_FAILED;
}

int lock_file_is_named(intptr_t handle, const char *path)
{
    char native[NATIVE_PATH_SIZE];
    NativeLookup lookup;
    struct stat mine;
    return fstat(static_cast<int>(handle), &mine) == 0 &&
                   translate_path(path, native, 0, &lookup) == 0 && lookup.found == NAMES_EXISTS &&
                   !S_ISLNK(lookup.st.st_mode) && mine.st_dev == lookup.st.st_dev &&
                   mine.st_ino == lookup.st.st_ino
               ? 1
               : 0;
}

int lock_file_read(intptr_t handle, char *buffer, uint32_t size)
{
    int fd = static_cast<int>(handle);
    uint32_t length = 0;
    while (length + 1 < size) {
        ssize_t got = pread(fd, buffer + length, size - 1 - length, length);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            buffer[length] = '\0';
            return -1;
        }
        if (got == 0)
            break;
        length += static_cast<uint32_t>(got);
    }
    if (size > 0)
        buffer[length] = '\0';
    return 0;
}

int lock_file_write(intptr_t handle, const char *text)
{
    int fd = static_cast<int>(handle);
    size_t length = strlen(text);
    ssize_t put;
    while ((put = pwrite(fd, text, length, 0)) < 0 && errno == EINTR) {
    }
    if (put < 0 || static_cast<size_t>(put) != length) {
        if (put >= 0)
            errno = EIO;
        return -1;
    }
    return ftruncate(fd, static_cast<off_t>(length));
}

void lock_file_close(intptr_t handle)
{
    int saved = errno;
    close(static_cast<int>(handle));
    errno = saved;
}

uint32_t lock_clock_ms(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

void lock_pause(void)
{
    struct timespec pause = {0, 1000000};
    nanosleep(&pause, nullptr);
}
