// The POSIX back end, continued: files of a held folder opened, checked, created, deleted and
// renamed relative to the folder's descriptor, so that a folder renamed or swapped meanwhile
// cannot send the work elsewhere.
#include "os.h"
#include "os_common.h"
#include "names.h"
#include "shared.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

// The name in another case, found in the listings the layer keeps of the folders it looked
// into, through the path by which the system reaches the held folder itself
// ("/proc/self/fd/N"): a folder of many names is then read once, not at every name. 1 with the
// name in found and its status in *st (as lstat gives it, found through that very folder), 0
// when there is none, -1 where that path does not reach the held folder (no /proc).
static int find_cached(OsHeldFolder *folder, const char *name, char *found, struct stat *st)
{
    char path[NATIVE_PATH_SIZE];
    int written = snprintf(path, sizeof path, "/proc/self/fd/%d", folder->fd);
    if (!folder->reached) {
        struct stat held;
        folder->reached = OS_CALL(stat(path, &held)) == 0 && held.st_dev == folder->device &&
                                  held.st_ino == folder->inode
                              ? 1
                              : -1;
    }
    if (folder->reached < 0)
        return -1;
    snprintf(path + written, sizeof path - written, "/%s", name);
    if (names_resolve_case(path, 0, st) != NAMES_EXISTS)
        return 0;
    snprintf(found, OS_NAME_SIZE, "%s", path + written + 1);
    return 1;
}

int find_entry(OsHeldFolder *folder, const char *name, char *found, struct stat *st)
{
    if (!is_entry_name(name))
        return -1;
    if (OS_CALL(fstatat(folder->fd, name, st, AT_SYMLINK_NOFOLLOW)) == 0) {
        snprintf(found, OS_NAME_SIZE, "%s", name);
        return 0;
    }
    if (errno != ENOENT)
        return -1;
    int cached = find_cached(folder, name, found, st);
    if (cached >= 0) {
        errno = cached ? errno : ENOENT;
        return cached ? 0 : -1;
    }
    int listing = OS_CALL(openat(folder->fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DIR *dir = listing >= 0 ? fdopendir(listing) : nullptr;
    if (!dir) {
        if (listing >= 0)
            close(listing);
        return -1;
    }
    char **names = names_read_listing(dir);
    closedir(dir);
    int result = -1;
    for (size_t i = 0; names && names[i] && result != 0; i++) {
        if (strcmp(names[i], ".") != 0 && strcmp(names[i], "..") != 0 &&
            strlen(names[i]) < OS_NAME_SIZE && os_equal_folded(names[i], name) &&
            OS_CALL(fstatat(folder->fd, names[i], st, AT_SYMLINK_NOFOLLOW)) == 0) {
            snprintf(found, OS_NAME_SIZE, "%s", names[i]);
            result = 0;
        }
    }
    free(names);
    if (result != 0)
        errno = ENOENT;
    return result;
}

// 1 when the file open at fd lies in the held folder: the folder its path names now has the
// held folder's identity.
static int lies_in_held(const OsHeldFolder *folder, int fd)
{
    char link[64], native[NATIVE_PATH_SIZE];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t length = OS_CALL(readlink(link, native, sizeof native - 1));
    if (length <= 0 || native[0] != '/')
        return 0;
    native[length] = '\0';
    char *cut = strrchr(native, '/');
    cut[cut == native ? 1 : 0] = '\0';
    struct stat parent, held;
    return OS_CALL(stat(native, &parent)) == 0 && OS_CALL(fstat(folder->fd, &held)) == 0 &&
                   parent.st_dev == held.st_dev && parent.st_ino == held.st_ino
               ? 1
               : 0;
}

// An entry of the held folder was made, renamed or removed here, behind the listings the layer
// keeps of the folders it looked into.
static void note_change(OsHeldFolder *folder)
{
    folder->changed = 1;
    names_forget_folder(folder->device, folder->inode);
}

int os_held_open_file(OsHeldFolder *folder, const char *name, int for_writing, OsOpenFile *file)
{
    file->fd = -1;
    char found[OS_NAME_SIZE];
    struct stat st;
    if (find_entry(folder, name, found, &st) != 0)
        return -1;
    int flags = (for_writing ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int fd = OS_CALL(openat(folder->fd, found, flags | O_NOFOLLOW));
    int through_link = fd < 0 && errno == ELOOP;
    if (through_link)
        fd = OS_CALL(openat(folder->fd, found, flags));
    if (fd < 0)
        return -1;
    int error = 0;
    if (OS_CALL(fstat(fd, &st)) != 0)
        error = errno;
    else if (through_link && !lies_in_held(folder, fd))
        error = EACCES; // a link leading out of the folder
    else if (for_writing && !S_ISDIR(st.st_mode) && !(st.st_mode & S_IWUSR))
        error = EACCES; // Windows writes to no read-only file
    if (error) {
        close(fd);
        errno = error;
        return -1;
    }
    take_handle_status(file, &st);
    file->fd = fd;
    return 0;
}

int os_held_file_is_still_at(OsHeldFolder *folder, const char *name, const OsOpenFile *file)
{
    char found[OS_NAME_SIZE];
    struct stat st;
    if (find_entry(folder, name, found, &st) != 0)
        return 0;
    int is_link = S_ISLNK(st.st_mode);
    if (is_link && OS_CALL(fstatat(folder->fd, found, &st, 0)) != 0)
        return 0;
    if (static_cast<uint64_t>(st.st_dev) != file->volume ||
        static_cast<uint64_t>(st.st_ino) != file->index)
        return 0;
    // An entry that is no link lies in the folder; a link may lead anywhere.
    return !is_link || lies_in_held(folder, file->fd) ? 1 : 0;
}

int os_held_create_new(OsHeldFolder *folder, const char *name)
{
    if (os_fault_fires(OS_FAULT_CREATE)) {
        errno = EIO;
        return -1;
    }
    if (!is_entry_name(name))
        return -1;
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int fd = OS_CALL(openat(folder->fd, name, flags, 0666));
    if (fd >= 0)
        note_change(folder);
    return fd;
}

int os_held_delete_created(OsHeldFolder *folder, int fd, const char *name)
{
    struct stat held, named;
    int result = -1;
    if (os_fault_fires(OS_FAULT_DELETE)) {
        errno = EIO;
    } else if (is_entry_name(name) && OS_CALL(fstat(fd, &held)) == 0 &&
               OS_CALL(fstatat(folder->fd, name, &named, AT_SYMLINK_NOFOLLOW)) == 0) {
        if (held.st_dev != named.st_dev || held.st_ino != named.st_ino) {
            errno = ESTALE; // another file has taken the name
        } else if (OS_CALL(unlinkat(folder->fd, name, 0)) == 0) {
            note_change(folder);
            result = 0;
        }
    }
    int error = errno;
    os_close(fd);
    errno = error;
    return result;
}

int os_held_same_folder(const OsHeldFolder *first, const OsHeldFolder *second)
{
    return first->device == second->device && first->inode == second->inode ? 1 : 0;
}

int os_held_move(OsHeldFolder *from_folder, const char *from, OsHeldFolder *to_folder,
                 const char *to)
{
    if (os_fault_fires(OS_FAULT_RENAME)) {
        errno = EIO;
        return -1;
    }
    char source[OS_NAME_SIZE], target[OS_NAME_SIZE];
    struct stat st;
    if (find_entry(from_folder, from, source, &st) != 0 || !is_entry_name(to))
        return -1;
    int result;
    if (find_entry(to_folder, to, target, &st) != 0) {
        result = rename_no_replace_at(from_folder->fd, source, to_folder->fd, to);
    } else if (from_folder == to_folder && strcmp(source, target) == 0) {
        // A new case for the same name is a rename on Windows, not a clash.
        result = OS_CALL(renameat(from_folder->fd, source, to_folder->fd, to)) == 0 ? 0 : -1;
    } else {
        errno = EEXIST;
        return -1;
    }
    if (result != 0)
        return -1;
    note_change(from_folder);
    if (to_folder != from_folder)
        note_change(to_folder);
    return 0;
}

int os_held_rename(OsHeldFolder *folder, const char *from, const char *to)
{
    return os_held_move(folder, from, folder, to);
}
