// Name patching: reads the tail of a binary file, finds the NUL-terminated texts that name
// an old bitmap and writes the new bitmap's name over each of them in the file.
#include "patch.h"

#include <string.h>

#include "os.h"
#include "paths.h"

enum { PATCH_WINDOW = 300, CANDIDATE_MAX = 255 };

// Length of a table entry, never looking past its 32 bytes.
static size_t entry_length(const char *entry)
{
    const void *end = memchr(entry, '\0', NAME_SIZE);
    return end ? (size_t)((const char *)end - entry) : (size_t)NAME_SIZE;
}

// Index of the first old name equal to the candidate, or -1.
static int find_old_name(const char *candidate, size_t length, char old_names[][NAME_SIZE])
{
    for (int k = 0; k < NAME_TABLE_ENTRIES && old_names[k][0] != '\0'; k++)
        if (entry_length(old_names[k]) == length && memcmp(old_names[k], candidate, length) == 0)
            return k;
    return -1;
}

// Fills text (length bytes) with the last component of new_name, cut to length or padded
// with NULs. 0, or -1 when that component is empty and nothing is to be written.
static int form_new_text(char *text, size_t length, const char *new_name)
{
    char copy[NAME_SIZE];
    size_t stored = entry_length(new_name);
    if (stored >= NAME_SIZE)
        return -1;
    memcpy(copy, new_name, stored);
    copy[stored] = '\0';
    const char *name = file_name_of(copy);
    size_t count = strlen(name);
    if (count == 0)
        return -1;
    if (count > length)
        count = length;
    memset(text, 0, length);
    memcpy(text, name, count);
    return 0;
}

// Writes length bytes of text at offset. 0, or -1.
static int write_at(int fd, int64_t offset, const char *text, size_t length)
{
    if (os_seek(fd, offset, OS_SEEK_SET) != offset)
        return -1;
    return os_write(fd, text, (uint32_t)length) == (int32_t)length ? 0 : -1;
}

// Reads the window at the file's tail into window; *start gets its offset in the file.
// The window's size in bytes, or -1 when the file could not be read whole.
static int32_t read_window(int fd, char *window, int64_t *start)
{
    int64_t size = os_seek(fd, 0, OS_SEEK_END);
    if (size < 0)
        return -1;
    *start = size > PATCH_WINDOW ? size - PATCH_WINDOW : 0;
    int32_t wanted = (int32_t)(size - *start);
    if (os_seek(fd, *start, OS_SEEK_SET) != *start)
        return -1;
    if (wanted == 0)
        return 0;
    return os_read(fd, window, (uint32_t)wanted) == wanted ? wanted : -1;
}

int32_t patch_names(const char *path, char old_names[][NAME_SIZE], char new_names[][NAME_SIZE])
{
    int fd = os_open(path, OS_OPEN_READ_WRITE);
    if (fd < 0)
        return -1;
    char window[PATCH_WINDOW], text[CANDIDATE_MAX];
    int64_t start = 0;
    int32_t size = read_window(fd, window, &start);
    int32_t patched = size < 0 ? -1 : 0;
    // A candidate runs from the byte after a NUL (or the window's first byte) to a NUL.
    int32_t run_start = 0;
    for (int32_t at = 0; patched >= 0 && at < size; at++) {
        if (window[at] != '\0')
            continue;
        size_t length = (size_t)(at - run_start);
        int k = length > 0 && length <= CANDIDATE_MAX
                    ? find_old_name(window + run_start, length, old_names)
                    : -1;
        if (k >= 0 && form_new_text(text, length, new_names[k]) == 0) {
            if (write_at(fd, start + run_start, text, length) != 0)
                patched = -1;
            else
                patched |= (int32_t)1 << k;
        }
        run_start = at + 1;
    }
    if (os_close(fd) != 0)
        patched = -1;
    return patched;
}
