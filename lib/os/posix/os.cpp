// The OS layer over POSIX (Linux): Windows paths are translated to native ones, names are
// looked up without regard to case, and processes, listings and renames behave as the
// Windows services the programs were written for.
#include "os.h"
#include "os_common.h"
#include "names.h"
#include "shared.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

// ---- Fault injection -----------------------------------------------------------------

// 1 when this call of the kind is the armed one; the failure then reads as an I/O error.
static int fault_fires(int kind)
{
    if (!os_fault_fires(kind))
        return 0;
    errno = EIO;
    return 1;
}

// ---- Path translation ----------------------------------------------------------------

int translate_text(const char *path, char *out)
{
    size_t length = 0;
    if (((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
        path[1] == ':') {
        if (path[0] != 'Z' && path[0] != 'z') {
            errno = ENOENT;
            return -1;
        }
        out[length++] = '/';
        path += 2;
        while (*path == '\\' || *path == '/')
            path++;
    }
    for (; *path; path++) {
        if (length + 1 >= NATIVE_PATH_SIZE) {
            errno = ENAMETOOLONG;
            return -1;
        }
        out[length++] = *path == '\\' ? '/' : *path;
    }
    out[length] = '\0';
    return 0;
}

int translate_path(const char *path, char *out, int keep_last, NativeLookup *lookup)
{
    if (translate_text(path, out) != 0)
        return -1;
    NativeLookup ignored;
    if (!lookup)
        lookup = &ignored;
    lookup->found = names_resolve_case(out, keep_last, &lookup->st);
    return 0;
}

int status_of(const char *native, const NativeLookup *lookup, struct stat *st)
{
    if (lookup->found == NAMES_MISSING) {
        errno = ENOENT;
        return -1;
    }
    if (lookup->found == NAMES_EXISTS && !S_ISLNK(lookup->st.st_mode)) {
        *st = lookup->st;
        return 0;
    }
    return OS_CALL(stat(native, st));
}

int to_windows_path(const char *native, char *buffer, uint32_t size)
{
    if (size == 0)
        return -1;
    buffer[0] = '\0';
    while (*native == '/')
        native++;
    size_t length = strlen(native);
    while (length > 0 && native[length - 1] == '/')
        length--;
    if (3 + length + 1 > size)
        return -1;
    memcpy(buffer, "Z:\\", 3);
    for (size_t i = 0; i < length; i++)
        buffer[3 + i] = native[i] == '/' ? '\\' : native[i];
    buffer[3 + length] = '\0';
    return 0;
}

// ---- File status ----------------------------------------------------------------------

int os_file_status(const char *path, OsFileStatus *status)
{
    char native[NATIVE_PATH_SIZE];
    NativeLookup lookup;
    struct stat st;
    if (translate_path(path, native, 0, &lookup) != 0 || status_of(native, &lookup, &st) != 0)
        return -1;
    status->is_directory = S_ISDIR(st.st_mode) ? 1 : 0;
    status->is_file = S_ISREG(st.st_mode) ? 1 : 0;
    status->size = st.st_size >= 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<uint32_t>(st.st_size);
    if (status->is_directory)
        status->size = 0;
    return 0;
}

int os_exists(const char *path)
{
    OsFileStatus status;
    return os_file_status(path, &status) == 0 ? 1 : 0;
}

const char *os_error_text(char *buffer, uint32_t size)
{
    if (size > 0)
        snprintf(buffer, size, "%s", strerror(errno));
    return buffer;
}

// ---- Descriptors, always binary ------------------------------------------------------

// Windows opens no folder as a file; Linux lets a folder be opened for reading (for writing
// it refuses, so only descriptors opened read-only need the check).
static int is_open_directory(int fd)
{
    struct stat st;
    if (OS_CALL(fstat(fd, &st)) != 0 || !S_ISDIR(st.st_mode))
        return 0;
    errno = EISDIR;
    return 1;
}

// 1 when the lookup just saw a regular file at the path: an open of it gives no folder. (A
// folder put in its place since then opens, as a folder would have opened a moment later.)
static int is_plain_file(const NativeLookup *lookup)
{
    return lookup->found == NAMES_EXISTS && S_ISREG(lookup->st.st_mode);
}

// Windows refuses to write to or delete a read-only file even for an administrator; here
// a file without write permission for its owner is read-only, and root is refused too.
static int is_read_only_file(const char *native, const NativeLookup *lookup)
{
    struct stat st;
    if (status_of(native, lookup, &st) != 0 || S_ISDIR(st.st_mode) || (st.st_mode & S_IWUSR))
        return 0;
    errno = EACCES;
    return 1;
}

int os_open(const char *path, int flags)
{
    if ((flags & (OS_OPEN_CREATE | OS_OPEN_TRUNCATE)) && fault_fires(OS_FAULT_CREATE))
        return -1;
    char native[NATIVE_PATH_SIZE];
    NativeLookup lookup;
    if (translate_path(path, native, 0, &lookup) != 0)
        return -1;
    if ((flags & (OS_OPEN_READ_WRITE | OS_OPEN_TRUNCATE)) && is_read_only_file(native, &lookup))
        return -1;
    int native_flags = (flags & OS_OPEN_READ_WRITE) ? O_RDWR : O_RDONLY;
    if (flags & OS_OPEN_CREATE)
        native_flags |= O_CREAT;
    if (flags & OS_OPEN_TRUNCATE)
        native_flags |= O_TRUNC;
    if (flags & OS_OPEN_APPEND)
        native_flags |= O_APPEND;
    int creates = (flags & OS_OPEN_CREATE) && lookup.found == NAMES_MISSING;
    if (creates)
        names_before_change(native);
    int fd = OS_CALL(open(native, native_flags | O_CLOEXEC, 0600));
    if (fd >= 0 && creates)
        names_after_change(native, 1);
    if (fd >= 0 && native_flags == O_RDONLY && !is_plain_file(&lookup) && is_open_directory(fd)) {
        close(fd);
        return -1;
    }
    return fd;
}

int32_t os_read(int fd, void *buffer, uint32_t count)
{
    if (fault_fires(OS_FAULT_READ))
        return -1;
    ssize_t result;
    do
        result = OS_CALL(read(fd, buffer, count));
    while (result < 0 && errno == EINTR);
    return static_cast<int32_t>(result);
}

int32_t os_write(int fd, const void *buffer, uint32_t count)
{
    if (fault_fires(OS_FAULT_WRITE))
        return -1;
    ssize_t result;
    do
        result = OS_CALL(write(fd, buffer, count));
    while (result < 0 && errno == EINTR);
    return static_cast<int32_t>(result);
}

int64_t os_seek(int fd, int64_t offset, int whence)
{
    static const int origins[] = {SEEK_SET, SEEK_CUR, SEEK_END};
    if (whence < 0 || whence > 2)
        return -1;
    return static_cast<int64_t>(OS_CALL(lseek(fd, static_cast<off_t>(offset), origins[whence])));
}

int os_close(int fd)
{
    return OS_CALL(close(fd)) == 0 ? 0 : -1;
}

// ---- Streams -------------------------------------------------------------------------

FILE *os_open_stream(const char *path, const char *mode)
{
    char native_mode[8];
    size_t length = 0;
    for (const char *m = mode; *m && length < 4; m++)
        if (*m != 'b' && *m != 't')
            native_mode[length++] = *m;
    native_mode[length++] = 'b';
    native_mode[length++] = 'e';
    native_mode[length] = '\0';
    if (strpbrk(native_mode, "wa+") && fault_fires(OS_FAULT_CREATE))
        return nullptr;
    char native[NATIVE_PATH_SIZE];
    NativeLookup lookup;
    if (translate_path(path, native, 0, &lookup) != 0)
        return nullptr;
    int writes = strpbrk(native_mode, "wa+") != nullptr;
    if (writes && is_read_only_file(native, &lookup))
        return nullptr;
    int creates = strpbrk(native_mode, "wa") && lookup.found == NAMES_MISSING;
    if (creates)
        names_before_change(native);
    FILE *stream = fopen(native, native_mode);
    if (stream && creates)
        names_after_change(native, 1);
    if (stream && !writes && !is_plain_file(&lookup) && is_open_directory(fileno(stream))) {
        fclose(stream);
        errno = EISDIR;
        return nullptr;
    }
    return stream;
}

int os_close_stream(FILE *stream)
{
    int failed = fault_fires(OS_FAULT_WRITE);
    if (fclose(stream) != 0)
        failed = 1;
    return failed ? -1 : 0;
}

// ---- Folders and files ---------------------------------------------------------------

int os_get_current_directory(char *buffer, uint32_t size)
{
    char native[NATIVE_PATH_SIZE];
    if (size > 0)
        buffer[0] = '\0';
    if (!getcwd(native, sizeof native))
        return -1;
    return to_windows_path(native, buffer, size);
}

int os_change_directory(const char *path)
{
    char native[NATIVE_PATH_SIZE];
    if (translate_path(path, native) != 0)
        return -1;
    return chdir(native) == 0 ? 0 : -1;
}

int os_make_directory(const char *path)
{
    if (fault_fires(OS_FAULT_CREATE))
        return -1;
    char native[NATIVE_PATH_SIZE];
    if (translate_path(path, native) != 0)
        return -1;
    names_before_change(native);
    if (mkdir(native, 0777) != 0)
        return -1;
    names_after_change(native, 1);
    return 0;
}

int os_remove_directory(const char *path)
{
    char native[NATIVE_PATH_SIZE];
    struct stat target, current;
    if (translate_path(path, native) != 0 || stat(native, &target) != 0)
        return -1;
    // Windows keeps the current folder open, so removing it fails there.
    if (stat(".", &current) == 0 && current.st_dev == target.st_dev &&
        current.st_ino == target.st_ino) {
        errno = EBUSY;
        return -1;
    }
    names_before_change(native);
    if (rmdir(native) != 0)
        return -1;
    names_after_change(native, 0);
    return 0;
}

int os_delete_file(const char *path)
{
    if (fault_fires(OS_FAULT_DELETE))
        return -1;
    char native[NATIVE_PATH_SIZE];
    NativeLookup lookup;
    if (translate_path(path, native, 0, &lookup) != 0 || is_read_only_file(native, &lookup))
        return -1;
    names_before_change(native);
    if (OS_CALL(unlink(native)) != 0)
        return -1;
    names_after_change(native, 0);
    return 0;
}

// Renames without replacing where the kernel or file system has no RENAME_NOREPLACE: a
// hard link (of a link itself, never what it leads to) fails on an existing target; folders
// cannot be linked, so they are checked.
static int rename_by_link(int folder, const char *from, const char *to)
{
    struct stat st;
    if (fstatat(folder, from, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return -1;
    if (S_ISDIR(st.st_mode)) {
        if (fstatat(folder, to, &st, AT_SYMLINK_NOFOLLOW) == 0) {
            errno = EEXIST;
            return -1;
        }
        return renameat(folder, from, folder, to) == 0 ? 0 : -1;
    }
    if (linkat(folder, from, folder, to, 0) != 0)
        return -1;
    if (unlinkat(folder, from, 0) != 0) {
        int saved = errno;
        unlinkat(folder, to, 0);
        errno = saved;
        return -1;
    }
    return 0;
}

int rename_no_replace_at(int folder, const char *from, const char *to)
{
#ifdef SYS_renameat2
    const unsigned int no_replace = 1; // RENAME_NOREPLACE
    if (syscall(SYS_renameat2, folder, from, folder, to, no_replace) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return -1;
#endif
    return rename_by_link(folder, from, to);
}

int os_rename_no_replace(const char *from, const char *to)
{
    if (fault_fires(OS_FAULT_RENAME))
        return -1;
    char native_from[NATIVE_PATH_SIZE], native_to[NATIVE_PATH_SIZE];
    if (translate_path(from, native_from) != 0 || translate_path(to, native_to) != 0)
        return -1;
    // A new case for the same name is a rename on Windows, not a clash.
    int new_case = strcmp(native_from, native_to) == 0;
    if (new_case && translate_path(to, native_to, 1) != 0)
        return -1;
    names_before_change(native_from);
    names_before_change(native_to);
    int result = new_case ? (rename(native_from, native_to) == 0 ? 0 : -1)
                          : rename_no_replace_at(AT_FDCWD, native_from, native_to);
    if (result != 0)
        return -1;
    names_after_change(native_from, 0);
    names_after_change(native_to, 1);
    return 0;
}

int os_same_file(const char *first, const char *second)
{
    char native_first[NATIVE_PATH_SIZE], native_second[NATIVE_PATH_SIZE];
    NativeLookup first_lookup, second_lookup;
    struct stat a, b;
    if (translate_path(first, native_first, 0, &first_lookup) != 0 ||
        translate_path(second, native_second, 0, &second_lookup) != 0 ||
        status_of(native_first, &first_lookup, &a) != 0 ||
        status_of(native_second, &second_lookup, &b) != 0)
        return 0;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino ? 1 : 0;
}

int os_set_attributes(const char *path, int32_t attributes)
{
    char native[NATIVE_PATH_SIZE];
    struct stat st;
    if (translate_path(path, native) != 0 || stat(native, &st) != 0)
        return -1;
    mode_t mode = st.st_mode & 07777;
    if (attributes & OS_ATTR_READONLY)
        mode &= ~static_cast<mode_t>(0222);
    else
        mode |= S_IWUSR;
    if (mode == (st.st_mode & 07777))
        return 0;
    return chmod(native, mode) == 0 ? 0 : -1;
}

int os_make_executable(const char *path)
{
    char native[NATIVE_PATH_SIZE];
    if (translate_path(path, native) != 0)
        return -1;
    return chmod(native, 0755) == 0 ? 0 : -1;
}

// ---- Folder listing ------------------------------------------------------------------

struct OsDirList {
    DIR *dir;
    char **names; // in the order they are listed (names_read_listing)
    size_t next;
    char path[NATIVE_PATH_SIZE]; // the folder, with a trailing slash
    size_t length;
};

OsDirList *os_list_open(const char *directory)
{
    char native[NATIVE_PATH_SIZE];
    if (translate_path(directory, native) != 0)
        return nullptr;
    size_t length = strlen(native);
    if (length == 0)
        native[length++] = '.';
    if (native[length - 1] != '/') {
        if (length + 1 >= NATIVE_PATH_SIZE)
            return nullptr;
        native[length++] = '/';
    }
    native[length] = '\0';
    OsDirList *list = static_cast<OsDirList *>(malloc(sizeof(OsDirList)));
    if (!list)
        return nullptr;
    list->dir = OS_CALL(opendir(native));
    list->names = list->dir ? names_read_listing(list->dir) : nullptr;
    if (!list->names) {
        if (list->dir)
            closedir(list->dir);
        free(list);
        return nullptr;
    }
    list->next = 0;
    memcpy(list->path, native, length + 1);
    list->length = length;
    return list;
}

// Attributes as Windows would show them: a name that begins with "." is hidden, an entry
// its owner cannot write is read-only.
static int32_t attributes_of(const char *name, const struct stat *st)
{
    int32_t attributes = 0;
    if (name[0] == '.' && strcmp(name, ".") != 0 && strcmp(name, "..") != 0)
        attributes |= OS_ATTR_HIDDEN;
    if (!(st->st_mode & S_IWUSR))
        attributes |= OS_ATTR_READONLY;
    if (S_ISDIR(st->st_mode))
        attributes |= OS_ATTR_DIRECTORY;
    return attributes;
}

int os_list_next(OsDirList *list, OsDirEntry *entry)
{
    const char *name;
    while ((name = list->names[list->next]) != nullptr) {
        list->next++;
        size_t name_length = strlen(name);
        if (name_length >= sizeof entry->name || list->length + name_length >= NATIVE_PATH_SIZE)
            continue;
        // Relative to the open folder: no walk down the whole path for each entry.
        struct stat st;
        int folder = dirfd(list->dir);
        if (OS_CALL(fstatat(folder, name, &st, 0)) != 0 &&
            fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        memcpy(entry->name, name, name_length + 1);
        entry->attributes = attributes_of(name, &st);
        entry->size = S_ISDIR(st.st_mode)          ? 0
                      : st.st_size >= 0xFFFFFFFFLL ? 0xFFFFFFFFu
                                                   : static_cast<uint32_t>(st.st_size);
        return 1;
    }
    return 0;
}

void os_list_close(OsDirList *list)
{
    if (!list)
        return;
    OS_CALL(closedir(list->dir));
    free(list->names);
    free(list);
}

// ---- Temporary folders (tests and tools) ---------------------------------------------

int os_make_temp_directory(char *buffer, uint32_t size)
{
    if (size > 0)
        buffer[0] = '\0';
    const char *base = getenv("TMPDIR");
    if (!base || base[0] != '/')
        base = "/tmp";
    size_t length = strlen(base);
    while (length > 1 && base[length - 1] == '/')
        length--;
    char native[NATIVE_PATH_SIZE];
    int written = snprintf(native, sizeof native, "%.*s/os-XXXXXX", static_cast<int>(length), base);
    if (written < 0 || written >= NATIVE_PATH_SIZE)
        return -1;
    names_before_change(native);
    if (!mkdtemp(native))
        return -1;
    names_after_change(native, 1);
    if (to_windows_path(native, buffer, size) != 0) {
        rmdir(native);
        return -1;
    }
    return 0;
}
