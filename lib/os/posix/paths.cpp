// The POSIX back end, continued: paths resolved as Windows resolves them (full paths,
// links followed or recognised).
#include "os.h"
#include "os_common.h"
#include "names.h"
#include "shared.h"

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
