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

// An earlier NEW_MAS is moved to NEW_MAS.bak, or .bak2 to .bak9 when that name is taken;
// 31 characters and ".bak9" fit in SHORT_PATH_SIZE.
enum { ASIDE_NAMES = 9 };

// The earlier archive of a job while the new one is built.
struct ArchiveAside {
    int moved;                  // 1 when the earlier NEW_MAS now lies under name
    int in_place;               // 1 when OLD_MAS and NEW_MAS were one file before the job
    char name[SHORT_PATH_SIZE]; // the aside name, NEW_MAS plus a ".bak" suffix
};

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

int is_plain_name(const char *name)
{
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
        return 0;
    return name[0] != '\0' && strpbrk(name, "\\/:") == nullptr;
}

int drop_foreign_names(char old_names[][NAME_SIZE], char new_names[][NAME_SIZE])
{
    int kept = 0;
    for (int k = 0; k < NAME_TABLE_ENTRIES && old_names[k][0] != '\0'; k++) {
        if (!is_plain_name(old_names[k])) {
            printf("Old bitmap name is not a name inside the archive, pair skipped: %s\n",
                   old_names[k]);
            continue;
        }
        if (kept != k) {
            memcpy(old_names[kept], old_names[k], NAME_SIZE);
            memcpy(new_names[kept], new_names[k], NAME_SIZE);
        }
        kept++;
    }
    for (int k = kept; k < NAME_TABLE_ENTRIES; k++)
        old_names[k][0] = new_names[k][0] = '\0';
    return kept;
}

// 1 when snprintf wrote its whole text into a buffer of size bytes.
static int fits(int written, size_t size)
{
    return written >= 0 && (size_t)written < size;
}

// Writes folder\\name into path. 0, or -1 when it does not fit.
static int join_path(char *path, size_t size, const char *folder, const char *name)
{
    return fits(snprintf(path, size, "%s\\%s", folder, name), size) ? 0 : -1;
}

// Starts the archive tool and waits for it. 0 when it ran and ended with status 0, else -1.
// Only ever a reason to doubt the archive: a status 0 alone proves nothing.
static int run_tool(const char *program, const char *command_line)
{
    int status = 0;
    fflush(stdout);
    if (os_run_program(program, command_line, nullptr, nullptr, nullptr, &status) != 0) {
        printf("Cannot start the archive tool %s\n", program);
        return -1;
    }
    return status == 0 ? 0 : -1;
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
// still name. Result: the number of new bitmaps that could not be copied.
static int replace_bitmaps(char old_names[][NAME_SIZE], char new_names[][NAME_SIZE])
{
    int failures = 0;
    for (int k = 0; k < NAME_TABLE_ENTRIES && old_names[k][0] != '\0'; k++) {
        if (new_names[k][0] == '\0') {
            printf("New bitmap name too long (31 characters at most), %s.BMP kept\n", old_names[k]);
            continue;
        }
        // Names of at most 31 characters always fit these buffers.
        char path[SHORT_PATH_SIZE], source[SHORT_PATH_SIZE], name[NAME_SIZE];
        if (!fits(snprintf(path, sizeof path, "tmp\\%s.BMP", old_names[k]), sizeof path))
            continue;
        os_delete_file(path);
        memcpy(name, new_names[k], sizeof name);
        name[sizeof name - 1] = '\0';
        if (!fits(snprintf(source, sizeof source, "%s.BMP", new_names[k]), sizeof source) ||
            !fits(snprintf(path, sizeof path, "tmp\\%s.BMP", file_name_of(name)), sizeof path) ||
            copy_file(source, path) == -1) {
            printf("File not found: %s.BMP\n", new_names[k]);
            failures++;
        }
    }
    return failures;
}

// Gives "tmp\<old prefix><suffix>.VRL" the new prefix and patches its bitmap names; with
// equal prefixes the file keeps its name and is patched where it is. Result: -1 when the
// file was there but could not be renamed (the new archive then lacks its new name), else 0.
static int rename_vrl_file(const char *old_prefix, const char *new_prefix, const char *suffix,
                           char old_names[][NAME_SIZE], char new_names[][NAME_SIZE])
{
    char old_path[SHORT_PATH_SIZE], new_path[SHORT_PATH_SIZE];
    snprintf(old_path, sizeof old_path, "tmp\\%s%s.VRL", old_prefix, suffix);
    snprintf(new_path, sizeof new_path, "tmp\\%s%s.VRL", new_prefix, suffix);
    int found = file_exists(old_path);
    if (strcmp(old_path, new_path) != 0) {
        // Files that are not there are neither deleted nor renamed: that would change nothing.
        if (os_exists(new_path))
            os_delete_file(new_path);
        found = found && os_rename_no_replace(old_path, new_path) == 0;
    }
    if (found) {
        patch_names(new_path, old_names, new_names);
        return 0;
    }
    printf("File not found: %s%s.VRL\n", old_prefix, suffix);
    return file_exists(old_path) ? -1 : 0;
}

// Builds new_mas from inside "tmp", keeping the tool's leftover files out of it. Result: 0,
// or -1 when a tool call could not start or reported a failure.
static int pack_new_archive(const char *new_mas)
{
    char folder[PATH_BUFFER_SIZE], program[PATH_BUFFER_SIZE], command[TOOL_LINE_SIZE];
    if (join_path(folder, sizeof folder, work_folder, "tmp") != 0 ||
        join_path(program, sizeof program, work_folder, "MASadelic") != 0)
        return -1;
    if (os_change_directory(folder) != 0) {
        printf("Cannot enter the folder %s, %s not made\n", folder, new_mas);
        return -1;
    }
    snprintf(command, sizeof command, "MASadelic -C -m:..\\%s", new_mas);
    int result = run_tool(program, command);
    const char *leftovers[2] = {"MASBODY.TMP", "MASHEAD.TMP"};
    for (const char *leftover : leftovers)
        os_delete_file(leftover);
    snprintf(command, sizeof command, "MASadelic -A -m:..\\%s -f:* -i:*", new_mas);
    if (run_tool(program, command) != 0)
        result = -1;
    return result;
}

// Moves an existing new_mas to a free aside name, from the work folder, so that the job
// never deletes an archive before its replacement exists. 0 when nothing is in the way any
// more; -1 (said) when no aside name is free or the rename failed: new_mas stays as it is.
static int move_aside(const char *new_mas, ArchiveAside *aside)
{
    aside->moved = 0;
    aside->name[0] = '\0';
    if (!os_exists(new_mas))
        return 0;
    for (int n = 1; n <= ASIDE_NAMES; n++) {
        int written = n == 1 ? snprintf(aside->name, sizeof aside->name, "%s.bak", new_mas)
                             : snprintf(aside->name, sizeof aside->name, "%s.bak%d", new_mas, n);
        if (written < 0 || (size_t)written >= sizeof aside->name)
            break;
        if (os_exists(aside->name))
            continue;
        aside->moved = os_rename_no_replace(new_mas, aside->name) == 0;
        break;
    }
    if (aside->moved)
        return 0;
    printf("Cannot move %s aside, it is left as it was and not rebuilt\n", new_mas);
    return -1;
}

// Decides what becomes of the earlier archive once the tool has run, from the work folder.
// When the tool made no new_mas the earlier one goes back; after an in-place job, or a job
// that met a failure, it stays as a backup, since only it is known to be complete.
static void settle_aside(const char *new_mas, const ArchiveAside *aside, int failures)
{
    if (!aside->moved)
        return;
    if (os_change_directory(work_folder) != 0) {
        printf("Earlier %s kept as %s\n", new_mas, aside->name);
    } else if (!os_exists(new_mas)) {
        if (os_rename_no_replace(aside->name, new_mas) == 0)
            printf("%s not made, the earlier one is back in its place\n", new_mas);
        else
            printf("%s not made, the earlier one is kept as %s\n", new_mas, aside->name);
    } else if (failures > 0) {
        printf("%s may be incomplete, the earlier one is kept as %s\n", new_mas, aside->name);
    } else if (aside->in_place || os_delete_file(aside->name) != 0) {
        printf("Earlier %s kept as %s\n", new_mas, aside->name);
    }
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
    ArchiveAside aside;
    aside.in_place = os_same_file(old_mas, new_mas);
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
    int failures = run_tool("MASAdelic", command) != 0;

    char old_names[NAME_TABLE_ENTRIES][NAME_SIZE], new_names[NAME_TABLE_ENTRIES][NAME_SIZE];
    fill_name_tables(old_bitmaps, new_bitmaps, old_names, new_names);
    drop_foreign_names(old_names, new_names);
    failures += replace_bitmaps(old_names, new_names);

    char old_first[5], old_second[5], new_first[5], new_second[5];
    form_prefixes(old_mas, old_first, old_second);
    form_prefixes(new_mas, new_first, new_second);
    for (const char *suffix : vrl_suffixes_first)
        failures += rename_vrl_file(old_first, new_first, suffix, old_names, new_names) != 0;
    for (const char *suffix : vrl_suffixes_second)
        failures += rename_vrl_file(old_second, new_second, suffix, old_names, new_names) != 0;

    if (move_aside(new_mas, &aside) == 0) {
        failures += pack_new_archive(new_mas) != 0;
        settle_aside(new_mas, &aside, failures);
    }
    remove_scratch_folder();
    return 0;
}
