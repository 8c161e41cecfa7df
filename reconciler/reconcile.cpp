// Pelmora's rewriting of .veh files: the walk over the new folder, and per file the output
// file made from the reference key lines and the file's other lines, copied back in place.
#include "reconcile.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "os.h"
#include "utility.h"
#include "vehtext.h"

// A path with its control characters shown in caret notation needs up to twice the room.
enum { REASON_SIZE = 256, SHOWN_SIZE = 2 * PATH_BUFFER_SIZE };

static const char SEPARATOR = '\\';
// The output file of car.veh is car.veh.pelmora: Pelmora's by its name, which no .veh file
// has ("new_car.veh" is a name real cars have, such as a New Beetle beside a Beetle).
static const char OUTPUT_SUFFIX[] = ".pelmora";

// The three paths of one .veh file, each at most 255 characters, and each as it is printed:
// names from a folder listing may hold control characters, shown visibly (see visible_text).
struct VehicleFiles {
    char reference[PATH_BUFFER_SIZE];
    char current[PATH_BUFFER_SIZE];
    char output[PATH_BUFFER_SIZE];
    char shown_reference[SHOWN_SIZE];
    char shown_current[SHOWN_SIZE];
    char shown_output[SHOWN_SIZE];
};

static int fits_path(int length)
{
    return length >= 0 && length < PATH_BUFFER_SIZE;
}

// 0, or -1 when any of the three paths would not fit its buffer.
static int build_paths(VehicleFiles *files, const char *reference_folder, const char *folder,
                       const char *name)
{
    int reference =
        snprintf(files->reference, PATH_BUFFER_SIZE, "%s%c%s", reference_folder, SEPARATOR, name);
    int current = snprintf(files->current, PATH_BUFFER_SIZE, "%s%c%s", folder, SEPARATOR, name);
    int output = snprintf(files->output, PATH_BUFFER_SIZE, "%s%c%s%s", folder, SEPARATOR, name,
                          OUTPUT_SUFFIX);
    if (!fits_path(reference) || !fits_path(current) || !fits_path(output))
        return -1;
    visible_text(files->shown_reference, SHOWN_SIZE, files->reference);
    visible_text(files->shown_current, SHOWN_SIZE, files->current);
    visible_text(files->shown_output, SHOWN_SIZE, files->output);
    return 0;
}

// The system's words for the last failed OS-layer call, in reason (REASON_SIZE bytes).
static const char *system_words(char *reason)
{
    os_error_text(reason, REASON_SIZE);
    if (reason[0] == '\0')
        snprintf(reason, REASON_SIZE, "unknown error");
    return reason;
}

// ---- Reading the two files -----------------------------------------------------------------

// Says why a file could not be taken in; is_reference tells which of the two it was.
static void report_unread(const VehicleFiles *files, int is_reference, int result)
{
    const char *path = is_reference ? files->shown_reference : files->shown_current;
    char reason[REASON_SIZE];
    if (result == VEH_NOT_OPENED || result == VEH_READ_FAILED) {
        if (is_reference)
            printf("Could not read %s: %s; %s left unchanged\n", path, system_words(reason),
                   files->current);
        else
            printf("Could not read %s: %s; it is left unchanged\n", path, system_words(reason));
        return;
    }
    const char *what = result == VEH_NO_MEMORY   ? "is too large to read into memory"
                       : result == VEH_HOLDS_NUL ? "holds a NUL byte, so it is not plain text"
                                                 : "holds text after a Ctrl-Z character";
    if (is_reference)
        printf("Skipped %s: its reference %s %s\n", files->shown_current, path, what);
    else
        printf("Skipped %s: it %s\n", files->shown_current, what);
}

// 1 when both files are regular files, which an open cannot keep waiting (a FIFO would); else
// 0 after a line saying which is not.
static int both_regular(const VehicleFiles *files, int reference_is_file)
{
    if (!reference_is_file) {
        printf("Skipped %s: its reference %s is not a regular file\n", files->shown_current,
               files->shown_reference);
        return 0;
    }
    OsFileStatus status;
    if (os_file_status(files->current, &status) != 0) {
        report_unread(files, 0, VEH_NOT_OPENED);
        return 0;
    }
    if (!status.is_file)
        printf("Skipped %s: it is not a regular file\n", files->shown_current);
    return status.is_file;
}

// Reads the reference and the new file whole. 0, or -1 after a line saying why not.
static int read_both(const VehicleFiles *files, int reference_is_file, VehText *reference,
                     VehText *current)
{
    if (!both_regular(files, reference_is_file))
        return -1;
    int result = read_veh_text(files->reference, reference);
    if (result != 0) {
        report_unread(files, 1, result);
        return -1;
    }
    result = read_veh_text(files->current, current);
    if (result != 0) {
        report_unread(files, 0, result);
        return -1;
    }
    return 0;
}

// ---- Writing the output and copying it back ----------------------------------------------

// Creates the output file only when nothing of its name is there, in one step, and writes the
// text into it. 0; 1 when something of its name is there already (nothing written); -1 after
// a line saying why it could not be made (a failed output is deleted again).
static int write_output(const VehicleFiles *files, const TextBuffer *text)
{
    char reason[REASON_SIZE];
    Stream *output = stream_open(files->output, "wbx");
    if (!output) {
        // The reason is the create's: the status call below sets the system's error anew.
        system_words(reason);
        OsFileStatus status;
        if (os_file_status(files->output, &status) == 0 && status.is_file)
            return 1;
        printf("Could not create %s: %s; %s left unchanged\n", files->output, reason,
               files->current);
        return -1;
    }
    int failed = text->size > 0 && stream_puts(text->bytes, output) == EOF;
    if (stream_close(output) != 0)
        failed = 1;
    if (!failed)
        return 0;
    os_delete_file(files->output);
    printf("Could not write %s: %s left unchanged\n", files->shown_output, files->shown_current);
    return -1;
}

// Copies the output back over the new file. 1 when the file is updated and the output is still
// there; 2 when the output took the file's place; 0 after a line saying where its updated text
// is kept. copy_file removes a destination it failed to write (a read or a write failed
// part-way): the output, which holds the whole updated text, then takes its name.
static int copy_output_back(const VehicleFiles *files)
{
    if (copy_file(files->output, files->current) == 0)
        return 1;
    char reason[REASON_SIZE];
    system_words(reason);
    if (!os_exists(files->current) && os_rename_no_replace(files->output, files->current) == 0)
        return 2;
    printf("Could not update %s: %s; its updated text is kept in %s\n", files->current, reason,
           files->output);
    return 0;
}

// Deletes the output once the file holds its text; a failure leaves a copy and says so.
static void delete_output(const VehicleFiles *files)
{
    char reason[REASON_SIZE];
    if (os_delete_file(files->output) != 0)
        printf("Could not delete %s: %s\n", files->shown_output, system_words(reason));
}

// ---- An output file left by an earlier run ------------------------------------------------

// 1 when the first size bytes of longer are shorter, else 0.
static int starts_with(const char *longer, uint32_t longer_size, const char *shorter, uint32_t size)
{
    return size <= longer_size && memcmp(longer, shorter, size) == 0;
}

// Decides about an output file that was there before: when the new file is a strict prefix of
// it (a copy back cut short, an empty file included unless the text made now extends the
// output), the copy back is finished; when it is a prefix of the text made
// now (an output cut short), it is deleted to be made again. Anything else may be the only
// whole copy of the text or the user's own, and is left. 1 when the file is updated, 0 when
// it is not (after a line), 2 when the output file is gone and may be made again.
static int settle_leftover(const VehicleFiles *files, const VehText *current,
                           const TextBuffer *text)
{
    VehText leftover;
    int read = read_veh_text(files->output, &leftover);
    int readable = read == 0 || read == VEH_HOLDS_NUL || read == VEH_TEXT_AFTER_CTRL_Z;
    int made_short =
        readable && starts_with(text->bytes, text->size, leftover.bytes, leftover.size);
    // An empty file is a prefix of every text: beside an output that the text made now
    // extends, it is a file that was empty before, whose output was cut short.
    int copied_short = readable && current->size < leftover.size &&
                       starts_with(leftover.bytes, leftover.size, current->bytes, current->size) &&
                       !(current->size == 0 && made_short);
    free_veh_text(&leftover);
    if (copied_short) {
        int back = copy_output_back(files);
        if (back == 0)
            return 0;
        printf("Finished %s from %s, which an interrupted run left\n", files->shown_current,
               files->shown_output);
        if (back == 1)
            delete_output(files);
        return 1;
    }
    char reason[REASON_SIZE];
    if (made_short && os_delete_file(files->output) != 0) {
        printf("Could not delete %s: %s; %s left unchanged\n", files->output, system_words(reason),
               files->current);
        return 0;
    }
    if (made_short) {
        printf("Making %s again: an interrupted run left it unfinished\n", files->shown_output);
        return 2;
    }
    printf("Skipped %s: %s already exists and may hold its updated text from an interrupted "
           "run\n",
           files->shown_current, files->shown_output);
    return 0;
}

// Writes the output, settling an earlier one first, and copies it back. 1 when the file is
// updated, else 0 after a line saying why not.
static int put_in_place(const VehicleFiles *files, const VehText *current, const TextBuffer *text)
{
    int written = write_output(files, text);
    if (written == 1) {
        int settled = settle_leftover(files, current, text);
        if (settled != 2)
            return settled;
        written = write_output(files, text);
        if (written == 1)
            printf("Skipped %s: %s already exists and may hold its updated text from an "
                   "interrupted run\n",
                   files->shown_current, files->shown_output);
    }
    int back = written == 0 ? copy_output_back(files) : 0;
    if (back == 0)
        return 0;
    printf("%s\n", files->shown_current);
    if (back == 1)
        delete_output(files);
    return 1;
}

// Reads the two files, makes the updated text and puts it in place. 1 when the file is
// updated, 0 when it is left unchanged (after a line).
static int update_vehicle_file(const VehicleFiles *files, int reference_is_file)
{
    VehText reference = {}, current = {};
    TextBuffer text = {};
    int updated = 0;
    if (read_both(files, reference_is_file, &reference, &current) == 0) {
        int made = make_vehicle_text(&reference, &current, &text);
        if (made == VEH_REFERENCE_NO_KEYS)
            printf("Skipped %s: its reference %s has no DescFile= or DescClass= line\n",
                   files->shown_current, files->shown_reference);
        else if (made != 0)
            printf("Skipped %s: not enough memory to update it\n", files->shown_current);
        else
            updated = put_in_place(files, &current, &text);
    }
    free(text.bytes);
    free_veh_text(&current);
    free_veh_text(&reference);
    return updated;
}

// ---- The walk ----------------------------------------------------------------------------

// Names alike but for case are one name here, as to Windows.
static int compare_names(const void *first, const void *second)
{
    return os_compare_names(static_cast<const char *>(first), static_cast<const char *>(second));
}

// 1 when another entry of the folder has a name that differs from name only in case.
static int is_case_twin(const ReconcileRun *run, const char *name)
{
    return run->case_twin_count > 0 &&
           bsearch(name, run->case_twins, static_cast<size_t>(run->case_twin_count),
                   LISTED_NAME_SIZE, compare_names) != nullptr;
}

int8_t reconcile_vehicle_file(WalkEntry *entry)
{
    ReconcileRun *run = static_cast<ReconcileRun *>(entry->argument);
    char listed[2 * LISTED_NAME_SIZE], folder[SHOWN_SIZE];
    visible_text(listed, sizeof listed, entry->name);
    visible_text(folder, sizeof folder, entry->directory);
    set_ascii_case(entry->name, ASCII_LOWER);
    if (match_wildcard(entry->name, "*.veh") != 1)
        return 0;
    VehicleFiles files;
    if (build_paths(&files, run->reference_folder, entry->directory, entry->name) != 0) {
        printf("Skipped %s%c%s: the path is too long\n", folder, SEPARATOR, listed);
        run->unchanged++;
        return 0;
    }
    OsFileStatus status;
    if (os_file_status(files.reference, &status) != 0 || status.is_directory)
        return 0;
    if (is_case_twin(run, entry->name)) {
        printf("Skipped %s%c%s: another name in its folder differs from it only in case\n", folder,
               SEPARATOR, listed);
        run->unchanged++;
        return 0;
    }
    if (update_vehicle_file(&files, status.is_file))
        run->updated++;
    else
        run->unchanged++;
    return 0;
}

// Fills run->case_twins from a listing of folder: one of each set of its files' names that
// differ only in case. A folder that cannot be listed, or a lack of memory, leaves it short.
static void find_case_twins(const char *folder, ReconcileRun *run)
{
    OsDirList *list = os_list_open(folder);
    if (!list)
        return;
    char(*names)[LISTED_NAME_SIZE] = nullptr;
    size_t count = 0, capacity = 0;
    OsDirEntry entry;
    while (os_list_next(list, &entry)) {
        if (entry.attributes & OS_ATTR_DIRECTORY)
            continue;
        if (count == capacity) {
            size_t larger = capacity ? capacity * 2 : 64;
            void *moved = realloc(names, larger * LISTED_NAME_SIZE);
            if (!moved)
                break;
            names = static_cast<char(*)[LISTED_NAME_SIZE]>(moved);
            capacity = larger;
        }
        snprintf(names[count++], LISTED_NAME_SIZE, "%s", entry.name);
    }
    os_list_close(list);
    if (count > 1)
        qsort(names, count, LISTED_NAME_SIZE, compare_names);
    size_t twins = 0;
    for (size_t at = 0; at + 1 < count; at++)
        if (compare_names(names[at], names[at + 1]) == 0 &&
            (twins == 0 || compare_names(names[twins - 1], names[at]) != 0))
            memmove(names[twins++], names[at], LISTED_NAME_SIZE);
    run->case_twins = names;
    run->case_twin_count = static_cast<int32_t>(twins);
}

// 1 with the absolute form of folder in out (PATH_BUFFER_SIZE bytes), or 0 after a message when
// it would be longer than 255 characters. A folder that begins at a root ('\cars', a network
// path) or names a drive is taken as it is: make_absolute_path would put it below the current
// folder.
static int absolute_folder(char *out, const char *folder)
{
    int relative = folder[0] != '\\' && folder[0] != '/' && !(folder[0] && folder[1] == ':');
    if (relative ? make_absolute_path(out, folder) != nullptr
                 : fits_path(snprintf(out, PATH_BUFFER_SIZE, "%s", folder)))
        return 1;
    char shown[SHOWN_SIZE];
    printf("Folder name too long: %s\n", visible_text(shown, sizeof shown, folder));
    return 0;
}

int8_t reconcile_vehicle_files(const char *new_folder, const char *reference_folder)
{
    char folder[PATH_BUFFER_SIZE];
    char reference[PATH_BUFFER_SIZE];
    if (!absolute_folder(folder, new_folder) || !absolute_folder(reference, reference_folder))
        return -1;
    OsFileStatus status;
    if (os_file_status(folder, &status) != 0)
        return -1;
    if (!status.is_directory)
        return 0;
    char *walk_buffer = static_cast<char *>(malloc(PATH_BUFFER_SIZE));
    if (!walk_buffer)
        return -1;
    snprintf(walk_buffer, PATH_BUFFER_SIZE, "%s", folder);
    ReconcileRun run = {reference, nullptr, 0, 0, 0};
    find_case_twins(folder, &run);
    walk_directory(walk_buffer, reconcile_vehicle_file, &run, 0);
    char shown[SHOWN_SIZE];
    printf("Done in %s: %d updated, %d left unchanged\n", visible_text(shown, sizeof shown, folder),
           static_cast<int>(run.updated), static_cast<int>(run.unchanged));
    free(run.case_twins);
    free(walk_buffer);
    return run.unchanged > 0 ? 1 : 0;
}

int32_t count_vehicle_files(const char *new_folder, const char *reference_folder)
{
    OsDirList *list = os_list_open(new_folder);
    if (!list)
        return -1;
    int32_t count = 0;
    OsDirEntry entry;
    while (os_list_next(list, &entry)) {
        if (entry.attributes & OS_ATTR_DIRECTORY)
            continue;
        set_ascii_case(entry.name, ASCII_LOWER);
        char reference[PATH_BUFFER_SIZE];
        OsFileStatus status;
        if (match_wildcard(entry.name, "*.veh") == 1 &&
            fits_path(snprintf(reference, sizeof reference, "%s%c%s", reference_folder, SEPARATOR,
                               entry.name)) &&
            os_file_status(reference, &status) == 0 && !status.is_directory)
            count++;
    }
    os_list_close(list);
    return count;
}
