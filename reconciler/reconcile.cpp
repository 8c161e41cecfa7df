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

// A reference key piece that ends the reference file without a line end gets one, so that
// the new file's first line does not run on behind it. 0, or -1 on a write error.
static int write_key_piece(Stream *output, const char *piece, Stream *reference)
{
    if (stream_puts(piece, output) == EOF)
        return -1;
    size_t length = strlen(piece);
    if ((length == 0 || piece[length - 1] != '\n') && stream_eof(reference))
        return stream_puts("\n", output) == EOF ? -1 : 0;
    return 0;
}

// Writes the reference pieces holding "DescFile=", up to and including the first piece
// holding "DescClass="; a piece with both keys is written twice. 0, or -1 on a write error.
static int copy_reference_keys(Stream *reference, Stream *output)
{
    char piece[PIECE_SIZE];
    int result = 0;
    while (stream_gets(piece, PIECE_SIZE, reference)) {
        if (strstr(piece, DESC_FILE) && write_key_piece(output, piece, reference) != 0)
            result = -1;
        if (strstr(piece, DESC_CLASS)) {
            if (write_key_piece(output, piece, reference) != 0)
                result = -1;
            break;
        }
    }
    return result;
}

// Writes every piece of the new file that holds neither key. 0, or -1 on a write error.
static int copy_other_pieces(Stream *current, Stream *output)
{
    char piece[PIECE_SIZE];
    int result = 0;
    while (stream_gets(piece, PIECE_SIZE, current))
        if (!strstr(piece, DESC_FILE) && !strstr(piece, DESC_CLASS) &&
            stream_puts(piece, output) == EOF)
            result = -1;
    return result;
}

// Opens the three files and writes the output file. 0 when it holds the whole updated text,
// 1 when a file could not be opened (nothing written), -1 when writing it failed.
static int write_output_file(const VehicleFiles *files)
{
    Stream *reference = stream_open(files->reference, "r");
    if (!reference)
        return 1;
    Stream *current = stream_open(files->current, "r");
    if (!current) {
        stream_close(reference);
        return 1;
    }
    Stream *output = stream_open(files->output, "w");
    if (!output) {
        stream_close(current);
        stream_close(reference);
        return 1;
    }
    int result = copy_reference_keys(reference, output);
    if (copy_other_pieces(current, output) != 0)
        result = -1;
    stream_close(reference);
    stream_close(current);
    if (stream_close(output) != 0)
        result = -1;
    return result;
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
    int written = write_output_file(&files);
    if (written > 0)
        return 0;
    if (written < 0) {
        os_delete_file(files.output);
        printf("Could not write %s: %s left unchanged\n", files.output, files.current);
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
