// Files opened once, over POSIX: opened without waiting, their status and identity taken from
// the descriptor, checked by name without following a link, and rewritten through the
// descriptor.
#include "os.h"
#include "os_common.h"
#include "names.h"
#include "shared.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

void take_handle_status(OsOpenFile *file, const struct stat *st)
{
    file->status.is_directory = S_ISDIR(st->st_mode) ? 1 : 0;
    file->status.is_file = S_ISREG(st->st_mode) ? 1 : 0;
    file->status.size = file->status.is_directory     ? 0
                        : st->st_size >= 0xFFFFFFFFLL ? 0xFFFFFFFFu
                                                      : static_cast<uint32_t>(st->st_size);
    file->volume = static_cast<uint64_t>(st->st_dev);
    file->index = static_cast<uint64_t>(st->st_ino);
    file->names = static_cast<uint32_t>(st->st_nlink);
}

// Opens native with flags; a name that is not there as written is looked up without regard
// to case and opened as found. A descriptor, or -1 with errno set.
static int open_as_written_or_found(const char *path, char *native, int flags)
{
    if (translate_text(path, native) != 0)
        return -1;
    int fd = OS_CALL(open(native, flags));
    if (fd >= 0 || errno != ENOENT)
        return fd;
    NativeLookup lookup;
    if (translate_path(path, native, 0, &lookup) != 0)
        return -1;
    if (lookup.found != NAMES_EXISTS) {
        errno = ENOENT;
        return -1;
    }
    return OS_CALL(open(native, flags));
}

int os_open_file(const char *path, int for_writing, OsOpenFile *file)
{
    file->fd = -1;
    char native[NATIVE_PATH_SIZE];
    int flags = (for_writing ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int fd = open_as_written_or_found(path, native, flags);
    if (fd < 0)
        return -1;
    struct stat st;
    if (OS_CALL(fstat(fd, &st)) != 0) {
        close(fd);
        return -1;
    }
    // Windows writes to no read-only file, not even for an administrator.
    if (for_writing && !S_ISDIR(st.st_mode) && !(st.st_mode & S_IWUSR)) {
        close(fd);
        errno = EACCES;
        return -1;
    }
    take_handle_status(file, &st);
    file->fd = fd;
    return 0;
}

// 1 when the final path of the open descriptor lies inside folder (a Windows final path).
static int lies_inside(int fd, const char *folder)
{
    char link[64], native[NATIVE_PATH_SIZE], final[NATIVE_PATH_SIZE];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t length = OS_CALL(readlink(link, native, sizeof native - 1));
    if (length <= 0)
        return 0;
    native[length] = '\0';
    size_t folder_length = strlen(folder);
    while (folder_length > 0 && folder[folder_length - 1] == '\\')
        folder_length--;
    return to_windows_path(native, final, sizeof final) == 0 &&
           strncmp(final, folder, folder_length) == 0 && final[folder_length] == '\\';
}

int os_file_is_still_at(const OsOpenFile *file, const char *path, const char *folder)
{
    char native[NATIVE_PATH_SIZE];
    struct stat st;
    if (translate_text(path, native) != 0 || OS_CALL(lstat(native, &st)) != 0) {
        NativeLookup lookup;
        if (translate_path(path, native, 0, &lookup) != 0 || lookup.found != NAMES_EXISTS)
            return 0;
        st = lookup.st;
    }
    int is_link = S_ISLNK(st.st_mode);
    if (is_link && OS_CALL(stat(native, &st)) != 0)
        return 0;
    if (static_cast<uint64_t>(st.st_dev) != file->volume ||
        static_cast<uint64_t>(st.st_ino) != file->index)
        return 0;
    // A name that is no link lies in its folder; a link may lead anywhere.
    return !is_link || lies_inside(file->fd, folder) ? 1 : 0;
}

int os_replace_content(const OsOpenFile *file, const void *bytes, uint32_t size)
{
    if (OS_CALL(ftruncate(file->fd, 0)) != 0)
        return -1;
    const char *at = static_cast<const char *>(bytes);
    off_t offset = 0;
    while (static_cast<uint32_t>(offset) < size) {
        if (os_fault_fires(OS_FAULT_WRITE)) {
            errno = EIO;
            return -1;
        }
        ssize_t written = OS_CALL(pwrite(file->fd, at + offset, size - offset, offset));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return -1;
        offset += written;
    }
    return 0;
}

int os_create_new(const char *path)
{
    if (os_fault_fires(OS_FAULT_CREATE)) {
        errno = EIO;
        return -1;
    }
    char native[NATIVE_PATH_SIZE];
    if (translate_text(path, native) != 0)
        return -1;
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int in_step = names_keep_in_step(native);
    if (in_step)
        names_before_change(native);
    int fd = OS_CALL(open(native, flags, 0666));
    // A folder on the way that is not there as written takes the case of the one that is.
    if (fd < 0 && errno == ENOENT && translate_path(path, native, 1) == 0) {
        in_step = names_keep_in_step(native);
        if (in_step)
            names_before_change(native);
        fd = OS_CALL(open(native, flags, 0666));
    }
    if (fd >= 0 && in_step)
        names_after_change(native, 1);
    return fd;
}

// The entry's own status (a link as itself): from the lookup when it found the entry, else
// asked. 0, or -1.
static int status_of_entry(const char *native, const NativeLookup *lookup, struct stat *st)
{
    if (lookup->found == NAMES_EXISTS) {
        *st = lookup->st;
        return 0;
    }
    return OS_CALL(lstat(native, st));
}

int os_delete_created(int fd, const char *path)
{
    char native[NATIVE_PATH_SIZE];
    NativeLookup lookup;
    struct stat held, named;
    int result = -1;
    if (os_fault_fires(OS_FAULT_DELETE)) {
        errno = EIO;
    } else if (OS_CALL(fstat(fd, &held)) == 0 && translate_path(path, native, 0, &lookup) == 0 &&
               status_of_entry(native, &lookup, &named) == 0) {
        if (held.st_dev != named.st_dev || held.st_ino != named.st_ino) {
            errno = ESTALE; // another file has taken the name
        } else {
            names_before_change(native);
            if (OS_CALL(unlink(native)) == 0) {
                names_after_change(native, 0);
                result = 0;
            }
        }
    }
    int error = errno;
    os_close(fd);
    errno = error;
    return result;
}
