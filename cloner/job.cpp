// Job execution: unpack the old car archive into "tmp", swap the bitmaps, rename and patch
// the .VRL files, pack "tmp" into the new archive and remove it again.
#include "job.h"

#include <stdio.h>
#include <string.h>

#include "bitmaps.h"
#include "filecopy.h"
#include "os.h"
#include "worklock.h"

// The tool's command lines.
enum { TOOL_LINE_SIZE = 128 };
static_assert(TOOL_LINE_SIZE > ARCHIVE_NAME_SIZE + 29, "the add command line does not fit");

// An earlier NEW_MAS is moved to NEW_MAS.bak, or .bak2 to .bak9 when that name is taken.
enum { ASIDE_NAMES = 9 };

// run_tool's results besides 0.
enum { TOOL_FAILED = -1, TOOL_NOT_STARTED = -2 };

// The earlier archive of a job while the new one is built.
struct ArchiveAside {
    int moved;                  // 1 when the earlier NEW_MAS now lies under name
    int in_place;               // 1 when OLD_MAS and NEW_MAS were one file before the job
    char name[SHORT_PATH_SIZE]; // the aside name, NEW_MAS plus a ".bak" suffix
};

// Writes folder\\name into path. 0, or -1 when it does not fit.
static int join_path(char *path, size_t size, const char *folder, const char *name)
{
    return fits(snprintf(path, size, "%s\\%s", folder, name), size) ? 0 : -1;
}

// Starts the archive tool and waits for it. 0 when it ran and ended with status 0,
// TOOL_FAILED when it ended otherwise (only ever a reason to doubt the archive: a status 0
// alone proves nothing), TOOL_NOT_STARTED when it could not start, said with the reason.
static int run_tool(const char *program, const char *command_line)
{
    int status = 0;
    fflush(stdout);
    if (os_run_program(program, command_line, nullptr, nullptr, nullptr, &status) != 0) {
        char why[WHY_SIZE];
        os_error_text(why, sizeof why);
        os_print("Cannot start the archive tool MASadelic.exe: %s\n", why);
        return TOOL_NOT_STARTED;
    }
    return status == 0 ? 0 : TOOL_FAILED;
}

// Says why an existing .VRL file could not take its new name: a file of that name that
// stayed, or the system's words for the failed rename.
static void say_not_renamed(const char *old_path, const char *new_path)
{
    char why[160];
    os_error_text(why, sizeof why);
    if (os_exists(new_path))
        snprintf(why, sizeof why, "%s", "a file of the new name could not be deleted");
    os_print("Cannot rename %s to %s: %s\n", shown(old_path + 4), shown(new_path + 4), why);
}

// Opens the entry name of the held "tmp" for reading, or reading and writing, when it is a
// plain file with one name (a link leading out of "tmp" is never opened). 0, or -1.
static int open_scratch_file(OsHeldFolder *scratch, const char *name, int for_writing,
                             OsOpenFile *file)
{
    if (os_held_open_file(scratch, name, for_writing, file) != 0)
        return -1;
    if (file->status.is_file && file->names == 1)
        return 0;
    os_close(file->fd);
    file->fd = -1;
    return -1;
}

// Patches the bitmap names of the .VRL file name in the held "tmp", through one open of it.
// patch_names' result.
static int32_t patch_scratch_file(OsHeldFolder *scratch, const char *name,
                                  char old_names[][NAME_SIZE], char new_names[][NAME_SIZE])
{
    OsOpenFile file;
    if (open_scratch_file(scratch, name, 1, &file) != 0)
        return -1;
    int32_t patched = patch_open_file(file.fd, old_names, new_names);
    return os_close(file.fd) == 0 ? patched : -1;
}

// Gives "tmp\<old prefix><suffix>.VRL" the new prefix and patches its bitmap names, through
// the hold on "tmp"; with equal prefixes the file keeps its name and is patched where it is.
static void rename_vrl_file(OsHeldFolder *scratch, const char *old_prefix, const char *new_prefix,
                            const char *suffix, char old_names[][NAME_SIZE],
                            char new_names[][NAME_SIZE], JobReport *report)
{
    char old_path[SHORT_PATH_SIZE], new_path[SHORT_PATH_SIZE];
    snprintf(old_path, sizeof old_path, "tmp\\%s%s.VRL", old_prefix, suffix);
    snprintf(new_path, sizeof new_path, "tmp\\%s%s.VRL", new_prefix, suffix);
    // Closed again before the rename, which Windows refuses for a file open without sharing
    // deletion.
    OsOpenFile file;
    if (open_scratch_file(scratch, old_path + 4, 0, &file) != 0) {
        os_print("File not found: %s%s.VRL\n", shown(old_prefix), suffix);
        return;
    }
    os_close(file.fd);
    if (strcmp(old_path, new_path) != 0) {
        os_held_delete(scratch, new_path + 4);
        if (os_held_rename(scratch, old_path + 4, new_path + 4) != 0) {
            say_not_renamed(old_path, new_path);
            note_trouble(report, "a .VRL file could not be renamed");
            return;
        }
    }
    report->vrl_renamed++;
    int32_t patched = patch_scratch_file(scratch, new_path + 4, old_names, new_names);
    if (patched < 0) {
        os_print("Cannot patch the bitmap names in %s\n", shown(new_path + 4));
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
            os_print("%s patched in no .VRL file: the car may still name the old bitmap\n",
                   shown(old_names[k]));
    }
    return count;
}

// Builds new_mas from inside the held "tmp", keeping the tool's leftover files out of it.
// Result: 0, or -1 when a tool call could not start or reported a failure; *not_made is set
// when the tool could not even be asked.
static int pack_new_archive(const char *new_mas, OsHeldFolder *scratch, const char **not_made)
{
    char program[OS_PATH_SIZE], command[TOOL_LINE_SIZE];
    if (join_path(program, sizeof program, work_folder, "MASadelic") != 0 ||
        os_held_make_current(scratch) != 0) {
        *not_made = "the scratch folder tmp could not be entered";
        return -1;
    }
    // Archive names were checked to fit ARCHIVE_NAME_SIZE; the precision only tells the
    // compiler so.
    const int name_max = ARCHIVE_NAME_SIZE - 1;
    snprintf(command, sizeof command, "MASadelic -C -m:..\\%.*s", name_max, new_mas);
    int result = run_tool(program, command);
    const char *leftovers[2] = {"MASBODY.TMP", "MASHEAD.TMP"};
    for (const char *leftover : leftovers)
        os_held_delete(scratch, leftover);
    if (result == TOOL_NOT_STARTED) {
        *not_made = "the archive tool MASadelic.exe could not start";
        return -1;
    }
    snprintf(command, sizeof command, "MASadelic -A -m:..\\%.*s -f:* -i:*", name_max, new_mas);
    if (run_tool(program, command) != 0)
        result = -1;
    return result;
}

// Moves an existing new_mas to a free aside name, from the work folder, so that the job
// never deletes an archive before its replacement exists; the lock file records the aside
// name first, so that a run stopped from here on is told of it. 0 when nothing is in the
// way any more; -1 when no aside name is free, the record or the rename failed, the reason
// in why (WHY_SIZE bytes): new_mas stays as it is.
static int move_aside(const char *new_mas, ArchiveAside *aside, char *why)
{
    aside->moved = 0;
    aside->name[0] = '\0';
    int exists = os_exists(new_mas);
    snprintf(why, WHY_SIZE, "no name from %s.bak to %s.bak%d is free", shown(new_mas),
             shown(new_mas), ASIDE_NAMES);
    for (int n = 1; exists && n <= ASIDE_NAMES; n++) {
        int written = n == 1 ? snprintf(aside->name, sizeof aside->name, "%s.bak", new_mas)
                             : snprintf(aside->name, sizeof aside->name, "%s.bak%d", new_mas, n);
        if (!fits(written, sizeof aside->name)) {
            aside->name[0] = '\0';
            return -1;
        }
        if (!os_exists(aside->name))
            break;
        aside->name[0] = '\0';
    }
    if (exists && aside->name[0] == '\0')
        return -1;
    if (record_scratch_folder(new_mas, aside->name, 1) != 0) {
        snprintf(why, WHY_SIZE, "%s", "the lock file tmp.lock could not be written");
        return -1;
    }
    if (!exists)
        return 0;
    aside->moved = os_rename_no_replace(new_mas, aside->name) == 0;
    if (!aside->moved)
        os_error_text(why, WHY_SIZE);
    return aside->moved ? 0 : -1;
}

// Ends a job whose new archive was not made: the earlier one, when moved aside, goes back.
static void end_not_made(const char *new_mas, const ArchiveAside *aside, const char *why)
{
    if (!aside->moved)
        say_not_made(new_mas, why);
    else if (os_rename_no_replace(aside->name, new_mas) == 0)
        os_print("%s not made: %s, the earlier one is back in its place\n", shown(new_mas), why);
    else
        os_print("%s not made: %s, the earlier one is kept as %s\n", shown(new_mas), why,
               shown(aside->name));
}

// 1 once the new archive's data is on the disk. Until then a power loss could leave it
// damaged, so the earlier archive is deleted only after this.
static int reached_the_disk(const char *new_mas)
{
    int fd = os_open(new_mas, OS_OPEN_READ_WRITE);
    if (fd < 0)
        return 0;
    int flushed = os_flush_file(fd, new_mas) == 0;
    os_close(fd);
    return flushed;
}

// Prints the "made" line of a job whose new archive was built without a failure, and
// settles the earlier archive: kept as a backup after an in-place job or one that left
// pairs out, since the new one is not all that was asked, or when the new one could not be
// flushed to the disk; else deleted.
static void say_made(const char *new_mas, const ArchiveAside *aside, const JobReport *report)
{
    os_print("%s made: bitmaps replaced %d", shown(new_mas), report->bitmaps_replaced);
    if (report->bitmaps_added > 0)
        os_print(", added %d", report->bitmaps_added);
    os_print(", .VRL files renamed %d, names patched %d", report->vrl_renamed, report->names_patched);
    const LeftOut *left_out = &report->left_out;
    if (left_out->count > 0)
        os_print("; %d of %d bitmap pairs left out: %s", left_out->count, report->pairs_listed,
               shown(left_out->names));
    const char *then = left_out->count > 0 ? ";" : ",";
    if (!aside->moved)
        os_print("\n");
    else if (aside->in_place || left_out->count > 0 || !reached_the_disk(new_mas) ||
             os_delete_file(aside->name) != 0)
        os_print("%s the earlier one is kept as %s\n", then, shown(aside->name));
    else
        os_print(", the earlier one replaced\n");
}

// Prints the line that ends a job, from the work folder, and settles the earlier archive:
// back in its place when the tool made no new_mas; kept as a backup after a failure, since
// only it is known to be complete. Result: 0 when new_mas was made with every pair in
// place, else 1; *made is set once the line says "made".
static int end_job(const char *new_mas, const ArchiveAside *aside, const JobReport *report,
                   const char *not_made, int *made)
{
    if (os_change_directory(work_folder) != 0) {
        const char *kept = aside->moved ? ", the earlier one is kept as " : "";
        os_print("%s may be incomplete: the work folder could not be entered again%s%s\n",
               shown(new_mas), kept, aside->moved ? shown(aside->name) : "");
        return 1;
    }
    if (not_made || !os_exists(new_mas)) {
        end_not_made(new_mas, aside, not_made ? not_made : "the archive tool made no archive");
        return 1;
    }
    if (report->trouble) {
        os_print("%s may be incomplete: %s%s%s\n", shown(new_mas), report->trouble,
               aside->moved ? ", the earlier one is kept as " : "",
               aside->moved ? shown(aside->name) : "");
        return 1;
    }
    say_made(new_mas, aside, report);
    *made = report->left_out.count > 0 ? JOB_MADE_PAIRS_LEFT_OUT : JOB_MADE;
    return report->left_out.count > 0 ? 1 : 0;
}

// Removes "tmp" at the end of a job, saying so when some of it stays, which is then held for
// the next job of the run to clear. 1 then, else 0.
static int end_scratch_folder(void)
{
    if (remove_scratch_folder() == 0)
        return 0;
    os_print("Removed the scratch folder '%s\\tmp' (not wholly: move it away)\n", work_folder);
    keep_left_scratch_folder();
    return 1;
}

// Makes the scratch folder "tmp"; an empty one left from before is used as it is. 0, or -1
// having said why, the system's words included.
static int make_scratch_folder(const char *new_mas)
{
    if (os_make_directory("tmp") == 0)
        return 0;
    char why[WHY_SIZE];
    os_error_text(why, sizeof why);
    OsFileStatus status;
    if (os_file_status("tmp", &status) == 0 && status.is_directory)
        return 0;
    os_print("Cannot make the scratch folder '%s\\tmp': %s\n", shown(work_folder), why);
    say_not_made(new_mas, "the scratch folder tmp could not be made");
    return -1;
}

// Unpacks old_mas into "tmp", which the job has just made. 0 when "tmp" holds files
// afterwards (a failure of the tool is noted); TOOL_NOT_STARTED when the tool could not
// start; -1 when "tmp" holds nothing.
static int unpack_old_archive(const char *old_mas, JobReport *report)
{
    char command[PATH_BUFFER_SIZE];
    snprintf(command, sizeof command, "MASadelic.exe -E -m:%.*s -f:* -o:tmp",
             static_cast<int>(ARCHIVE_NAME_SIZE - 1), old_mas);
    int result = run_tool("MASAdelic", command);
    if (result != 0)
        note_trouble(report, "the archive tool failed");
    if (scratch_folder_holds_entries())
        return 0;
    return result == TOOL_NOT_STARTED ? TOOL_NOT_STARTED : -1;
}

static int holds_a_dot(const char *prefix)
{
    return strchr(prefix, '.') != nullptr;
}

// The first new prefix that odd finds and the old one of its place did not, with the first
// suffix of its list in *suffix; null when there is none.
static const char *odd_prefix(const char *const *old_prefixes, const char *const *new_prefixes,
                              int (*odd)(const char *), const char **suffix)
{
    const char *first_suffixes[2] = {vrl_suffixes_first[0], vrl_suffixes_second[0]};
    for (int k = 0; k < 2; k++)
        if (odd(new_prefixes[k]) && strcmp(old_prefixes[k], new_prefixes[k]) != 0) {
            *suffix = first_suffixes[k];
            return new_prefixes[k];
        }
    return nullptr;
}

// Says so when the new .VRL names hold what the old ones did not and the game may not find:
// a second dot (a prefix taken from a name of fewer than six characters before ".mas"), or
// a character beyond ASCII.
static void say_odd_prefixes(const char *const *old_prefixes, const char *const *new_prefixes)
{
    const char *suffix = nullptr;
    const char *example = odd_prefix(old_prefixes, new_prefixes, holds_a_dot, &suffix);
    if (example)
        os_print("New .VRL names such as %s%s.VRL hold two dots: the game may not find the car's "
               "parts; give the new archive six characters or more before .mas\n",
               shown(example), suffix);
    example = odd_prefix(old_prefixes, new_prefixes, prefix_beyond_ascii, &suffix);
    if (example)
        os_print("New .VRL names such as %s%s.VRL hold a character beyond ASCII: the game may not "
               "find the car's parts\n",
               shown(example), suffix);
}

// Turns the unpacked old car in "tmp" into the new one: the bitmaps swapped, the .VRL files
// renamed to the new prefixes and their bitmap names patched, counted in *report.
static void make_new_car(const char *old_mas, const char *new_mas, const char *old_bitmaps,
                         const char *new_bitmaps, OsHeldFolder *scratch, JobReport *report)
{
    PairTables t;
    int taken =
        fill_name_tables(old_bitmaps, new_bitmaps, t.old_names, t.new_names, &report->left_out);
    report->pairs_listed = taken + report->left_out.count;
    drop_foreign_names(t.old_names, t.new_names, &report->left_out);
    int origin[NAME_TABLE_ENTRIES];
    take_stored_names(&t);
    replace_bitmaps(&t, scratch, report);
    add_written_names(&t, origin);

    char old_first[PREFIX_SIZE], old_second[PREFIX_SIZE];
    char new_first[PREFIX_SIZE], new_second[PREFIX_SIZE];
    form_prefixes(old_mas, old_first, old_second);
    form_prefixes(new_mas, new_first, new_second);
    const char *old_prefixes[2] = {old_first, old_second},
               *new_prefixes[2] = {new_first, new_second};
    say_odd_prefixes(old_prefixes, new_prefixes);
    for (const char *suffix : vrl_suffixes_first)
        rename_vrl_file(scratch, old_first, new_first, suffix, t.old_names, t.new_names, report);
    for (const char *suffix : vrl_suffixes_second)
        rename_vrl_file(scratch, old_second, new_second, suffix, t.old_names, t.new_names,
                        report);
    report->names_patched = say_unpatched(t.old_names, origin, report->patched);
}

// The proof, after each step of the archive tool, that "tmp" and what the job will patch and
// pack in it are still what the job holds: "tmp" is the folder held (no link, no other
// folder), and every entry in it but a folder is a plain file with one name inside it. 0
// when so; else 1, with the first entry that is not named in why (WHY_SIZE bytes) as the
// reason a job is not made.
static int scratch_changed(OsHeldFolder *scratch, char *why)
{
    OsHeldFolder *again = os_hold_folder("tmp");
    int changed = !again || !os_held_same_folder(scratch, again);
    snprintf(why, WHY_SIZE, "%s", "the scratch folder tmp was changed while the job ran");
    OsDirEntry entry;
    while (!changed && os_held_next(again, &entry) == 1) {
        OsOpenFile file;
        char path[SHORT_PATH_SIZE + OS_NAME_SIZE];
        OsFileStatus status;
        // The tool packs no folder, nor a link to one: the folder's removal leaves the link.
        if ((entry.attributes & OS_ATTR_DIRECTORY) ||
            ((entry.attributes & OS_ATTR_LINK) &&
             fits(snprintf(path, sizeof path, "tmp\\%s", entry.name), sizeof path) &&
             os_file_status(path, &status) == 0 && status.is_directory))
            continue;
        changed = (entry.attributes & OS_ATTR_LINK) ||
                  open_scratch_file(scratch, entry.name, 0, &file) != 0;
        if (!changed)
            os_close(file.fd);
        else
            snprintf(why, WHY_SIZE, "tmp\\%s was changed while the job ran", shown(entry.name));
    }
    if (again)
        os_release_folder(again, 0);
    return changed;
}

// Ends a job whose "tmp" holds no car to pack, having said why: "tmp" goes.
static void end_unpacked(OsHeldFolder *scratch)
{
    os_release_folder(scratch, 0);
    end_scratch_folder();
}

// Unpacks old_mas into a new "tmp", held in *scratch from then on, and checks what came out.
// 0 when the job can go on; -1 when it ended, having said why (*scratch then null).
static int start_job(const char *old_mas, const char *new_mas, JobReport *report,
                     OsHeldFolder **scratch)
{
    *scratch = nullptr;
    int existed = os_exists("tmp");
    if (make_scratch_folder(new_mas) != 0)
        return -1;
    // A folder link of new_mas may lead into "tmp" now that it exists.
    if (new_folder_refused(new_mas, 1)) {
        if (!existed)
            os_remove_directory("tmp");
        return -1;
    }
    // The record names "tmp" by its identity, so it follows the folder's making.
    if (record_scratch_folder(new_mas, "", 0) != 0) {
        os_remove_directory("tmp");
        say_not_made(new_mas, "the scratch folder tmp could not be recorded in tmp.lock");
        return -1;
    }
    if (!file_exists("MASadelic.exe")) {
        os_remove_directory("tmp");
        os_print("File not found: MASadelic.exe\n");
        say_not_made(new_mas, "MASadelic.exe is missing");
        return -1;
    }
    // A link refused here was made by another program since "tmp" was checked.
    OsHeldFolder *held = os_hold_folder("tmp");
    if (!held) {
        say_not_made(new_mas, "the scratch folder tmp was changed while the job ran");
        return -1;
    }
    int unpacked = unpack_old_archive(old_mas, report);
    char why[WHY_SIZE];
    if (unpacked == 0 && scratch_changed(held, why)) {
        end_unpacked(held);
        say_not_made(new_mas, why);
        return -1;
    }
    if (unpacked == 0 && !old_prefixes_missing(old_mas)) {
        *scratch = held;
        return 0;
    }
    end_unpacked(held);
    if (unpacked == TOOL_NOT_STARTED)
        say_not_made(new_mas, "the archive tool MASadelic.exe could not start");
    else if (unpacked != 0)
        os_print("%s not made: %s could not be unpacked\n", shown(new_mas), shown(old_mas));
    else
        os_print("%s not made: %s holds no .VRL file of its name\n", shown(new_mas), shown(old_mas));
    return -1;
}

int8_t run_job(const char *old_mas, const char *new_mas, const char *old_bitmaps,
               const char *new_bitmaps)
{
    int made = 0;
    return run_job_telling(old_mas, new_mas, old_bitmaps, new_bitmaps, &made);
}

int8_t run_job_telling(const char *old_mas_given, const char *new_mas_given,
                       const char *old_bitmaps, const char *new_bitmaps, int *made)
{
    *made = JOB_NOT_MADE;
    clear_left_scratch_folder();
    char old_mas[PATH_BUFFER_SIZE], new_mas[PATH_BUFFER_SIZE];
    snprintf(old_mas, sizeof old_mas, "%s", old_mas_given);
    snprintf(new_mas, sizeof new_mas, "%s", new_mas_given);
    to_backslashes(old_mas);
    to_backslashes(new_mas);
    if (job_refused(old_mas, new_mas))
        return -1;
    ArchiveAside aside;
    aside.in_place = os_same_file(old_mas, new_mas);
    aside.moved = 0;
    JobReport report;
    memset(&report, 0, sizeof report);
    OsHeldFolder *scratch;
    if (start_job(old_mas, new_mas, &report, &scratch) != 0) {
        clear_scratch_record();
        return -1;
    }
    make_new_car(old_mas, new_mas, old_bitmaps, new_bitmaps, scratch, &report);

    const char *not_made = nullptr;
    char why[WHY_SIZE], aside_failed[WHY_SIZE + 64], changed[WHY_SIZE];
    if (scratch_changed(scratch, changed)) {
        not_made = changed;
    } else if (move_aside(new_mas, &aside, why) != 0) {
        snprintf(aside_failed, sizeof aside_failed,
                 "the earlier one could not be moved aside and is left as it was: %s", why);
        not_made = aside_failed;
    } else if (pack_new_archive(new_mas, scratch, &not_made) != 0) {
        note_trouble(&report, "the archive tool failed");
    }
    // "tmp" goes before the record is cleared, so that a run stopped in between is told; a
    // Windows hold would keep it.
    os_release_folder(scratch, 0);
    int scratch_left = end_scratch_folder();
    clear_scratch_record();
    int ended = end_job(new_mas, &aside, &report, not_made, made);
    return (int8_t)(scratch_left ? 1 : ended);
}
