// The POSIX back end, continued: paths resolved as Windows resolves them (full paths,
// links followed or recognised) and run locks, flock() on an inheritable descriptor.
#include "os.h"
#include "os_common.h"
#include "os_posix_names.h"
#include "os_posix_translate.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

// ---- Paths as the system resolves them -----------------------------------------------

static int is_separator(char c)
{
    return c == '\\' || c == '/';
}

// Appends the parts of text to the full path in out ('X:' and '\part' pieces), folding '.'
// and '..' as Windows does: '..' never climbs above the drive's root. 0, or -1 when it does
// not fit in size bytes.
static int fold_parts(char *out, size_t *length, size_t size, const char *text)
{
    while (*text) {
        while (is_separator(*text))
            text++;
        size_t part = 0;
        while (text[part] && !is_separator(text[part]))
            part++;
        if (part == 2 && text[0] == '.' && text[1] == '.') {
            while (*length > 2 && out[*length - 1] != '\\')
                (*length)--;
            if (*length > 2)
                (*length)--;
        } else if (part > 0 && !(part == 1 && text[0] == '.')) {
            if (*length + 1 + part + 1 > size)
                return -1;
            out[(*length)++] = '\\';
            memcpy(out + *length, text, part);
            *length += part;
        }
        text += part;
    }
    return 0;
}

int os_full_path(const char *path, char *buffer, uint32_t size)
{
    char current[NATIVE_PATH_SIZE];
    if (size > 0)
        buffer[0] = '\0';
    if (size < 4 || !path[0] || (is_separator(path[0]) && is_separator(path[1])) ||
        os_get_current_directory(current, sizeof current) != 0) {
        errno = !path[0] || size >= 4 ? ENOENT : ENAMETOOLONG;
        return -1;
    }
    int has_drive = ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':';
    const char *rest = has_drive ? path + 2 : path;
    // The current folder is always on Z:; another drive has no current folder, so its
    // drive-relative paths start at its root, as on a Windows that never visited it.
    int from_current = !is_separator(rest[0]) && (!has_drive || (path[0] | 0x20) == 'z');
    size_t length = 2;
    buffer[0] = has_drive ? static_cast<char>(path[0] & ~0x20) : 'Z';
    buffer[1] = ':';
    if ((from_current && fold_parts(buffer, &length, size, current + 2) != 0) ||
        fold_parts(buffer, &length, size, rest) != 0) {
        buffer[0] = '\0';
        errno = ENAMETOOLONG;
        return -1;
    }
    if (length == 2)
        buffer[length++] = '\\';
    buffer[length] = '\0';
    return 0;
}

int os_final_path(const char *path, char *buffer, uint32_t size)
{
    char native[NATIVE_PATH_SIZE],
        resolved[PATH_MAX > NATIVE_PATH_SIZE ? PATH_MAX : NATIVE_PATH_SIZE];
    NativeLookup lookup;
    if (size > 0)
        buffer[0] = '\0';
    if (translate_path(path, native, 0, &lookup) != 0)
        return -1;
    if (lookup.found == NAMES_MISSING) {
        errno = ENOENT;
        return -1;
    }
    if (!realpath(native, resolved))
        return -1;
    if (to_windows_path(resolved, buffer, size) != 0) {
        errno = ENAMETOOLONG;
        return -1;
    }
    return 0;
}

int os_is_link(const char *path)
{
    char copy[NATIVE_PATH_SIZE], native[NATIVE_PATH_SIZE];
    int written = snprintf(copy, sizeof copy, "%s", path);
    if (written < 0 || written >= static_cast<int>(sizeof copy)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    // A trailing separator would make the system look through a link to its target.
    while (written > 1 && is_separator(copy[written - 1]) && copy[written - 2] != ':')
        copy[--written] = '\0';
    NativeLookup lookup;
    struct stat st;
    if (translate_path(copy, native, 0, &lookup) != 0)
        return -1;
    if (lookup.found == NAMES_EXISTS)
        st = lookup.st;
    else if (lookup.found == NAMES_MISSING || lstat(native, &st) != 0) {
        errno = ENOENT;
        return -1;
    }
    return S_ISLNK(st.st_mode) ? 1 : 0;
}

// ---- Run locks -----------------------------------------------------------------------

// Tries over and over only while other runs keep removing the file in between.
enum { LOCK_ATTEMPTS = 1000 };

// Reads from the start of fd into buffer, NUL-terminated, cut to size - 1 bytes.
static int read_from_start(int fd, char *buffer, uint32_t size)
{
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

// 1 when the lock file's name still leads to the open file fd, else 0.
static int name_leads_to(const char *path, int fd)
{
    char native[NATIVE_PATH_SIZE];
    struct stat mine, named;
    return fstat(fd, &mine) == 0 && translate_path(path, native) == 0 &&
                   stat(native, &named) == 0 && mine.st_dev == named.st_dev &&
                   mine.st_ino == named.st_ino
               ? 1
               : 0;
}

// Opens the lock file and takes its lock. 0 with *fd locked, 1 held elsewhere, -1.
static int open_and_lock(const char *path, int *fd)
{
    *fd = os_open(path, OS_OPEN_READ_WRITE | OS_OPEN_CREATE);
    if (*fd < 0)
        return -1;
    // Started programs inherit the descriptor and with it the lock (flock locks belong to
    // the open file description, not to the process).
    int flags = fcntl(*fd, F_GETFD);
    int result = 0;
    if (flags < 0 || fcntl(*fd, F_SETFD, flags & ~FD_CLOEXEC) != 0)
        result = -1;
    else
        while ((result = flock(*fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
        }
    if (result == 0)
        return 0;
    int saved = errno;
    close(*fd);
    *fd = -1;
    errno = saved;
    return saved == EWOULDBLOCK ? 1 : -1;
}

int os_lock_take(const char *path, OsRunLock *lock, char *previous, uint32_t previous_size)
{
    lock->handle = -1;
    if (previous_size > 0)
        previous[0] = '\0';
    // The full path: the holder may change its current folder before it releases.
    if (os_full_path(path, lock->path, sizeof lock->path) != 0)
        return -1;
    for (int attempt = 0; attempt < LOCK_ATTEMPTS; attempt++) {
        int fd;
        int result = open_and_lock(lock->path, &fd);
        if (result != 0)
            return result;
        if (name_leads_to(lock->path, fd)) {
            if (read_from_start(fd, previous, previous_size) != 0) {
                int saved = errno;
                close(fd);
                errno = saved;
                return -1;
            }
            lock->handle = fd;
            return 0;
        }
        close(fd);
    }
    errno = EWOULDBLOCK;
    return 1;
}

int os_lock_write(OsRunLock *lock, const char *text)
{
    if (lock->handle < 0) {
        errno = EBADF;
        return -1;
    }
    if (os_fault_fires(OS_FAULT_WRITE)) {
        errno = EIO;
        return -1;
    }
    int fd = static_cast<int>(lock->handle);
    size_t length = strlen(text);
    if (ftruncate(fd, 0) != 0)
        return -1;
    for (size_t done = 0; done < length;) {
        ssize_t put = pwrite(fd, text + done, length - done, static_cast<off_t>(done));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return -1;
        done += static_cast<size_t>(put);
    }
    return 0;
}

int os_lock_read(const char *path, char *buffer, uint32_t size)
{
    if (size > 0)
        buffer[0] = '\0';
    int fd = os_open(path, OS_OPEN_READ);
    if (fd < 0)
        return -1;
    int result = read_from_start(fd, buffer, size);
    int saved = errno;
    close(fd);
    errno = saved;
    return result;
}

int os_lock_is_held(const char *path)
{
    // flock takes an exclusive lock on a descriptor opened only for reading.
    int fd = os_open(path, OS_OPEN_READ);
    if (fd < 0)
        return 0;
    int result;
    while ((result = flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    int held = result != 0 && errno == EWOULDBLOCK;
    close(fd);
    return held;
}

void os_lock_release(OsRunLock *lock)
{
    if (lock->handle < 0)
        return;
    int fd = static_cast<int>(lock->handle);
    // Only the holder removes the file, and only while the name still leads to it.
    if (name_leads_to(lock->path, fd))
        os_delete_file(lock->path);
    close(fd);
    lock->handle = -1;
}
