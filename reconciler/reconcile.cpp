// Pelmora's rewriting of .veh files: the walk over the new folder, and per file the output
// file built from the reference key lines and the file's other lines, copied back in place.
#include "reconcile.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "os.h"
#include "utility.h"

enum { PIECE_SIZE = 256 }; // pieces of at most 255 characters

static const char DESC_FILE[] = "DescFile=";
static const char DESC_CLASS[] = "DescClass=";
static const char SEPARATOR = '\\';

// The three paths of one .veh file, each at most 255 characters.
struct VehicleFiles {
    char reference[PATH_BUFFER_SIZE];
    char current[PATH_BUFFER_SIZE];
    char output[PATH_BUFFER_SIZE];
};

static void lower_case(char *text)
{
    for (; *text; text++)
        if (*text >= 'A' && *text <= 'Z')
            *text = static_cast<char>(*text - 'A' + 'a');
}

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
    int output = snprintf(files->output, PATH_BUFFER_SIZE, "%s%cnew_%s", folder, SEPARATOR, name);
    return fits_path(reference) && fits_path(current) && fits_path(output) ? 0 : -1;
}

// What became of one file's output file.
enum Outcome {
    OUTPUT_WRITTEN,   // it holds the whole updated text
    NOT_OPENED,       // a file could not be opened, or the output not created: nothing written
    OUTPUT_EXISTS,    // a file of its name was there already: nothing opened for writing
    WRITE_FAILED,     // writing or closing it failed
    NUL_IN_REFERENCE, // the reference file holds a NUL byte
    NUL_IN_CURRENT    // the new file holds a NUL byte
};

enum { PIECE_HOLDS_NUL = 1 };

// The length of the next piece (0 at the end of the text), or -1 when it holds a NUL byte: a
// NUL would cut the piece short for every string routine and lose the rest of its line.
static int read_text_piece(char *piece, Stream *stream)
{
    int length = stream_read_piece(piece, PIECE_SIZE, stream);
    return memchr(piece, '\0', static_cast<size_t>(length)) ? -1 : length;
}

// Writes a key piece copies times. A piece that ends the reference text without a line end
// gets one after each copy, so that the new file's first line does not run on behind it.
// 0, or -1 on a write error.
static int write_key_piece(Stream *output, const char *piece, int copies, int ends_text)
{
    size_t length = strlen(piece);
    int supply_line_end = ends_text && (length == 0 || piece[length - 1] != '\n');
    for (int copy = 0; copy < copies; copy++) {
        if (stream_puts(piece, output) == EOF)
            return -1;
        if (supply_line_end && stream_puts("\n", output) == EOF)
            return -1;
    }
    return 0;
}

// Writes the reference pieces holding "DescFile=", up to and including the first piece
// holding "DescClass="; a piece with both keys is written twice. The rest is still read, only
// to find a NUL byte. A key piece is held until the next read: a piece cut at the buffer limit
// gives no sign of whether the text ends right behind it. 0, -1 on a write error, or
// PIECE_HOLDS_NUL.
static int copy_reference_keys(Stream *reference, Stream *output)
{
    char piece[PIECE_SIZE], held[PIECE_SIZE];
    int copies = 0, taking = 1, result = 0, length;
    while ((length = read_text_piece(piece, reference)) > 0) {
        if (copies > 0 && write_key_piece(output, held, copies, 0) != 0)
            result = -1;
        copies = 0;
        if (!taking)
            continue;
        copies = (strstr(piece, DESC_FILE) ? 1 : 0) + (strstr(piece, DESC_CLASS) ? 1 : 0);
        taking = strstr(piece, DESC_CLASS) == nullptr;
        if (copies > 0)
            memcpy(held, piece, static_cast<size_t>(length) + 1);
    }
    if (length < 0)
        return PIECE_HOLDS_NUL;
    if (copies > 0 && write_key_piece(output, held, copies, 1) != 0)
        result = -1;
    return result;
}

// Writes every piece of the new file that holds neither key. 0, -1 on a write error, or
// PIECE_HOLDS_NUL.
static int copy_other_pieces(Stream *current, Stream *output)
{
    char piece[PIECE_SIZE];
    int result = 0, length;
    while ((length = read_text_piece(piece, current)) > 0)
        if (!strstr(piece, DESC_FILE) && !strstr(piece, DESC_CLASS) &&
            stream_puts(piece, output) == EOF)
            result = -1;
    return length < 0 ? PIECE_HOLDS_NUL : result;
}

// Creates the output file only when nothing of its name is there, in one step: an earlier
// new_ file may hold the only whole copy of the text (after a copy back that was cut short),
// or be the user's own. A folder of that name could never be created over, and is skipped
// silently.
static int create_output(const char *path, Stream **output)
{
    *output = stream_open(path, "wx");
    if (*output)
        return OUTPUT_WRITTEN;
    OsFileStatus status;
    if (os_file_status(path, &status) == 0 && !status.is_directory)
        return OUTPUT_EXISTS;
    return NOT_OPENED;
}

// Fills the output file; a reference that holds a NUL leaves the new file unread.
static int fill_output(Stream *reference, Stream *current, Stream *output)
{
    int keys = copy_reference_keys(reference, output);
    if (keys == PIECE_HOLDS_NUL)
        return NUL_IN_REFERENCE;
    int others = copy_other_pieces(current, output);
    if (others == PIECE_HOLDS_NUL)
        return NUL_IN_CURRENT;
    return keys != 0 || others != 0 ? WRITE_FAILED : OUTPUT_WRITTEN;
}

// Opens the two files read and writes the output file. An Outcome; every file is closed, the
// output last, since its close may still fail to write what it buffers.
static int write_output_file(const VehicleFiles *files)
{
    Stream *reference = stream_open(files->reference, "r");
    if (!reference)
        return NOT_OPENED;
    Stream *current = stream_open(files->current, "r");
    Stream *output = nullptr;
    int outcome = NOT_OPENED;
    if (current)
        outcome = create_output(files->output, &output);
    if (output)
        outcome = fill_output(reference, current, output);
    if (current)
        stream_close(current);
    stream_close(reference);
    if (output && stream_close(output) != 0 && outcome == OUTPUT_WRITTEN)
        outcome = WRITE_FAILED;
    return outcome;
}

// The output file is deleted only once the copy back succeeded: copy_file removes a
// destination it failed to write, so the output may then hold the only copy of the text.
static void copy_output_back(const VehicleFiles *files)
{
    if (copy_file(files->output, files->current) != 0) {
        printf("Could not update %s: its updated text is kept in %s\n", files->current,
               files->output);
        return;
    }
    os_delete_file(files->output);
}

// The line for an outcome other than a written output file; an output file made for nothing
// is deleted first.
static void report_unwritten(const VehicleFiles *files, int outcome)
{
    if (outcome == NOT_OPENED)
        return;
    if (outcome == OUTPUT_EXISTS) {
        printf("Skipped %s: %s already exists and may hold its updated text from an "
               "interrupted run\n",
               files->current, files->output);
        return;
    }
    os_delete_file(files->output);
    if (outcome == WRITE_FAILED)
        printf("Could not write %s: %s left unchanged\n", files->output, files->current);
    else if (outcome == NUL_IN_CURRENT)
        printf("Skipped %s: it holds a NUL byte, so it is not plain text\n", files->current);
    else
        printf("Skipped %s: its reference %s holds a NUL byte, so it is not plain text\n",
               files->current, files->reference);
}

int8_t reconcile_vehicle_file(WalkEntry *entry)
{
    lower_case(entry->name);
    if (match_wildcard(entry->name, "*.veh") != 1)
        return 0;
    const char *reference_folder = static_cast<const char *>(entry->argument);
    VehicleFiles files;
    if (build_paths(&files, reference_folder, entry->directory, entry->name) != 0) {
        printf("Skipped %s%c%s: the path is too long\n", entry->directory, SEPARATOR, entry->name);
        return 0;
    }
    int outcome = write_output_file(&files);
    if (outcome != OUTPUT_WRITTEN) {
        report_unwritten(&files, outcome);
        return 0;
    }
    printf("%s%c%s\n", entry->directory, SEPARATOR, entry->name);
    copy_output_back(&files);
    return 0;
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
    printf("Folder name too long: %s\n", folder);
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
        return 0;
    snprintf(walk_buffer, PATH_BUFFER_SIZE, "%s", folder);
    walk_directory(walk_buffer, reconcile_vehicle_file, reference, 0);
    free(walk_buffer);
    return 0;
}
