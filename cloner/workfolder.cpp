// The work folder, the names a job forms in it and the way a name is printed.
#include "workfolder.h"

#include <stdio.h>
#include <string.h>

#include "os.h"
#include "paths.h"
#include "strings.h"
#include "walk.h"

char work_folder[WORK_FOLDER_SIZE] = ".";

const char *const vrl_suffixes_first[6] = {"VA", "VB", "VC", "VD", "VE", "VW"};
const char *const vrl_suffixes_second[14] = {"BLA",  "BLW",  "EXHA", "HLA",  "HLW",
                                             "SHAD", "TLFH", "TLFM", "TLRH", "TLRM",
                                             "TRFH", "TRFM", "TRRH", "TRRM"};

void form_prefixes(const char *archive, char *first, char *second)
{
    char copy[PATH_BUFFER_SIZE];
    snprintf(copy, sizeof copy, "%s", archive);
    const char *name = file_name_of(copy);
    size_t at = 0, first_length = 0, second_length = 0;
    for (int index = 0; index < 6 && name[at] != '\0'; index++) {
        size_t length = (size_t)os_char_length(name, (uint32_t)at);
        if (index < 4) {
            memcpy(first + first_length, name + at, length);
            first_length += length;
        }
        if (index == 0 || index >= 3) {
            memcpy(second + second_length, name + at, length);
            second_length += length;
        }
        at += length;
    }
    first[first_length] = '\0';
    second[second_length] = '\0';
    set_ascii_case(first, ASCII_UPPER);
    set_ascii_case(second, ASCII_UPPER);
}

int tool_name_length(const char *name)
{
    int length = os_ansi_length(name);
    return length >= 0 ? length : (int)os_utf16_length(name);
}

int prefix_beyond_ascii(const char *prefix)
{
    for (const char *c = prefix; *c; c++)
        if ((unsigned char)*c >= 0x80)
            return 1;
    return 0;
}

void to_backslashes(char *text)
{
    for (; *text; text++)
        if (*text == '/')
            *text = '\\';
}

const char *shown(const char *text)
{
    // Every byte may become two; no path the layer gives is longer than OS_PATH_SIZE bytes.
    static char buffers[SHOWN_BUFFERS][2 * OS_PATH_SIZE + 1];
    static int next = 0;
    char *buffer = buffers[next];
    next = (next + 1) % SHOWN_BUFFERS;
    return visible_text(buffer, sizeof buffers[0], text);
}

void say_not_made(const char *new_mas, const char *why)
{
    os_print("%s not made: %s\n", shown(new_mas), why);
}

int remove_scratch_folder(void)
{
    char folder[OS_PATH_SIZE];
    int written = snprintf(folder, sizeof folder, "%s\\tmp", work_folder);
    if (written < 0 || (size_t)written >= sizeof folder)
        return -1;
    os_change_directory(work_folder);
    remove_tree(folder, "*");
    os_change_directory(work_folder);
    os_remove_directory(folder);
    return os_exists(folder) ? -1 : 0;
}

// The scratch folder a job of this run left, held until a later job clears it.
static OsFolderHold left_scratch = {-1, {0, 0}};

void keep_left_scratch_folder(void)
{
    if (left_scratch.handle == -1 && os_folder_hold("tmp", OS_HOLD_SHARED, &left_scratch) != 0)
        left_scratch.handle = -1;
}

int clear_left_scratch_folder(void)
{
    if (left_scratch.handle == -1)
        return 0;
    OsFolderId id, held = left_scratch.id;
    int same = os_is_link("tmp") == 0 && os_folder_id("tmp", &id) == 0 &&
               os_compare_folder_ids(&id, &held) == 0;
    // Released first: a Windows hold keeps the folder itself from being removed.
    os_folder_release(&left_scratch);
    if (!same)
        return 0;
    if (remove_scratch_folder() == 0) {
        os_print("Removed the scratch folder '%s\\tmp' that an earlier job of this run left\n",
                 shown(work_folder));
        return 1;
    }
    OsFolderHold again;
    if (os_folder_hold("tmp", OS_HOLD_SHARED, &again) == 0) {
        if (os_compare_folder_ids(&again.id, &held) == 0)
            left_scratch = again;
        else
            os_folder_release(&again);
    }
    return -1;
}

// Joins folder (as directory_of gives it, "." for none) and name for a message.
static void path_in(char *path, size_t size, const char *folder, const char *name, int bare)
{
    snprintf(path, size, "%s%s%s", bare ? "" : folder, bare ? "" : "\\", name);
}

int case_twin_refused(const char *path)
{
    char copy[PATH_BUFFER_SIZE], folder[PATH_BUFFER_SIZE];
    snprintf(copy, sizeof copy, "%s", path);
    to_backslashes(copy);
    directory_of(folder, copy);
    const char *name = file_name_of(copy);
    int bare = strcmp(name, copy) == 0, exact = 0, alike = 0;
    char other[2][OS_PATH_SIZE];
    OsDirList *list = os_list_open(folder);
    OsDirEntry entry;
    while (list && os_list_next(list, &entry)) {
        if (os_compare_names(entry.name, name) != 0)
            continue;
        if (strcmp(entry.name, name) == 0)
            exact = 1;
        else if (alike < 2)
            path_in(other[alike++], sizeof other[0], folder, entry.name, bare);
    }
    if (list)
        os_list_close(list);
    if (exact && alike > 0)
        os_print("%s is used, not %s: their names differ only in case\n", shown(copy),
               shown(other[0]));
    else if (!exact && alike > 1)
        os_print("%s and %s differ only in case and neither is spelled %s: neither is used\n",
               shown(other[0]), shown(other[1]), shown(name));
    return !exact && alike > 1;
}
