// Pelmora's rewriting of .veh files: the walk over the new folder, and per file the output
// file made from the reference key lines and the file's other lines, copied back in place.
#include "reconcile.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "folders.h"
#include "listing.h"
#include "os.h"
#include "update.h"
#include "utility.h"
#include "vehtext.h"


// The three paths of one .veh file, each at most VEH_PATH_UNITS long, and each as it is printed:
// names from a folder listing may hold control characters, shown visibly (see visible_text).
struct VehicleFiles {
    char reference[PATH_BUFFER_SIZE];
    char current[PATH_BUFFER_SIZE];
    char output[PATH_BUFFER_SIZE];
    char shown_reference[SHOWN_SIZE];
    char shown_current[SHOWN_SIZE];
    char shown_output[SHOWN_SIZE];
};

// 0, or -1 when any of the three paths would not fit its buffer.
static int build_paths(VehicleFiles *files, const char *reference_folder, const char *folder,
                       const char *name)
{
    int reference =
        snprintf(files->reference, PATH_BUFFER_SIZE, "%s%c%s", reference_folder, SEPARATOR, name);
    int current = snprintf(files->current, PATH_BUFFER_SIZE, "%s%c%s", folder, SEPARATOR, name);
    int output = snprintf(files->output, PATH_BUFFER_SIZE, "%s%c%s%s", folder, SEPARATOR, name,
                          OUTPUT_SUFFIX);
    if (!fits_path(files->reference, reference) || !fits_path(files->current, current) ||
        !fits_path(files->output, output))
        return -1;
    visible_text(files->shown_reference, SHOWN_SIZE, files->reference);
    visible_text(files->shown_current, SHOWN_SIZE, files->current);
    visible_text(files->shown_output, SHOWN_SIZE, files->output);
    return 0;
}

static void say(const ReconcileRun *run, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

const char *system_words(char *reason)
{
    os_error_text(reason, REASON_SIZE);
    if (reason[0] == '\0')
        snprintf(reason, REASON_SIZE, "unknown error");
    return reason;
}

// The last part of a path.
static const char *name_in(const char *path)
{
    const char *slash = strrchr(path, SEPARATOR);
    return slash ? slash + 1 : path;
}

// ---- Reading the two files -----------------------------------------------------------------

// Says why a file could not be taken in; is_reference tells which of the two it was.
static void report_unread(const ReconcileRun *run, const VehicleFiles *files, int is_reference,
                          int result)
{
    const char *path = is_reference ? files->shown_reference : files->shown_current;
    char reason[REASON_SIZE];
    if (result == VEH_NOT_OPENED || result == VEH_READ_FAILED) {
        if (is_reference)
            say(run, "Could not read %s: %s; %s left unchanged\n", path, system_words(reason),
                files->shown_current);
        else
            say(run, "Could not read %s: %s; it is left unchanged\n", path, system_words(reason));
        return;
    }
    const char *what = result == VEH_NO_MEMORY   ? "is too large to read into memory"
                       : result == VEH_HOLDS_NUL ? "holds a NUL byte, so it is not plain text"
                                                 : "holds text after a Ctrl-Z character";
    if (is_reference)
        say(run, "Skipped %s: its reference %s %s\n", files->shown_current, path, what);
    else
        say(run, "Skipped %s: it %s\n", files->shown_current, what);
}

// The new file, opened once for reading and writing; a file that cannot be written (read-only,
// held by another program) is opened for reading only, and why it could not be written is kept
// for the line that says so once its updated text exists.
struct CurrentFile {
    OsOpenFile open;
    char unwritable[REASON_SIZE]; // "" when open for writing
};

static void say_leads_out(const ReconcileRun *run, const VehicleFiles *files)
{
    char shown[SHOWN_SIZE];
    say(run, "Skipped %s: it no longer leads to the file read, or leads out of %s\n",
        files->shown_current, visible_text(shown, sizeof shown, run->folder_final));
}

// Opens the new file. 0, or -1 after a line saying why not.
static int open_current(const ReconcileRun *run, const VehicleFiles *files, CurrentFile *current)
{
    current->unwritable[0] = '\0';
    if (open_run_file(run, 0, files->current, 1, &current->open) != 0) {
        system_words(current->unwritable);
        if (open_run_file(run, 0, files->current, 0, &current->open) != 0) {
            // The hold opens no link that leads out of the folder.
            if (run->held_folder && os_is_link(files->current) == 1)
                say_leads_out(run, files);
            else
                report_unread(run, files, 0, VEH_NOT_OPENED);
            return -1;
        }
    }
    // A second name, perhaps outside the new folder, would show the new text too.
    if (current->open.status.is_file && current->open.names <= 1)
        return 0;
    if (current->open.status.is_file)
        say(run,
            "Skipped %s: it has a second name (a hard link), whose file would change "
            "with it\n",
            files->shown_current);
    else
        say(run, "Skipped %s: it is not a regular file\n", files->shown_current);
    os_close(current->open.fd);
    return -1;
}

// Reads the reference (open) and the new file (open too, once this succeeds) whole. 0, or -1
// after a line saying why not (the new file then closed).
static int read_both(const ReconcileRun *run, const VehicleFiles *files,
                     const OsOpenFile *reference, CurrentFile *current, VehText *reference_text,
                     VehText *current_text)
{
    if (!reference->status.is_file) {
        say(run, "Skipped %s: its reference %s is not a regular file\n", files->shown_current,
            files->shown_reference);
        return -1;
    }
    if (open_current(run, files, current) != 0)
        return -1;
    int result = read_veh_file(reference, reference_text);
    if (result != 0)
        report_unread(run, files, 1, result);
    else if ((result = read_veh_file(&current->open, current_text)) != 0)
        report_unread(run, files, 0, result);
    if (result == 0)
        return 0;
    os_close(current->open.fd);
    return -1;
}

// ---- Writing the output and putting it in place --------------------------------------------

// Creates the output file only when nothing of its name is there, in one step, and writes the
// text into it. 0; 1 when something of its name is there already (nothing written), as the
// listing told (or, without one, a look) when listed is 1, else as the create found; -1 after
// a line saying why it could not be made (a failed output is deleted again).
static int write_output(const VehicleFiles *files, const ReconcileRun *run, int listed,
                        const TextBuffer *text, int *kept)
{
    char reason[REASON_SIZE];
    if (listed && (run->sorted ? (run->kinds & LISTED_OUTPUTS) &&
                                     find_listed(run, name_in(files->output)) >= 0
                               : os_exists(files->output)))
        return 1;
    int output = create_run_file(run, files->output);
    if (output < 0) {
        // The reason is the create's: the status call below sets the system's error anew.
        system_words(reason);
        OsFileStatus status;
        if (os_file_status(files->output, &status) == 0 && status.is_file)
            return 1;
        say(run, "Could not create %s: %s; %s left unchanged\n", files->shown_output, reason,
            files->shown_current);
        return -1;
    }
    uint32_t done = 0;
    while (done < text->size) {
        int32_t written = os_write(output, text->bytes + done, text->size - done);
        if (written <= 0)
            break;
        done += static_cast<uint32_t>(written);
    }
    if (done == text->size) {
        *kept = output;
        return 0;
    }
    delete_created_run_file(run, output, files->output);
    say(run, "Could not write %s: %s left unchanged\n", files->shown_output, files->shown_current);
    return -1;
}

enum { REPLACED = 1, NOT_THERE = 0, NOT_WRITTEN = -1, NOT_FLUSHED = -2 };

// Puts bytes in place of what the new file holds, through its handle, once its name still
// leads to it inside the new folder; the bytes are not flushed yet. REPLACED; NOT_THERE, the
// name leads elsewhere now or out of the folder (the file is left as it is); or NOT_WRITTEN,
// the file cannot be written, and reason (REASON_SIZE bytes) says why.
static int rewrite_current(const VehicleFiles *files, const ReconcileRun *run,
                           const CurrentFile *current, const char *bytes, uint32_t size,
                           char *reason)
{
    if (!run_file_is_still_at(run, files->current, &current->open))
        return NOT_THERE;
    if (current->unwritable[0]) {
        snprintf(reason, REASON_SIZE, "%s", current->unwritable);
        return NOT_WRITTEN;
    }
    if (os_replace_content(&current->open, bytes, size) != 0) {
        system_words(reason);
        return NOT_WRITTEN;
    }
    return REPLACED;
}

// The line of a file that rewrite_current left as it was (replaced NOT_THERE or NOT_WRITTEN);
// kept_in names the file that keeps the text.
static void say_not_replaced(const VehicleFiles *files, ReconcileRun *run, int replaced,
                             const char *reason, const char *kept_in)
{
    if (replaced == NOT_THERE) {
        say_leads_out(run, files);
        return;
    }
    say(run, "Could not update %s: %s; its updated text is kept in %s\n", files->shown_current,
        reason, kept_in);
    mark_named(run, name_in(files->output));
}

// rewrite_current, then the file flushed: REPLACED, or else NOT_THERE or NOT_WRITTEN after a
// line saying why.
static int replace_current(const VehicleFiles *files, ReconcileRun *run, const CurrentFile *current,
                           const char *bytes, uint32_t size, const char *kept_in)
{
    char reason[REASON_SIZE];
    int replaced = rewrite_current(files, run, current, bytes, size, reason);
    // The output stays until the file's new text is on the disk.
    if (replaced == REPLACED && os_flush_file(current->open.fd, files->current) != 0) {
        system_words(reason);
        replaced = NOT_WRITTEN;
    }
    if (replaced != REPLACED)
        say_not_replaced(files, run, replaced, reason, kept_in);
    return replaced;
}

// Deletes the output once the file holds its text: through kept, its descriptor, when this
// run made it (closed then), else by its name. A failure leaves a copy and says so.
static void delete_output(const VehicleFiles *files, ReconcileRun *run, int kept)
{
    char reason[REASON_SIZE];
    int deleted = kept >= 0 ? delete_created_run_file(run, kept, files->output)
                            : delete_run_file(run, files->output);
    if (deleted != 0) {
        say(run, "Could not delete %s: %s\n", files->shown_output, system_words(reason));
        mark_named(run, name_in(files->output));
        run->not_deleted++;
    }
}

// ---- An output file left by an earlier run ------------------------------------------------

// 1 when the first size bytes of longer are shorter, else 0.
static int starts_with(const char *longer, uint32_t longer_size, const char *shorter, uint32_t size)
{
    return size <= longer_size && memcmp(longer, shorter, size) == 0;
}

enum { SETTLED_NOT = 0, SETTLED_FINISHED = 1, SETTLED_GONE = 2 };

static void say_output_in_the_way(const ReconcileRun *run, const VehicleFiles *files)
{
    say(run,
        "Skipped %s: %s already exists and may hold its updated text from an interrupted "
        "run\n",
        files->shown_current, files->shown_output);
}

// Decides about an output file that was there before: when the new file is a strict prefix of
// it (a copy back cut short, an empty file included unless the text made now extends the
// output), or when it is the whole text made now (an output written before the file was cut),
// the copy back is finished, and *leftover keeps its text; when it is a shorter prefix of the
// text made now (an output cut short), or the same as the whole file (a copy back that ended
// before the delete), it is deleted to be made again. Anything else may be the only whole copy
// of the text or the user's own, and is left. SETTLED_FINISHED, SETTLED_GONE
// (made again next), or SETTLED_NOT after a line.
static int settle_leftover(const VehicleFiles *files, ReconcileRun *run, const CurrentFile *current,
                           const VehText *current_text, const TextBuffer *text, VehText *leftover)
{
    mark_named(run, name_in(files->output));
    // Only a plain file whose name leads to it inside the new folder is read: a link in a
    // car pack from elsewhere could lead to any file, and a FIFO to no end.
    OsOpenFile found;
    int read = VEH_NOT_OPENED;
    if (open_run_file(run, 0, files->output, 0, &found) == 0) {
        int plain = found.status.is_file && run_file_is_still_at(run, files->output, &found);
        read = plain ? read_veh_file(&found, leftover) : VEH_NOT_OPENED;
        os_close(found.fd);
    }
    int readable = read == 0 || read == VEH_HOLDS_NUL || read == VEH_TEXT_AFTER_CTRL_Z;
    int made_short =
        readable && starts_with(text->bytes, text->size, leftover->bytes, leftover->size);
    // An empty file is a prefix of every text: beside an output that the text made now
    // extends, it is a file that was empty before, whose output was cut short.
    int copied_short =
        readable && current_text->size < leftover->size &&
        starts_with(leftover->bytes, leftover->size, current_text->bytes, current_text->size) &&
        !(current_text->size == 0 && made_short);
    // The whole text made now, beside a file that does not hold it yet: an output that reached
    // the disk before the run stopped.
    int whole = made_short && leftover->size == text->size &&
                !(current_text->size == text->size &&
                  starts_with(text->bytes, text->size, current_text->bytes, current_text->size));
    if (copied_short || whole) {
        if (replace_current(files, run, current, leftover->bytes, leftover->size,
                            files->shown_output) != REPLACED)
            return SETTLED_NOT;
        say(run, "Finished %s from %s, which an interrupted run left\n", files->shown_current,
            files->shown_output);
        delete_output(files, run, -1);
        // Finished, but text that is not plain is left as any such file is.
        if (read != 0) {
            report_unread(run, files, 0, read);
            return SETTLED_NOT;
        }
        return SETTLED_FINISHED;
    }
    char reason[REASON_SIZE];
    if (made_short && delete_run_file(run, files->output) != 0) {
        say(run, "Could not delete %s: %s; %s left unchanged\n", files->shown_output,
            system_words(reason), files->shown_current);
        return SETTLED_NOT;
    }
    if (made_short) {
        say(run, "Making %s again: an interrupted run left it unfinished\n", files->shown_output);
        return SETTLED_GONE;
    }
    // The same bytes as the whole file: a copy back that ended before the delete, perhaps with
    // the keys of another reference. Nothing is lost with it.
    if (readable && leftover->size == current_text->size &&
        starts_with(leftover->bytes, leftover->size, current_text->bytes, current_text->size)) {
        if (delete_run_file(run, files->output) != 0) {
            say(run, "Could not delete %s: %s; %s left unchanged\n", files->shown_output,
                system_words(reason), files->shown_current);
            return SETTLED_NOT;
        }
        say(run, "Deleted %s: an interrupted run left it, and %s holds the same text\n",
            files->shown_output, files->shown_current);
        return SETTLED_GONE;
    }
    say_output_in_the_way(run, files);
    return SETTLED_NOT;
}

// Writes the output, to be copied back with its batch (see settle_batch). 1 with *kept its
// descriptor, else 0 after a line saying why not. A leftover output is settled first; a file
// finished from it is then updated from the reference like any other (*current_text and *text
// made again from what it holds now).
static int write_in_full(const VehicleFiles *files, ReconcileRun *run, const CurrentFile *current,
                         const VehText *reference, VehText *current_text, TextBuffer *text,
                         int *kept)
{
    int written = write_output(files, run, 1, text, kept);
    if (written == 1) {
        VehText leftover = {};
        int settled = settle_leftover(files, run, current, current_text, text, &leftover);
        if (settled == SETTLED_FINISHED) {
            free_veh_text(current_text);
            *current_text = leftover;
            free(text->bytes);
            *text = {};
            if (make_vehicle_text(reference, current_text, text) != 0) {
                say(run, "Skipped %s: not enough memory to update it\n", files->shown_current);
                return 0;
            }
        } else {
            free_veh_text(&leftover);
        }
        if (settled == SETTLED_NOT)
            return 0;
        written = write_output(files, run, 0, text, kept);
        if (written == 1)
            say_output_in_the_way(run, files);
    }
    return written == 0;
}

// ---- A leftover of version 1.1.0 ----------------------------------------------------------

// 1.1.0 wrote car.veh's updated text to new_car.veh and copied it back: a run cut off in the
// copy left car.veh empty or a start of new_car.veh. Names new_car.veh in one line when that
// is so and the reference folder has no new_car.veh (which makes it a car of its own): shown
// (SHOWN_SIZE bytes) is set to new_car.veh's path as printed, else to "".
static void find_old_output(const VehicleFiles *files, const ReconcileRun *run, const char *name,
                            const VehText *current_text, char *shown)
{
    char old_name[OS_NAME_SIZE], old_path[PATH_BUFFER_SIZE], reference[PATH_BUFFER_SIZE];
    shown[0] = '\0';
    int named = snprintf(old_name, sizeof old_name, "new_%s", name);
    if (!(run->kinds & LISTED_NEW_NAMES) || named < 0 || named >= OS_NAME_SIZE ||
        find_listed(run, old_name) < 0)
        return;
    int folder_length = static_cast<int>(name_in(files->current) - files->current);
    int reference_folder_length = static_cast<int>(name_in(files->reference) - files->reference);
    int old_length =
        snprintf(old_path, sizeof old_path, "%.*s%s", folder_length, files->current, old_name);
    int reference_length = snprintf(reference, sizeof reference, "%.*s%s", reference_folder_length,
                                    files->reference, old_name);
    if (!fits_path(old_path, old_length) || !fits_path(reference, reference_length) ||
        os_exists(reference))
        return;
    int starts = current_text->size == 0;
    if (!starts) {
        VehText old_text;
        read_veh_text(old_path, &old_text);
        starts =
            old_text.bytes && current_text->size < old_text.size &&
            starts_with(old_text.bytes, old_text.size, current_text->bytes, current_text->size);
        free_veh_text(&old_text);
    }
    if (starts)
        visible_text(shown, SHOWN_SIZE, old_path);
}

// ---- Cars put in place in batches --------------------------------------------------------

// A car is cut only once its output is on the disk, and its output deleted only once the car's
// new text is: two flushes, each a round trip to the disk that costs more than all the rest of
// a car's work. The cars of a batch share them: their outputs are written, flushed in one go,
// the cars rewritten, flushed in one go, and the outputs deleted. POSIX flushes a batch with one
// syncfs, whose cost hardly grows with the files it writes out; Windows flushes each handle.
// A batch holds up to BATCH_FILES cars: 1,000 cars take 8 flushes, and a batch's two
// descriptors per car (the car, its output) stay within half of the 1,024 that Linux allows a
// process by default, and a quarter of the C library's 2,048 on Windows. Its texts stay within
// BATCH_TEXT bytes (a larger car makes a batch of its own), so a run's memory stays bounded.
enum { BATCH_FILES = 256 };
static const uint32_t BATCH_TEXT = 8u << 20;

// A car whose output is written, waiting for the rest of its batch.
struct BatchCar {
    VehicleFiles files;
    CurrentFile current;         // open; its fd the batch's to close
    int kept;                    // the output's descriptor
    TextBuffer text;             // the car's updated text, the output's content
    char old_output[SHOWN_SIZE]; // a version 1.1.0 output to point out once updated, or ""
    int replaced;                // REPLACED, NOT_THERE, NOT_WRITTEN or NOT_FLUSHED
    char reason[REASON_SIZE];    // why NOT_WRITTEN
};

struct CarBatch {
    BatchCar *cars;
    int32_t capacity, count;
    uint32_t text_size;
    const char *folder; // the new folder, as the cars' paths begin
    uint64_t volume;    // its file system (OsFolderId.volume); 0 when not known
    ReconcileRun *run;
    int8_t settling;
};

// Flushes the rewritten cars: those on the new folder's file system in one go, another (a link
// to a file on a file system mounted inside the folder) on its own. A car that cannot be
// flushed is NOT_WRITTEN.
static void flush_rewritten(CarBatch *batch)
{
    int fds[BATCH_FILES];
    const char *paths[BATCH_FILES];
    BatchCar *together[BATCH_FILES];
    int32_t count = 0;
    for (int32_t at = 0; at < batch->count; at++) {
        BatchCar *car = &batch->cars[at];
        if (car->replaced != REPLACED)
            continue;
        if (batch->volume != 0 && car->current.open.volume == batch->volume) {
            fds[count] = car->current.open.fd;
            paths[count] = car->files.current;
            together[count++] = car;
        } else if (os_flush_file(car->current.open.fd, car->files.current) != 0) {
            car->replaced = NOT_WRITTEN;
            system_words(car->reason);
        }
    }
    if (os_flush_files(fds, paths, count, batch->folder) == 0)
        return;
    for (int32_t at = 0; at < count; at++) {
        together[at]->replaced = NOT_WRITTEN;
        system_words(together[at]->reason);
    }
}

// The end of one car of a settled batch: its line, its output deleted (or left with the text
// when the car could not take it), its count; its handle and text released.
static void finish_car(ReconcileRun *run, BatchCar *car)
{
    const VehicleFiles *files = &car->files;
    if (car->replaced == NOT_FLUSHED) {
        delete_created_run_file(run, car->kept, files->output);
        say(run, "Could not write %s: %s left unchanged\n", files->shown_output,
            files->shown_current);
        run->unchanged++;
    } else if (car->replaced != REPLACED) {
        // The output of a file left as it is would only be in the next run's way.
        if (car->replaced == NOT_THERE)
            delete_created_run_file(run, car->kept, files->output);
        else
            os_close(car->kept);
        say_not_replaced(files, run, car->replaced, car->reason, files->shown_output);
        run->unchanged++;
    } else {
        say(run, "%s\n", files->shown_current);
        delete_output(files, run, car->kept);
        if (car->old_output[0])
            say(run,
                "Found %s, which may hold the whole text of %s from an interrupted run of "
                "Pelmora 1.1.0: see \"After an interrupted run\" in README.txt\n",
                car->old_output, files->shown_current);
        run->updated++;
    }
    os_close(car->current.open.fd);
    free(car->text.bytes);
}

// Puts the batch's cars in place: their outputs flushed, each car rewritten through its
// handle, the cars flushed, then car by car in the listing's order its line and its output
// deleted. A power loss at any point leaves each car as it was, updated, or finishable by the
// next run from its whole output. A batch empty or being settled is left as it is.
static void settle_batch(CarBatch *batch)
{
    if (!batch || batch->count == 0 || batch->settling)
        return;
    batch->settling = 1;
    int fds[BATCH_FILES];
    const char *paths[BATCH_FILES];
    for (int32_t at = 0; at < batch->count; at++) {
        fds[at] = batch->cars[at].kept;
        paths[at] = batch->cars[at].files.output;
    }
    int flushed = os_flush_files(fds, paths, batch->count, batch->folder) == 0;
    for (int32_t at = 0; at < batch->count; at++) {
        BatchCar *car = &batch->cars[at];
        car->replaced = flushed ? rewrite_current(&car->files, batch->run, &car->current,
                                                  car->text.bytes, car->text.size, car->reason)
                                : NOT_FLUSHED;
    }
    flush_rewritten(batch);
    for (int32_t at = 0; at < batch->count; at++)
        finish_car(batch->run, &batch->cars[at]);
    batch->count = 0;
    batch->text_size = 0;
    batch->settling = 0;
}

// Prints a line like os_print, after the lines of the cars in the batch: a car's lines follow
// the listing's order, as if each car were put in place on its own.
static void say(const ReconcileRun *run, const char *format, ...)
{
    settle_batch(run->batch);
    char line[LINE_SIZE];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    os_print("%s", line);
}

// Settles the batch when a car whose text is size bytes would not fit in it, before that car's
// output is written: the batch's texts and what is written beside them stay within bounds.
static void make_room(CarBatch *batch, uint32_t size)
{
    if (batch->count == batch->capacity ||
        (batch->count > 0 && size > BATCH_TEXT - batch->text_size))
        settle_batch(batch);
}

// Adds a car whose output is written to the run's batch (made room for). The batch takes over
// current's descriptor, kept and text (emptied here).
static void join_batch(ReconcileRun *run, const VehicleFiles *files, const CurrentFile *current,
                       int kept, TextBuffer *text, const char *old_output)
{
    CarBatch *batch = run->batch;
    make_room(batch, text->size);
    BatchCar *car = &batch->cars[batch->count++];
    car->files = *files;
    car->current = *current;
    car->kept = kept;
    car->text = *text;
    *text = {};
    snprintf(car->old_output, sizeof car->old_output, "%s", old_output);
    batch->text_size += car->text.size;
}

// ---- One file ------------------------------------------------------------------------------

// Reads the two files, makes the updated text and writes the output. 1 when the file joined
// the run's batch, 0 when it is left unchanged (after a line).
static int update_vehicle_file(const VehicleFiles *files, ReconcileRun *run, const char *name,
                               const OsOpenFile *reference)
{
    VehText reference_text = {}, current_text = {};
    TextBuffer text = {};
    CurrentFile current;
    int joined = 0, kept = -1;
    if (read_both(run, files, reference, &current, &reference_text, &current_text) == 0) {
        int made = make_vehicle_text(&reference_text, &current_text, &text);
        if (made == VEH_REFERENCE_NO_KEYS)
            say(run, "Skipped %s: its reference %s has no DescFile= or DescClass= line\n",
                files->shown_current, files->shown_reference);
        else if (made != 0)
            say(run, "Skipped %s: not enough memory to update it\n", files->shown_current);
        else {
            make_room(run->batch, text.size);
            joined =
                write_in_full(files, run, &current, &reference_text, &current_text, &text, &kept);
        }
        if (joined) {
            char old_output[SHOWN_SIZE];
            find_old_output(files, run, name, &current_text, old_output);
            join_batch(run, files, &current, kept, &text, old_output);
        } else {
            os_close(current.open.fd);
        }
    }
    free(text.bytes);
    free_veh_text(&current_text);
    free_veh_text(&reference_text);
    return joined;
}

// Opens the reference of a .veh file. 1 with *reference open; 0 when the reference folder has
// no file of that name (or a folder), passed over without a word; -1 after a line saying why
// it cannot be opened.
static int open_reference(const ReconcileRun *run, const VehicleFiles *files, OsOpenFile *reference)
{
    if (open_run_file(run, 1, files->reference, 0, reference) == 0) {
        if (!reference->status.is_directory)
            return 1;
        os_close(reference->fd);
        return 0;
    }
    char reason[REASON_SIZE];
    system_words(reason);
    OsFileStatus status;
    if (os_file_status(files->reference, &status) != 0 || status.is_directory)
        return 0;
    say(run, "Could not read %s: %s; %s left unchanged\n", files->shown_reference, reason,
        files->shown_current);
    return -1;
}

// reconcile_vehicle_file with the run's batch.
static void reconcile_in_batch(WalkEntry *entry, ReconcileRun *run)
{
    char listed[2 * OS_NAME_SIZE], folder[SHOWN_SIZE];
    visible_text(listed, sizeof listed, entry->name);
    visible_text(folder, sizeof folder, entry->directory);
    set_ascii_case(entry->name, ASCII_LOWER);
    if (match_wildcard(entry->name, "*.veh") != 1)
        return;
    VehicleFiles files;
    if (build_paths(&files, run->reference_folder, entry->directory, entry->name) != 0) {
        say(run, "Skipped %s%c%s: the path is too long\n", folder, SEPARATOR, listed);
        run->unchanged++;
        return;
    }
    OsOpenFile reference;
    int opened = open_reference(run, &files, &reference);
    if (opened <= 0) {
        run->unchanged += opened < 0;
        return;
    }
    if (is_case_twin(run, entry->name)) {
        say(run, "Skipped %s%c%s: another name in its folder differs from it only in case\n",
            folder, SEPARATOR, listed);
        run->unchanged++;
    } else if (!update_vehicle_file(&files, run, entry->name, &reference)) {
        run->unchanged++;
    }
    os_close(reference.fd);
}

int8_t reconcile_vehicle_file(WalkEntry *entry)
{
    ReconcileRun *run = static_cast<ReconcileRun *>(entry->argument);
    if (run->batch) {
        reconcile_in_batch(entry, run);
        return 0;
    }
    BatchCar car;
    CarBatch single = {&car, 1, 0, 0, entry->directory, 0, run, 0};
    run->batch = &single;
    reconcile_in_batch(entry, run);
    settle_batch(&single);
    run->batch = nullptr;
    return 0;
}

void reconcile_listed(char *folder, const Listing *listing, ReconcileRun *run)
{
    CarBatch batch = {static_cast<BatchCar *>(malloc(BATCH_FILES * sizeof(BatchCar))),
                      BATCH_FILES,
                      0,
                      0,
                      folder,
                      0,
                      run,
                      0};
    OsFolderId id;
    if (batch.cars && os_folder_id(folder, &id) == 0)
        batch.volume = id.volume;
    run->batch = batch.cars ? &batch : nullptr;
    for (int32_t at = 0; at < listing->count; at++) {
        char name[OS_NAME_SIZE];
        snprintf(name, sizeof name, "%s", listing->order[at]);
        WalkEntry entry = {name, folder, 0, 0777, run};
        reconcile_vehicle_file(&entry);
    }
    settle_batch(run->batch);
    run->batch = nullptr;
    free(batch.cars);
}
