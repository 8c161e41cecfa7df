// The POSIX back end, continued: removal inside a held folder, every step relative to the
// open folder's descriptor, no entry followed.
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
#include <unistd.h>

static const int FOLDER_FLAGS = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

static OsHeldFolder *held_from(int fd, int parent, const char *name)
{
    if (fd < 0)
        return nullptr;
    struct stat st;
    OsHeldFolder *folder = fstat(fd, &st) == 0
                               ? static_cast<OsHeldFolder *>(calloc(1, sizeof(OsHeldFolder)))
                               : nullptr;
    if (!folder) {
        int error = errno;
        close(fd);
        errno = error;
        return nullptr;
    }
    folder->device = st.st_dev;
    folder->inode = st.st_ino;
    folder->fd = fd;
    folder->parent = parent;
    snprintf(folder->name, sizeof folder->name, "%s", name);
    return folder;
}

int is_entry_name(const char *name)
{
    if (!name[0] || strchr(name, '/') || strcmp(name, ".") == 0 || strcmp(name, "..") == 0 ||
        strlen(name) >= sizeof(OsHeldFolder::name)) {
        errno = EINVAL;
        return 0;
    }
    return 1;
}

OsHeldFolder *os_hold_folder(const char *path)
{
    char native[NATIVE_PATH_SIZE];
    if (translate_path(path, native) != 0)
        return nullptr;
    // A trailing slash would make the system follow a link at the last part.
    size_t length = strlen(native);
    while (length > 1 && native[length - 1] == '/')
        native[--length] = '\0';
    // O_NOFOLLOW refuses a link at the last part, O_DIRECTORY anything but a folder.
    return held_from(open(native, FOLDER_FLAGS), -1, "");
}

OsHeldFolder *os_hold_subfolder(OsHeldFolder *folder, const char *name)
{
    if (!is_entry_name(name))
        return nullptr;
    return held_from(openat(folder->fd, name, FOLDER_FLAGS), folder->fd, name);
}

int os_held_next(OsHeldFolder *folder, OsDirEntry *entry)
{
    if (!folder->dir) {
        int listing = openat(folder->fd, ".", FOLDER_FLAGS);
        folder->dir = listing >= 0 ? fdopendir(listing) : nullptr;
        if (!folder->dir) {
            if (listing >= 0)
                close(listing);
            return 0;
        }
        folder->names = names_read_listing(folder->dir);
    }
    const char *name;
    while (folder->names && (name = folder->names[folder->next]) != nullptr) {
        folder->next++;
        struct stat st;
        if (strlen(name) >= sizeof entry->name || strcmp(name, ".") == 0 ||
            strcmp(name, "..") == 0 || fstatat(folder->fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        snprintf(entry->name, sizeof entry->name, "%s", name);
        // As os_list_next gives them: hidden by a leading dot, read-only without write
        // permission for the owner.
        entry->attributes = name[0] == '.' ? OS_ATTR_HIDDEN : 0;
        if (S_ISLNK(st.st_mode))
            entry->attributes |= OS_ATTR_LINK;
        else if (!(st.st_mode & S_IWUSR))
            entry->attributes |= OS_ATTR_READONLY;
        if (S_ISDIR(st.st_mode))
            entry->attributes |= OS_ATTR_DIRECTORY;
        entry->size = !S_ISREG(st.st_mode)         ? 0
                      : st.st_size >= 0xFFFFFFFFLL ? 0xFFFFFFFFu
                                                   : static_cast<uint32_t>(st.st_size);
        return 1;
    }
    return 0;
}

int os_held_delete(OsHeldFolder *folder, const char *name)
{
    struct stat st;
    char found[OS_NAME_SIZE];
    if (find_entry(folder, name, found, &st) != 0)
        return -1;
    if (os_fault_fires(OS_FAULT_DELETE)) {
        errno = EIO;
        return -1;
    }
    // A folder goes with os_release_folder; a read-only file stays, as on Windows.
    if (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR))) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EACCES;
        return -1;
    }
    if (unlinkat(folder->fd, found, 0) != 0)
        return -1;
    folder->changed = 1;
    return 0;
}

int os_held_make_current(OsHeldFolder *folder)
{
    return fchdir(folder->fd) == 0 ? 0 : -1;
}

// Removes the held subfolder from its holding folder while its name still leads to it and it
// is not the current folder. 0, or -1.
static int remove_held(OsHeldFolder *folder)
{
    struct stat held, named, current;
    if (folder->parent < 0 || fstat(folder->fd, &held) != 0 ||
        fstatat(folder->parent, folder->name, &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        named.st_dev != held.st_dev || named.st_ino != held.st_ino) {
        errno = ENOENT;
        return -1;
    }
    if (stat(".", &current) == 0 && current.st_dev == held.st_dev &&
        current.st_ino == held.st_ino) {
        errno = EBUSY;
        return -1;
    }
    return unlinkat(folder->parent, folder->name, AT_REMOVEDIR) == 0 ? 0 : -1;
}

int os_release_folder(OsHeldFolder *folder, int remove)
{
    if (!folder)
        return -1;
    int result = 0;
    if (remove) {
        result = remove_held(folder);
        folder->changed |= result == 0;
    }
    // Removals made here bypass the listings the layer keeps of the folders it looked into.
    if (folder->changed)
        names_forget_all();
    if (folder->dir)
        closedir(folder->dir);
    free(folder->names);
    close(folder->fd);
    free(folder);
    return result;
}
