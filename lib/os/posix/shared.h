// Inside the POSIX back end only: Windows paths translated into native ones, and native
// ones given back in Windows form, and the held folder's record; shared by the back end's
// modules.
#pragma once

#include <dirent.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/stat.h>

#include "os.h"

// What translate_path's name lookup learned about the path.
struct NativeLookup {
    int found;      // NAMES_* (os_posix_names.h)
    struct stat st; // with NAMES_EXISTS, the entry's lstat
};

// The text part of translate_path alone: backslashes become slashes and "Z:" the root, with no
// name looked up. 0, or -1 with errno set.
int translate_text(const char *path, char *out);

// Translates a Windows path into a native one in out (NATIVE_PATH_SIZE bytes): backslashes
// become slashes, "Z:" is the root, any other drive names nothing, names take the case of
// existing entries and a last component that does not exist as written loses the dots and
// blanks it ends with (os_posix_names.h). 0, or -1 with errno set. When lookup is given, it
// receives what the name lookup learned on the way.
int translate_path(const char *path, char *out, int keep_last = 0, NativeLookup *lookup = nullptr);

// The status of a translated path, from its lookup when that saw no symbolic link (whose
// target stat would report). 0, or -1 with errno set.
int status_of(const char *native, const NativeLookup *lookup, struct stat *st);

// Writes a native absolute path in 'Z:\a\b' form. 0, or -1 when it does not fit (buffer "").
int to_windows_path(const char *native, char *buffer, uint32_t size);

// Renames from, relative to the folder descriptor from_folder, to to, relative to to_folder
// (AT_FDCWD: the current folder), never replacing an existing entry and never following a
// link at either. 0, or -1 with errno set.
int rename_no_replace_at(int from_folder, const char *from, int to_folder, const char *to);

// A folder held (remove.cpp), and worked in through its descriptor (held.cpp).
struct OsHeldFolder {
    int fd;         // the folder, opened without following a link
    int parent;     // the holding folder's descriptor, borrowed; -1 for os_hold_folder
    char name[OS_NAME_SIZE]; // the name in the holding folder
    DIR *dir;       // over a second descriptor of the folder, once listed
    char **names;   // its names in listing order (names_read_listing)
    size_t next;    // the next name to hand out
    int changed;    // 1 once an entry was removed: the layer's listings are dropped
    dev_t device;   // with inode, the folder's identity, taken when it was held
    ino_t inode;
    int reached;    // 1 once "/proc/self/fd/<fd>" is known to reach it, -1 when not, 0 unknown
};

// 1 when name is one entry of a folder: not empty, no separator, not "." or "..", and short
// enough for OsHeldFolder::name; else 0 with errno EINVAL.
int is_entry_name(const char *name);

// Fills file's status, identity and link count from st (the open descriptor's fstat).
void take_handle_status(OsOpenFile *file, const struct stat *st);

// Finds the entry name of the held folder as written, else the first one alike without regard
// to case in listing order (the lowest in byte order): its name into found (OS_NAME_SIZE
// bytes) and its own status (a link as itself) into *st. 0, or -1 with errno set.
int find_entry(OsHeldFolder *folder, const char *name, char *found, struct stat *st);
