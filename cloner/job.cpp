// Job execution: unpack the old car archive into "tmp", swap the bitmaps, rename and patch
// the .VRL files, pack "tmp" into the new archive and remove it again.
#include "job.h"

#include <stdio.h>
#include <string.h>

#include "filecopy.h"
#include "os.h"
#include "paths.h"
#include "strings.h"
#include "walk.h"

char work_folder[256] = ".";

const char *const vrl_suffixes_first[6] = {"VA", "VB", "VC", "VD", "VE", "VW"};
const char *const vrl_suffixes_second[14] = {"BLA",  "BLW",  "EXHA", "HLA",  "HLW",
                                             "SHAD", "TLFH", "TLFM", "TLRH", "TLRM",
                                             "TRFH", "TRFM", "TRRH", "TRRM"};

enum { ARCHIVE_NAME_MAX = 31, SHORT_PATH_SIZE = 40, TOOL_LINE_SIZE = 128 };

void upper_case(char *text)
{
    for (; *text; text++)
        if (*text >= 'a' && *text <= 'z')
            *text = (char)(*text - 'a' + 'A');
}

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
    upper_case(first);
    upper_case(second);
}

static const char *skip_blanks(const char *text)
{
    while (*text == ' ')
        text++;
    return text;
}

int fill_name_tables(const char *old_list, const char *new_list, char old_names[][NAME_SIZE],
                     char new_names[][NAME_SIZE])
{
    memset(old_names, 0, NAME_TABLE_ENTRIES * NAME_SIZE);
    memset(new_names, 0, NAME_TABLE_ENTRIES * NAME_SIZE);
    const char *old_next = skip_blanks(old_list);
    const char *new_next = skip_blanks(new_list);
    int count = 0;
    while (*old_next && *new_next && count < NAME_TABLE_ENTRIES - 1) {
        old_next = get_field(old_names[count], old_next, NAME_SIZE, ' ');
        new_next = get_field(new_names[count], new_next, NAME_SIZE, ' ');
        if (old_names[count][0] == '\0') {
            new_names[count][0] = '\0';
            break;
        }
        count++;
    }
    return count;
}

// Writes folder\\name into path. 0, or -1 when it does not fit.
static int join_path(char *path, size_t size, const char *folder, const char *name)
{
    int written = snprintf(path, size, "%s\\%s", folder, name);
    return written >= 0 && (size_t)written < size ? 0 : -1;
}

// Starts the archive tool and waits for it; its exit status is not looked at.
static void run_tool(const char *program, const char *command_line)
{
    int status = 0;
    fflush(stdout);
    if (os_run_program(program, command_line, nullptr, nullptr, nullptr, &status) != 0)
        printf("Cannot start the archive tool %s\n", program);
}

// 1 when the job cannot run as asked: a name or the work folder too long for its buffers,
// or a "tmp" in the work folder that holds files (packing it would take them along and the
// clean-up would delete them). Prints why.
static int job_refused(const char *old_mas, const char *new_mas)
{
    if (strlen(work_folder) > WORK_FOLDER_MAX) {
        printf("Work folder too long (%d characters at most): %s\n", WORK_FOLDER_MAX, work_folder);
        return 1;
    }
    const char *names[2] = {old_mas, new_mas};
    for (const char *name : names)
        if (strlen(name) > ARCHIVE_NAME_MAX) {
            printf("Archive name too long (%d characters at most): %s\n", ARCHIVE_NAME_MAX, name);
            return 1;
        }
    return 0;
}

static int scratch_folder_in_use(void)
{
    OsFileStatus status;
    if (os_file_status("tmp", &status) != 0)
        return 0;
    if (!status.is_directory) {
        printf("'%s\\tmp' is a file: move it away, job skipped\n", work_folder);
        return 1;
    }
    int in_use = 0;
    OsDirList *list = os_list_open("tmp");
    OsDirEntry entry;
    while (list && !in_use && os_list_next(list, &entry))
        in_use = strcmp(entry.name, ".") != 0 && strcmp(entry.name, "..") != 0;
    if (list)
        os_list_close(list);
    if (in_use)
        printf("Folder '%s\\tmp' is not empty: move it away, job skipped\n", work_folder);
    return in_use;
}

// Deletes each old bitmap from "tmp" and copies its new bitmap in under the new name's
// last component. A new name taken as empty keeps the old bitmap, which the .VRL files then
// still name.
static void replace_bitmaps(char old_names[][NAME_SIZE], char new_names[][NAME_SIZE])
{
    for (int k = 0; k < NAME_TABLE_ENTRIES && old_names[k][0] != '\0'; k++) {
        if (new_names[k][0] == '\0') {
            printf("New bitmap name too long (31 characters at most), %s.BMP kept\n", old_names[k]);
            continue;
        }
        char path[SHORT_PATH_SIZE];
        snprintf(path, sizeof path, "tmp\\%s.BMP", old_names[k]);
        os_delete_file(path);
        char source[SHORT_PATH_SIZE], name[NAME_SIZE];
        snprintf(source, sizeof source, "%s.BMP", new_names[k]);
        snprintf(name, sizeof name, "%s", new_names[k]);
        snprintf(path, sizeof path, "tmp\\%s.BMP", file_name_of(name));
        if (copy_file(source, path) == -1)
            printf("File not found: %s.BMP\n", new_names[k]);
    }
}

// Gives "tmp\<old prefix><suffix>.VRL" the new prefix and patches its bitmap names; with
// equal prefixes the file keeps its name and is patched where it is.
static void rename_vrl_file(const char *old_prefix, const char *new_prefix, const char *suffix,
                            char old_names[][NAME_SIZE], char new_names[][NAME_SIZE])
{
    char old_path[SHORT_PATH_SIZE], new_path[SHORT_PATH_SIZE];
    snprintf(old_path, sizeof old_path, "tmp\\%s%s.VRL", old_prefix, suffix);
    snprintf(new_path, sizeof new_path, "tmp\\%s%s.VRL", new_prefix, suffix);
    int found;
    if (strcmp(old_path, new_path) == 0) {
        found = file_exists(old_path);
    } else {
        os_delete_file(new_path);
        found = os_rename_no_replace(old_path, new_path) == 0;
    }
    if (found)
        patch_names(new_path, old_names, new_names);
    else
        printf("File not found: %s%s.VRL\n", old_prefix, suffix);
}

// Builds new_mas from inside "tmp", keeping the tool's leftover files out of it.
static void pack_new_archive(const char *new_mas)
{
    char folder[PATH_BUFFER_SIZE], program[PATH_BUFFER_SIZE], command[TOOL_LINE_SIZE];
    if (join_path(folder, sizeof folder, work_folder, "tmp") != 0 ||
        join_path(program, sizeof program, work_folder, "MASadelic") != 0)
        return;
    if (os_change_directory(folder) != 0) {
        printf("Cannot enter the folder %s, %s not made\n", folder, new_mas);
        return;
    }
    snprintf(command, sizeof command, "MASadelic -C -m:..\\%s", new_mas);
    run_tool(program, command);
    const char *leftovers[2] = {"MASBODY.TMP", "MASHEAD.TMP"};
    for (const char *leftover : leftovers)
        os_delete_file(leftover);
    snprintf(command, sizeof command, "MASadelic -A -m:..\\%s -f:* -i:*", new_mas);
    run_tool(program, command);
}

// Empties and removes "tmp"; the walk leaves that folder current, so it is removed from
// the work folder afterwards.
static void remove_scratch_folder(void)
{
    char folder[PATH_BUFFER_SIZE];
    if (join_path(folder, sizeof folder, work_folder, "tmp") != 0)
        return;
    os_change_directory(work_folder);
    remove_tree(folder, "*");
    os_change_directory(work_folder);
    os_remove_directory(folder);
}

int8_t run_job(const char *old_mas, const char *new_mas, const char *old_bitmaps,
               const char *new_bitmaps)
{
    if (job_refused(old_mas, new_mas))
        return -1;
    if (!file_exists(old_mas)) {
        printf("File not found: %s\n", old_mas);
        return -1;
    }
    if (scratch_folder_in_use())
        return -1;
    os_make_directory("tmp");
    if (!file_exists("MASadelic.exe")) {
        os_remove_directory("tmp");
        printf("File not found: MASadelic.exe\n");
        return -1;
    }
    char command[PATH_BUFFER_SIZE];
    snprintf(command, sizeof command, "MASadelic.exe -E -m:%s -f:* -o:tmp", old_mas);
    run_tool("MASAdelic", command);

    char old_names[NAME_TABLE_ENTRIES][NAME_SIZE], new_names[NAME_TABLE_ENTRIES][NAME_SIZE];
    fill_name_tables(old_bitmaps, new_bitmaps, old_names, new_names);
    replace_bitmaps(old_names, new_names);

    char old_first[5], old_second[5], new_first[5], new_second[5];
    form_prefixes(old_mas, old_first, old_second);
    form_prefixes(new_mas, new_first, new_second);
    for (const char *suffix : vrl_suffixes_first)
        rename_vrl_file(old_first, new_first, suffix, old_names, new_names);
    for (const char *suffix : vrl_suffixes_second)
        rename_vrl_file(old_second, new_second, suffix, old_names, new_names);

    os_delete_file(new_mas);
    pack_new_archive(new_mas);
    remove_scratch_folder();
    return 0;
}
