// A .veh file's text as Pelmora reads it: the whole file read in binary and split into the
// lines an editor shows. LF, CR LF and a lone CR each end a line; a UTF-8 mark (EF BB BF) at
// the very start belongs to no line; the first Ctrl-Z (26) ends the text. And the text Pelmora
// makes from a new file and its reference, with CR LF line ends.
#pragma once

#include <stdint.h>

#include "os.h"

// One file's bytes, on the heap, and where its text lies in them.
struct VehText {
    char *bytes;     // the whole file, with a NUL after it; null before a read
    uint32_t size;   // bytes in the file
    uint32_t start;  // the first byte of the text: 3 after a UTF-8 mark, else 0
    uint32_t end;    // one past the text: the first Ctrl-Z, or size
    int8_t has_mark; // 1 when the file begins with the UTF-8 mark
};

// The results of read_veh_text besides 0.
enum {
    VEH_NOT_OPENED = 1,       // the file could not be opened (os_error_text says why)
    VEH_READ_FAILED = 2,      // a read failed part-way (os_error_text says why)
    VEH_NO_MEMORY = 3,        // the file does not fit in memory
    VEH_HOLDS_NUL = 4,        // a NUL byte lies in the text
    VEH_TEXT_AFTER_CTRL_Z = 5 // something other than Ctrl-Z follows the first Ctrl-Z
};

// Reads the whole file at path (a regular file) into *text. 0, or one of the VEH_ results;
// on every result text->bytes is either null or the caller's to free with free_veh_text.
int read_veh_text(const char *path, VehText *text);
// The same for a file already open (read from where its descriptor stands, in practice its
// start); the descriptor stays open. VEH_NOT_OPENED is never the result.
int read_veh_file(const OsOpenFile *file, VehText *text);
// Frees the bytes and empties the record; an empty record is left as it is.
void free_veh_text(VehText *text);

// One line of a VehText: its bytes (no line end) and whether a line end closed it.
struct VehLine {
    const char *bytes;
    uint32_t length;
    int8_t ended; // 0 only for a last line that runs to the end of the text
};

// Sets *line to the line that begins at *at (from text->start) and moves *at past its line
// end. 1, or 0 when *at is at the end of the text.
int next_veh_line(const VehText *text, uint32_t *at, VehLine *line);

// A text being made, on the heap, kept terminated.
struct TextBuffer {
    char *bytes;       // null until the first append
    uint32_t size;     // bytes held, the NUL not counted
    uint32_t capacity; // bytes allocated
};

// The results of make_vehicle_text besides 0.
enum {
    VEH_OUT_OF_MEMORY = 1,    // the text does not fit in memory
    VEH_REFERENCE_NO_KEYS = 2 // the reference has no line holding "DescFile=" or "DescClass="
};

// Makes into *out (empty on entry) the updated text of current: the UTF-8 mark when current
// has one, the reference's lines holding "DescFile=" up to and including the first holding
// "DescClass=" (a line with both twice), then every line of current holding neither key.
// Every line end written is CR LF; current's last line keeps having none when it had none.
// 0 or a VEH_ result; out->bytes is the caller's to free in every case.
int make_vehicle_text(const VehText *reference, const VehText *current, TextBuffer *out);
