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

enum { SHORT_PATH_SIZE = 40, TOOL_LINE_SIZE = 128 };

// An earlier NEW_MAS is moved to NEW_MAS.bak, or .bak2 to .bak9 when that name is taken;
// 31 characters and ".bak9" fit in SHORT_PATH_SIZE.
enum { ASIDE_NAMES = 9 };

// What a job did, for the line that ends it.
struct JobReport {
    int bitmaps_replaced;
    int vrl_renamed;
    int32_t patched;     // bit k: old name k was patched in some .VRL file
    int names_patched;   // old bitmaps whose name was patched, in either spelling
    const char *trouble; // the first failure that leaves the new archive in doubt, or null
};

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

// The blank-separated name that list starts with, in name (PATH_BUFFER_SIZE bytes), for a
// message; "" when it is longer than that holds.
static const char *first_name(char *name, const char *list)
{
    get_field(name, list, PATH_BUFFER_SIZE, ' ');
    return name;
}

int fill_name_tables(const char *old_list, const char *new_list, char old_names[][NAME_SIZE],
                     char new_names[][NAME_SIZE])
{
    memset(old_names, 0, NAME_TABLE_ENTRIES * NAME_SIZE);
    memset(new_names, 0, NAME_TABLE_ENTRIES * NAME_SIZE);
    const char *old_next = skip_blanks(old_list);
    const char *new_next = skip_blanks(new_list);
    int count = 0;
    char name[PATH_BUFFER_SIZE];
    while (*old_next && *new_next && count < NAME_TABLE_ENTRIES - 1) {
        const char *old_name = old_next;
        old_next = get_field(old_names[count], old_next, NAME_SIZE, ' ');
        new_next = get_field(new_names[count], new_next, NAME_SIZE, ' ');
        if (old_names[count][0] == '\0') {
            new_names[count][0] = '\0';
            printf("Old bitmap name too long (%d characters at most), it and the pairs after it "
                   "are skipped: %s\n",
                   NAME_SIZE - 1, first_name(name, old_name));
            return count;
        }
        count++;
    }
    if (*old_next && *new_next)
        printf("More than %d bitmap pairs, the pairs from %s on are skipped\n", count,
               first_name(name, old_next));
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

static char lower_case(char c)
{
    return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c;
}

// 1 when the first length bytes of a and b are equal but for the case of ASCII letters.
static int same_ignoring_case(const char *a, const char *b, size_t length)
{
    for (size_t i = 0; i < length; i++)
        if (lower_case(a[i]) != lower_case(b[i]))
            return 0;
    return 1;
}

static void note_trouble(JobReport *report, const char *why)
{
    if (!report->trouble)
        report->trouble = why;
}

int is_tool_safe_name(const char *name)
{
    if (name[0] == '\0')
        return 0;
    for (size_t i = 0; name[i] != '\0'; i++) {
        unsigned char c = (unsigned char)name[i];
        if (c < 32 || strchr(" \"<>|?*", c) != nullptr)
            return 0;
        // A drive's colon; anywhere else Windows takes it for a stream of a file.
        if (c == ':' && !(i == 1 && lower_case(name[0]) >= 'a' && lower_case(name[0]) <= 'z'))
            return 0;
    }
    return 1;
}

// Windows gives these names to devices in every folder, whatever their extension: no file
// of such a name can be made, and what is written to it goes to the device.
static int is_device_name(const char *part, size_t size)
{
    static const char *const devices[] = {"con", "prn", "aux", "nul"};
    size_t base = strcspn(part, ".\\/");
    if (base > size)
        base = size;
    for (const char *device : devices)
        if (base == 3 && same_ignoring_case(part, device, 3))
            return 1;
    return base == 4 &&
           (same_ignoring_case(part, "com", 3) || same_ignoring_case(part, "lpt", 3)) &&
           part[3] >= '1' && part[3] <= '9';
}

int is_work_folder_archive(const char *name)
{
    size_t length = strlen(name);
    if (name[0] == '\\' || name[0] == '/' || strchr(name, ':') != nullptr || length < 4 ||
        !same_ignoring_case(name + length - 4, ".mas", 4))
        return 0;
    int leading = 1;
    for (const char *part = name; *part;) {
        size_t size = strcspn(part, "\\/");
        // Windows drops the dots that end a component: "tmp." is "tmp", "..." climbs.
        size_t kept = size;
        while (kept > 0 && part[kept - 1] == '.')
            kept--;
        if ((size >= 2 && kept == 0) || is_device_name(part, size))
            return 0;
        if (leading && kept == 3 && same_ignoring_case(part, "tmp", 3))
            return 0;
        leading = leading && size == 1 && part[0] == '.';
        part += size;
        if (*part)
            part++;
    }
    return 1;
}

static void say_not_made(const char *new_mas, const char *why)
{
    printf("%s not made: %s\n", new_mas, why);
}

int archive_names_refused(const char *old_mas, const char *new_mas)
{
    const char *names[2] = {old_mas, new_mas};
    for (const char *name : names)
        if (strlen(name) > ARCHIVE_NAME_MAX) {
            printf("%s not made: archive name too long (%d characters at most): %s\n", new_mas,
                   ARCHIVE_NAME_MAX, name);
            return 1;
        }
    for (const char *name : names)
        if (!is_tool_safe_name(name)) {
            printf("%s not made: '%s' holds a blank, a quote or a character a file name cannot "
                   "hold\n",
                   new_mas, name);
            return 1;
        }
    if (!is_work_folder_archive(new_mas)) {
        say_not_made(new_mas, "a new archive must be a .mas file inside the work folder");
        return 1;
    }
    return 0;
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

// 1 when the new archive has no place to go: its folder is missing, or it names a folder.
static int new_archive_misplaced(const char *new_mas)
{
    char copy[PATH_BUFFER_SIZE], folder[PATH_BUFFER_SIZE];
    snprintf(copy, sizeof copy, "%s", new_mas);
    for (char *c = copy; *c; c++)
        if (*c == '/')
            *c = '\\';
    directory_of(folder, copy);
    OsFileStatus status;
    if (os_file_status(folder, &status) != 0 || !status.is_directory) {
        printf("%s not made: the folder %s does not exist\n", new_mas, folder);
        return 1;
    }
    if (os_file_status(new_mas, &status) == 0 && status.is_directory) {
        say_not_made(new_mas, "a folder of that name is in the way");
        return 1;
    }
    return 0;
}

// 1 when a folder lists an entry besides "." and "..", else 0 (also when it cannot be listed).
static int holds_entries(const char *folder)
{
    int found = 0;
    OsDirList *list = os_list_open(folder);
    OsDirEntry entry;
    while (list && !found && os_list_next(list, &entry))
        found = strcmp(entry.name, ".") != 0 && strcmp(entry.name, "..") != 0;
    if (list)
        os_list_close(list);
    return found;
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
    if (!holds_entries("tmp"))
        return 0;
    printf("Folder '%s\\tmp' is not empty: move it away, job skipped\n", work_folder);
    return 1;
}

// 1 when the job cannot run as asked, having said why: the names, the work folder too long
// for its buffers, a missing old archive, no place for the new one, or a "tmp" in the work
// folder that holds files (packing it would take them along and the clean-up would delete
// them). Nothing is created.
static int job_refused(const char *old_mas, const char *new_mas)
{
    if (strlen(work_folder) > WORK_FOLDER_MAX) {
        printf("Work folder too long (%d characters at most): %s\n", WORK_FOLDER_MAX, work_folder);
        say_not_made(new_mas, "the work folder's path is too long");
        return 1;
    }
    if (archive_names_refused(old_mas, new_mas))
        return 1;
    if (!file_exists(old_mas)) {
        printf("File not found: %s\n", old_mas);
        printf("%s not made: %s is missing\n", new_mas, old_mas);
        return 1;
    }
    if (new_archive_misplaced(new_mas))
        return 1;
    if (scratch_folder_in_use()) {
        say_not_made(new_mas, "the scratch folder tmp is in the way");
        return 1;
    }
    return 0;
}

// Takes pair k out of the name pair tables and the table of written names; the entries
// after it move up.
static void drop_pair(char old_names[][NAME_SIZE], char new_names[][NAME_SIZE],
                      char written[][NAME_SIZE], int k)
{
    for (; k < NAME_TABLE_ENTRIES - 1 && old_names[k][0] != '\0'; k++) {
        memcpy(old_names[k], old_names[k + 1], NAME_SIZE);
        memcpy(new_names[k], new_names[k + 1], NAME_SIZE);
        memcpy(written[k], written[k + 1], NAME_SIZE);
    }
    old_names[NAME_TABLE_ENTRIES - 1][0] = new_names[NAME_TABLE_ENTRIES - 1][0] = '\0';
    written[NAME_TABLE_ENTRIES - 1][0] = '\0';
}

// Gives each old name the case in which "tmp" stores its bitmap, since Windows finds
// "1shgt500.BMP" as "1SHGT500.BMP" while the .VRL texts are compared exactly. The name as
// written wins when it is stored so; else the lowest other spelling in byte order. A name
// written otherwise is kept in written[k] (else that entry is empty).
static void take_stored_names(char old_names[][NAME_SIZE], char written[][NAME_SIZE])
{
    char found[NAME_TABLE_ENTRIES][NAME_SIZE];
    memset(found, 0, sizeof found);
    OsDirList *list = os_list_open("tmp");
    OsDirEntry entry;
    while (list && os_list_next(list, &entry)) {
        size_t length = strlen(entry.name);
        if (length <= 4 || length - 4 >= NAME_SIZE ||
            !same_ignoring_case(entry.name + length - 4, ".BMP", 4))
            continue;
        for (int k = 0; k < NAME_TABLE_ENTRIES && old_names[k][0] != '\0'; k++) {
            if (strlen(old_names[k]) != length - 4 ||
                !same_ignoring_case(old_names[k], entry.name, length - 4) ||
                strncmp(old_names[k], found[k], NAME_SIZE) == 0)
                continue;
            if (found[k][0] == '\0' || memcmp(old_names[k], entry.name, length - 4) == 0 ||
                memcmp(entry.name, found[k], length - 4) < 0) {
                memcpy(found[k], entry.name, length - 4);
                found[k][length - 4] = '\0';
            }
        }
    }
    if (list)
        os_list_close(list);
    for (int k = 0; k < NAME_TABLE_ENTRIES; k++) {
        written[k][0] = '\0';
        if (found[k][0] != '\0' && strcmp(found[k], old_names[k]) != 0) {
            memcpy(written[k], old_names[k], NAME_SIZE);
            memcpy(old_names[k], found[k], NAME_SIZE);
        }
    }
}

// Puts each old name written in another case than stored back into the tables, as a pair
// of its own after the others (room allowing), since a .VRL file may hold either spelling;
// origin[k] gets the pair that entry k stands for.
static void add_written_names(char old_names[][NAME_SIZE], char new_names[][NAME_SIZE],
                              char written[][NAME_SIZE], int *origin)
{
    int pairs = 0;
    while (pairs < NAME_TABLE_ENTRIES && old_names[pairs][0] != '\0')
        pairs++;
    for (int k = 0; k < NAME_TABLE_ENTRIES; k++)
        origin[k] = k;
    for (int k = 0, end = pairs; k < end && pairs < NAME_TABLE_ENTRIES - 1; k++) {
        if (written[k][0] == '\0')
            continue;
        memcpy(old_names[pairs], written[k], NAME_SIZE);
        memcpy(new_names[pairs], new_names[k], NAME_SIZE);
        origin[pairs++] = k;
    }
}

// 1 when path is a plain file that can be opened for reading.
static int can_read(const char *path)
{
    OsFileStatus status;
    if (os_file_status(path, &status) != 0 || !status.is_file)
        return 0;
    int fd = os_open(path, OS_OPEN_READ);
    if (fd < 0)
        return 0;
    os_close(fd);
    return 1;
}

// Deletes each old bitmap from "tmp" and copies its new bitmap in under the new name's last
// component. A new bitmap that cannot be read, or a new name taken as empty, keeps the old
// bitmap, and its pair leaves the tables so that the .VRL files keep naming it.
static void replace_bitmaps(char old_names[][NAME_SIZE], char new_names[][NAME_SIZE],
                            char written[][NAME_SIZE], JobReport *report)
{
    for (int k = 0; k < NAME_TABLE_ENTRIES && old_names[k][0] != '\0';) {
        // Names of at most 31 characters always fit these buffers.
        char path[SHORT_PATH_SIZE], source[SHORT_PATH_SIZE], name[NAME_SIZE];
        memcpy(name, new_names[k], sizeof name);
        name[sizeof name - 1] = '\0';
        if (new_names[k][0] == '\0') {
            printf("New bitmap name too long (31 characters at most), %s.BMP kept\n", old_names[k]);
            drop_pair(old_names, new_names, written, k);
            continue;
        }
        if (!fits(snprintf(source, sizeof source, "%s.BMP", name), sizeof source) ||
            !can_read(source)) {
            printf("File not found: %s.BMP\n", name);
            note_trouble(report, "a new bitmap is missing");
            drop_pair(old_names, new_names, written, k);
            continue;
        }
        // The new bitmap goes in before the old one goes, so that a failed copy leaves the
        // car with the bitmap its .VRL files name.
        if (!fits(snprintf(path, sizeof path, "tmp\\%s.BMP", file_name_of(name)), sizeof path) ||
            copy_file(source, path) == -1) {
            printf("Cannot copy %s.BMP into the scratch folder\n", new_names[k]);
            note_trouble(report, "a new bitmap could not be copied");
            drop_pair(old_names, new_names, written, k);
            continue;
        }
        report->bitmaps_replaced++;
        char old_path[SHORT_PATH_SIZE];
        if (fits(snprintf(old_path, sizeof old_path, "tmp\\%s.BMP", old_names[k]),
                 sizeof old_path) &&
            !os_same_file(old_path, path))
            os_delete_file(old_path);
        k++;
    }
}

// Says why an existing .VRL file could not take its new name: a file of that name that
// stayed, or the system's words for the failed rename.
static void say_not_renamed(const char *old_path, const char *new_path)
{
    char why[160];
    os_error_text(why, sizeof why);
    if (os_exists(new_path))
        snprintf(why, sizeof why, "%s", "a file of the new name could not be deleted");
    printf("Cannot rename %s to %s: %s\n", old_path + 4, new_path + 4, why);
}

// Gives "tmp\<old prefix><suffix>.VRL" the new prefix and patches its bitmap names; with
// equal prefixes the file keeps its name and is patched where it is.
static void rename_vrl_file(const char *old_prefix, const char *new_prefix, const char *suffix,
                            char old_names[][NAME_SIZE], char new_names[][NAME_SIZE],
                            JobReport *report)
{
    char old_path[SHORT_PATH_SIZE], new_path[SHORT_PATH_SIZE];
    snprintf(old_path, sizeof old_path, "tmp\\%s%s.VRL", old_prefix, suffix);
    snprintf(new_path, sizeof new_path, "tmp\\%s%s.VRL", new_prefix, suffix);
    if (!file_exists(old_path)) {
        printf("File not found: %s%s.VRL\n", old_prefix, suffix);
        return;
    }
    if (strcmp(old_path, new_path) != 0) {
        if (os_exists(new_path))
            os_delete_file(new_path);
        if (os_rename_no_replace(old_path, new_path) != 0) {
            say_not_renamed(old_path, new_path);
            note_trouble(report, "a .VRL file could not be renamed");
            return;
        }
    }
    report->vrl_renamed++;
    int32_t patched = patch_names(new_path, old_names, new_names);
    if (patched < 0) {
        printf("Cannot patch the bitmap names in %s\n", new_path + 4);
        note_trouble(report, "a .VRL file could not be patched");
    } else {
        report->patched |= patched;
    }
}

// Says which old bitmaps no .VRL file named, in either spelling: the car may name them
// elsewhere. Result: the number of bitmaps whose name was patched.
static int say_unpatched(char old_names[][NAME_SIZE], const int *origin, int32_t patched)
{
    int32_t named = 0;
    for (int k = 0; k < NAME_TABLE_ENTRIES; k++)
        if (patched & ((int32_t)1 << k))
            named |= (int32_t)1 << origin[k];
    int count = 0;
    for (int k = 0; k < NAME_TABLE_ENTRIES && old_names[k][0] != '\0'; k++) {
        if (origin[k] != k)
            continue;
        if (named & ((int32_t)1 << k))
            count++;
        else
            printf("%s patched in no .VRL file: the car may still name the old bitmap\n",
                   old_names[k]);
    }
    return count;
}

// Builds new_mas from inside "tmp", keeping the tool's leftover files out of it. Result: 0,
// or -1 when a tool call could not start or reported a failure; *not_made is set when the
// tool could not even be asked.
static int pack_new_archive(const char *new_mas, const char **not_made)
{
    char folder[PATH_BUFFER_SIZE], program[PATH_BUFFER_SIZE], command[TOOL_LINE_SIZE];
    if (join_path(folder, sizeof folder, work_folder, "tmp") != 0 ||
        join_path(program, sizeof program, work_folder, "MASadelic") != 0 ||
        os_change_directory(folder) != 0) {
        *not_made = "the scratch folder tmp could not be entered";
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
// more; -1 when no aside name is free or the rename failed: new_mas stays as it is.
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
    return aside->moved ? 0 : -1;
}

// Ends a job whose new archive was not made: the earlier one, when moved aside, goes back.
static void end_not_made(const char *new_mas, const ArchiveAside *aside, const char *why)
{
    if (!aside->moved)
        say_not_made(new_mas, why);
    else if (os_rename_no_replace(aside->name, new_mas) == 0)
        printf("%s not made: %s, the earlier one is back in its place\n", new_mas, why);
    else
        printf("%s not made: %s, the earlier one is kept as %s\n", new_mas, why, aside->name);
}

// Prints the line that ends a job, from the work folder, and settles the earlier archive:
// back in its place when the tool made no new_mas; kept as a backup after an in-place job
// or a failure, since only it is known to be complete; else deleted.
static void end_job(const char *new_mas, const ArchiveAside *aside, const JobReport *report,
                    const char *not_made)
{
    if (os_change_directory(work_folder) != 0) {
        const char *kept = aside->moved ? ", the earlier one is kept as " : "";
        printf("%s may be incomplete: the work folder could not be entered again%s%s\n", new_mas,
               kept, aside->moved ? aside->name : "");
        return;
    }
    if (not_made || !os_exists(new_mas)) {
        end_not_made(new_mas, aside, not_made ? not_made : "the archive tool made no archive");
        return;
    }
    if (report->trouble) {
        printf("%s may be incomplete: %s%s%s\n", new_mas, report->trouble,
               aside->moved ? ", the earlier one is kept as " : "",
               aside->moved ? aside->name : "");
        return;
    }
    printf("%s made: bitmaps replaced %d, .VRL files renamed %d, names patched %d", new_mas,
           report->bitmaps_replaced, report->vrl_renamed, report->names_patched);
    if (!aside->moved)
        printf("\n");
    else if (aside->in_place || os_delete_file(aside->name) != 0)
        printf(", the earlier one is kept as %s\n", aside->name);
    else
        printf(", the earlier one replaced\n");
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

// Unpacks old_mas into "tmp", which the job has just made. 0 when "tmp" holds files
// afterwards (a failure of the tool is noted), -1 when it holds none.
static int unpack_old_archive(const char *old_mas, JobReport *report)
{
    char command[PATH_BUFFER_SIZE];
    snprintf(command, sizeof command, "MASadelic.exe -E -m:%s -f:* -o:tmp", old_mas);
    if (run_tool("MASAdelic", command) != 0)
        note_trouble(report, "the archive tool failed");
    return holds_entries("tmp") ? 0 : -1;
}

// Turns the unpacked old car in "tmp" into the new one: the bitmaps swapped, the .VRL files
// renamed to the new prefixes and their bitmap names patched, counted in *report.
static void make_new_car(const char *old_mas, const char *new_mas, const char *old_bitmaps,
                         const char *new_bitmaps, JobReport *report)
{
    char old_names[NAME_TABLE_ENTRIES][NAME_SIZE], new_names[NAME_TABLE_ENTRIES][NAME_SIZE];
    fill_name_tables(old_bitmaps, new_bitmaps, old_names, new_names);
    drop_foreign_names(old_names, new_names);
    char written[NAME_TABLE_ENTRIES][NAME_SIZE];
    int origin[NAME_TABLE_ENTRIES];
    take_stored_names(old_names, written);
    replace_bitmaps(old_names, new_names, written, report);
    add_written_names(old_names, new_names, written, origin);

    char old_first[5], old_second[5], new_first[5], new_second[5];
    form_prefixes(old_mas, old_first, old_second);
    form_prefixes(new_mas, new_first, new_second);
    for (const char *suffix : vrl_suffixes_first)
        rename_vrl_file(old_first, new_first, suffix, old_names, new_names, report);
    for (const char *suffix : vrl_suffixes_second)
        rename_vrl_file(old_second, new_second, suffix, old_names, new_names, report);
    report->names_patched = say_unpatched(old_names, origin, report->patched);
}

int8_t run_job(const char *old_mas, const char *new_mas, const char *old_bitmaps,
               const char *new_bitmaps)
{
    if (job_refused(old_mas, new_mas))
        return -1;
    ArchiveAside aside;
    aside.in_place = os_same_file(old_mas, new_mas);
    aside.moved = 0;
    os_make_directory("tmp");
    if (!file_exists("MASadelic.exe")) {
        os_remove_directory("tmp");
        printf("File not found: MASadelic.exe\n");
        say_not_made(new_mas, "MASadelic.exe is missing");
        return -1;
    }
    JobReport report = {0, 0, 0, 0, nullptr};
    if (unpack_old_archive(old_mas, &report) != 0) {
        remove_scratch_folder();
        printf("%s not made: %s could not be unpacked\n", new_mas, old_mas);
        return -1;
    }
    make_new_car(old_mas, new_mas, old_bitmaps, new_bitmaps, &report);

    const char *not_made = nullptr;
    if (move_aside(new_mas, &aside) != 0)
        not_made = "the earlier one could not be moved aside and is left as it was";
    else if (pack_new_archive(new_mas, &not_made) != 0)
        note_trouble(&report, "the archive tool failed");
    end_job(new_mas, &aside, &report, not_made);
    remove_scratch_folder();
    return 0;
}
