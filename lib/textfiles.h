// Text and settings files: name = value settings files, console input, a pager and small
// text-file routines. Paths are Windows paths and go through the OS layer.
//
// Settings streams are the library's own Stream records (lib/stream.h), which carry their
// mode: a stream opened in text mode (no "b" in stream_open's mode) drops every CR on
// reading and ends at a byte 26 (Ctrl-Z), and writes LF as CR LF; a binary stream keeps
// every byte, so a CR before a line's LF stays at the end of the value read.
//
// Text files are read in line pieces of at most 255 bytes that end after the first LF; a
// longer line arrives as several pieces, each handled as a line of its own. Pieces are text,
// not names: they count bytes, not characters, whatever the encoding (a UTF-8 character may
// end one piece and go on in the next).
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "stream.h"

// ---- Settings files --------------------------------------------------------------------
//
// names: names separated by spaces, each at most 39 characters. types: one letter per name,
// in order: "i" int, "s" text, "p" allocated text; one further argument per letter.

// Reads "key = value" lines from the stream's position to its end; blank lines, lines
// starting with ";" or "[" and lines without "=" are skipped. For a key in names stores
// the value through the letter's argument, which is always a pointer: "i" int * (as atoi
// reads it), "s" char * of at least 256 bytes, "p" char ** receiving a malloc'ed copy the
// caller frees. A value starting with '"' loses that quote and everything from the next '"'
// on. The last line for a key wins; with "p" every such line allocates a new copy and the
// earlier copies are not freed (the routine cannot know they came from it).
// Result: 0 at the end of the stream; -1 when a read failed, on a setting line with an empty
// value or without a closing LF (whatever its key), on another letter for a key found, on no
// memory for a "p" copy, and, before anything is read, on a name longer than 39 characters or
// more letters than names. Values stored so far stay.
int8_t read_settings(Stream *stream, const char *names, const char *types, ...);

// Appends one line per letter at the end of the stream: "%s = \"%s\"" with a const char *
// for "s" and "p", "%s = %d" with an int for any other letter, each followed by LF.
// Result: 0; -1 (nothing written) on a name longer than 39 characters or more letters than
// names.
int write_settings(Stream *stream, const char *names, const char *types, ...);

// A line piece sets key when it holds "=" and the end of key's first occurrence lies at or
// before the first "=" (so "maxwidth=" sets "width"; "size=width" does not).

// Copies source to destination (binary, destination created or truncated) without the
// pieces that set key. Result: 0 when at least one piece was written; 1 when none was,
// when either file cannot be opened, or when both name the same file (refused before
// anything is opened; the file stays as it was); -1 when a read of the source or a write of
// the destination failed: the destination, short of the text, is deleted.
int8_t remove_setting(const char *source, const char *destination, const char *key);

// Copies source to destination (binary), writing "key=value" and the file's line end in
// place of every piece that sets key; when none does, appends that line (after a line end
// when the last line has none). The line end is CR LF or CR when the first piece shows it,
// else LF. Result: 0 when a piece was replaced; 1 when the line was appended, when either
// file cannot be opened, or, with the destination not touched, when the new line would not
// fit in 255 bytes or both name the same file; -1, as remove_setting, when a read or a
// write failed (the destination is deleted).
int8_t replace_setting(const char *source, const char *destination, const char *key,
                       const char *value);

// ---- Console input (standard input; the caller prints any prompt) ----------------------
//
// CR bytes are dropped, so a CR LF pipe reads like the Windows console. Input typed ahead
// on a console is discarded first; a pipe or file keeps its next lines. Standard input
// comes through os_read_input_char (lib/os.h): a Windows console's typing arrives in
// UTF-8.

// Reads one line into buffer (max_length + 1 bytes): at most max_length bytes, the LF
// not stored, the rest of a longer line discarded; always terminated. At the end of input
// the buffer holds what was read so far ("" when nothing). Result: buffer.
char *read_console_line(char *buffer, int max_length);
// read_console_line from another input; only stdin is discarded as console input.
char *read_line_from(FILE *input, char *buffer, int max_length);

// Reads a line of at most 10 characters. Result: if_empty for an empty line (or the end of
// input), if_zero when its value (as strtol reads it, base 10) is 0 or it is no number,
// else its value.
int read_console_number(int if_empty, int if_zero);
int read_number_from(FILE *input, int if_empty, int if_zero);

// Reads a folder name of at most 256 bytes into buffer (257 bytes) and cleans it: an
// opening '"' ends the name at the next '"' and is dropped; one trailing backslash is
// dropped. Result: 1 when the cleaned name can be listed as a folder; 0 otherwise (an empty
// answer, the end of input).
int ask_directory(char *buffer);
int ask_directory_from(FILE *input, char *buffer);

// Shows a text file (text mode) a screen at a time: 24 pieces of at most 79 bytes, then
// one more piece (without its line end) for each bare Enter. Returns at the end of the file,
// at any other input, and at the end of input. Result: 0, or -1 when the file cannot be
// opened.
int8_t page_text_file(const char *path);
// page_text_file with the answers read from input.
int8_t page_text_stream(const char *path, FILE *input);

// ---- File routines ---------------------------------------------------------------------

// Opens a stream as stream_open does. On failure prints "Can't open %s" and " %s\n" (the
// path, the system's error text) to standard error and ends the program with exit code 1.
// Result: the open stream, which the caller closes.
Stream *open_or_exit(const char *path, const char *mode);

// Creates path or truncates it to zero length. Result: 0, or -1 when it cannot be opened
// for writing.
int8_t create_empty_file(const char *path);

// 1 when text is not empty and holds only digits, letters A-Z a-z and " !&@_'()%-[]=",
// else 0.
int is_valid_name(const char *text);

// The first line break of a file: 0 for CR LF, 1 for LF, 2 for CR; -1 when none is
// classified (a CR at the very end is none) or the file cannot be opened.
int detect_line_ending(const char *path);
