// The work folder, the names a job forms in it and the way a name is printed.
#include "workfolder.h"

#include <stdio.h>
#include <string.h>

#include "os.h"
#include "paths.h"
#include "strings.h"
#include "walk.h"

char work_folder[256] = ".";

const char *const vrl_suffixes_first[6] = {"VA", "VB", "VC", "VD", "VE", "VW"};
const char *const vrl_suffixes_second[14] = {"BLA",  "BLW",  "EXHA", "HLA",  "HLW",
                                             "SHAD", "TLFH", "TLFM", "TLRH", "TLRM",
                                             "TRFH", "TRFM", "TRRH", "TRRM"};

void form_prefixes(const char *archive, char *first, char *second)
{
    char copy[PATH_BUFFER_SIZE];
    snprintf(copy, sizeof copy, "%s", archive);
    const char *name = file_name_of(copy);
    size_t length = strlen(name);
    size_t n = length < 4 ? length : 4;
    memcpy(first, name, n);
    first[n] = '\0';
    n = 0;
    if (length > 0)
        second[n++] = name[0];
    for (size_t i = 3; i < 6 && i < length; i++)
        second[n++] = name[i];
    second[n] = '\0';
    set_ascii_case(first, ASCII_UPPER);
    set_ascii_case(second, ASCII_UPPER);
}

void to_backslashes(char *text)
{
    for (; *text; text++)
        if (*text == '/')
            *text = '\\';
}

const char *shown(const char *text)
{
    // Every byte may become two; names and fields hold at most 255 characters.
    static char buffers[SHOWN_BUFFERS][2 * 256 + 1];
    static int next = 0;
    char *buffer = buffers[next];
    next = (next + 1) % SHOWN_BUFFERS;
    return visible_text(buffer, sizeof buffers[0], text);
}

void say_not_made(const char *new_mas, const char *why)
{
    printf("%s not made: %s\n", shown(new_mas), why);
}

int remove_scratch_folder(void)
{
    char folder[PATH_BUFFER_SIZE];
    int written = snprintf(folder, sizeof folder, "%s\\tmp", work_folder);
    if (written < 0 || (size_t)written >= sizeof folder)
        return -1;
    os_change_directory(work_folder);
    remove_tree(folder, "*");
    os_change_directory(work_folder);
    os_remove_directory(folder);
    return os_exists(folder) ? -1 : 0;
}
