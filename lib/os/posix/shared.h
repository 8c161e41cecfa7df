// Inside the POSIX back end only: Windows paths translated into native ones, and native
// ones given back in Windows form; shared by the back end's modules.
#pragma once

#include <stdint.h>
#include <sys/stat.h>

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
