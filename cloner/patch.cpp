// Name patching: reads the tail of a binary file, finds the NUL-terminated texts that name
// an old bitmap and writes the new bitmap's name over each of them in the file.
#include "patch.h"

#include <string.h>

#include "os.h"
#include "paths.h"

enum { PATCH_WINDOW = 300, CANDIDATE_MAX = 255 };

// Length of a table entry, never looking past its NAME_SIZE bytes.
static size_t entry_length(const char *entry)
{
    const void *end = memchr(entry, '\0', NAME_SIZE);
    return end ? (size_t)((const char *)end - entry) : (size_t)NAME_SIZE;
}

// The tables in the form the file holds: each old name, and the last path component of each
// new name, in the ANSI code page; "" where a name has none (or, for a new name, is empty).
struct GameTables {
    char old_names[NAME_TABLE_ENTRIES][NAME_SIZE];
    char new_names[NAME_TABLE_ENTRIES][NAME_SIZE];
    int count; // the pairs up to the old table's first empty entry
};

// Copies a table entry into text (NAME_SIZE bytes), terminated; "" when it fills the entry.
static void copy_entry(char *text, const char *entry)
{
    size_t length = entry_length(entry);
    if (length >= NAME_SIZE)
        length = 0;
    memcpy(text, entry, length);
    text[length] = '\0';
}

// Fills *game from the job's tables, up to the old table's first empty entry.
static void form_game_tables(GameTables *game, char old_names[][NAME_SIZE],
                             char new_names[][NAME_SIZE])
{
    game->count = 0;
    for (int k = 0; k < NAME_TABLE_ENTRIES && old_names[k][0] != '\0'; k++) {
        char new_name[NAME_SIZE];
        copy_entry(game->old_names[k], old_names[k]);
        copy_entry(new_name, new_names[k]);
        // The component is cut before conversion: a double-byte character may end in "\".
        const char *last = file_name_of(new_name);
        memmove(game->new_names[k], last, strlen(last) + 1);
        if (os_utf8_to_ansi(game->old_names[k], NAME_SIZE) != 0)
            game->old_names[k][0] = '\0';
        if (os_utf8_to_ansi(game->new_names[k], NAME_SIZE) != 0)
            game->new_names[k][0] = '\0';
        game->count++;
    }
}

// Index of the first old name equal to the candidate, or -1.
static int find_old_name(const char *candidate, size_t length, const GameTables *game)
{
    for (int k = 0; k < game->count; k++)
        if (strlen(game->old_names[k]) == length &&
            memcmp(game->old_names[k], candidate, length) == 0)
            return k;
    return -1;
}

// Fills text (length bytes) with a new name, cut to length or padded with NULs. 0, or -1
// when the name is empty and nothing is to be written.
static int form_new_text(char *text, size_t length, const char *name)
{
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
    int32_t patched = patch_open_file(fd, old_names, new_names);
    if (os_close(fd) != 0)
        patched = -1;
    return patched;
}

int32_t patch_open_file(int fd, char old_names[][NAME_SIZE], char new_names[][NAME_SIZE])
{
    GameTables game;
    form_game_tables(&game, old_names, new_names);
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
                    ? find_old_name(window + run_start, length, &game)
                    : -1;
        if (k >= 0 && form_new_text(text, length, game.new_names[k]) == 0) {
            if (write_at(fd, start + run_start, text, length) != 0)
                patched = -1;
            else
                patched |= (int32_t)1 << k;
        }
        run_start = at + 1;
    }
    return patched;
}
