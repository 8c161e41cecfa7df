// Name patching: scans the tail of a binary file for NUL-terminated texts and overwrites
// those that name an old bitmap with the new bitmap's name.
#include "patch.h"

#include <string.h>

#include "os.h"
#include "paths.h"

enum { PATCH_WINDOW = 300, CANDIDATE_SIZE = 256 };

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

// Writes the last component of new_name over the candidate of the given length that ends
// just before the current position, padding with NULs; leaves the position at its NUL.
static void write_name(FILE *file, size_t length, const char *new_name)
{
    char copy[NAME_SIZE];
    size_t stored = entry_length(new_name);
    if (stored >= NAME_SIZE)
        return;
    memcpy(copy, new_name, stored);
    copy[stored] = '\0';
    const char *name = file_name_of(copy);
    size_t count = strlen(name);
    if (count == 0)
        return;
    if (count > length)
        count = length;
    char text[CANDIDATE_SIZE];
    memset(text, 0, sizeof text);
    memcpy(text, name, count);
    if (fseek(file, -(long)(length + 1), SEEK_CUR) != 0)
        return;
    fwrite(text, 1, length, file);
    // A stream that was written needs a positioning call before it is read again.
    fseek(file, 0, SEEK_CUR);
}

void patch_names(const char *path, char old_names[][NAME_SIZE], char new_names[][NAME_SIZE])
{
    FILE *file = os_open_stream(path, "rb+");
    if (!file)
        return;
    long start = 0;
    if (fseek(file, 0, SEEK_END) == 0) {
        long size = ftell(file);
        start = size > PATCH_WINDOW ? size - PATCH_WINDOW : 0;
    }
    fseek(file, start, SEEK_SET);
    char candidate[CANDIDATE_SIZE];
    size_t length = 0;
    int too_long = 0;
    int c;
    while ((c = fgetc(file)) != EOF) {
        if (c != '\0') {
            if (length < CANDIDATE_SIZE - 1)
                candidate[length++] = (char)c;
            else
                too_long = 1;
            continue;
        }
        if (length > 0 && !too_long) {
            int k = find_old_name(candidate, length, old_names);
            if (k >= 0)
                write_name(file, length, new_names[k]);
        }
        length = 0;
        too_long = 0;
    }
    os_close_stream(file);
}
