// Windows path routines of the library: taking paths apart, making them absolute, searching
// PATH, locating a program file, creating folder chains and asking for a folder name.
// Paths use the backslash and are UTF-8. A path's length is counted as Windows counts it, in
// UTF-16 code units (os_utf16_length): "255 characters" below means 255 units, whatever the
// script, and a path buffer holds PATH_BUFFER_SIZE bytes, room for any path of that many units
// and the NUL. Routines whose path argument is not const may remove one trailing backslash
// from it.
#pragma once

#include <stdint.h>

// PATH_UNITS_MAX: the longest path the library handles, in UTF-16 units. PATH_BUFFER_SIZE:
// the bytes of a path buffer; a unit takes at most 3 bytes of UTF-8 (a character past U+FFFF
// takes 4 bytes for its 2 units).
enum { PATH_UNITS_MAX = 255, PATH_BUFFER_SIZE = 3 * PATH_UNITS_MAX + 3 };

// 1 when path fits a path buffer: at most PATH_UNITS_MAX UTF-16 units (a byte that is no
// UTF-8 counts one); else 0.
int path_fits(const char *path);

// Discards typed-ahead console input, then reads one line from standard input into buffer
// (PATH_BUFFER_SIZE bytes) without its line end (CR characters are dropped). It then drops
// a leading double quote and the text from the next double quote on, and one trailing
// backslash. Result: 1 when the cleaned text names an existing folder; 0 when it is empty,
// names nothing or names a file; READ_NAME_TOO_LONG for a line of more than 255 characters
// (UTF-16 units), whose rest is discarded and which leaves its first 255 characters in
// buffer, never a character cut in two, uncleaned, for a message (a cut name is never tried:
// never use it as a name); -1 at the end of standard input with nothing read (buffer "":
// callers must stop asking). A last line without a line end is an ordinary answer;
// READ_NAME_UTF16 for a line of UTF-16 text, which holds a NUL byte or starts with a UTF-16
// byte order mark (buffer holds the line up to its first NUL, never a name). Console input
// comes through os_read_input_char (lib/os.h).
enum { READ_NAME_TOO_LONG = 2, READ_NAME_UTF16 = 3 };
int read_directory_name(char *buffer);

// Taking paths apart: file_name_of, extension_of, directory_of, base_name_of, split_path
// and normalize_separators work on bytes. That is right for UTF-8, where no byte of a
// character beyond ASCII is ever '\', '/', '.' or ':' ('ソ' is E3 82 BD), so a
// component never ends inside a character. (An ANSI double-byte name, where the second byte
// of a character may be '\', must be converted to UTF-8 first.)

// The last component of path (a pointer into path). One trailing backslash of path is
// overwritten with NUL first. A bare drive ('C:', 'C:\') and "" give an empty name.
char *file_name_of(char *path);

// The extension of path's last component, after its last "." unless that "." starts the
// name (a pointer into path); the terminator when there is none.
char *extension_of(char *path);

// Copies into out the part of path in front of its last component, without the backslash
// before it; "." when that part is empty. out needs strlen(path) + 1 bytes, at least 2.
// Result: out.
char *directory_of(char *out, char *path);

// Copies into out the last component of path without its extension and the "." before it.
// out needs strlen(path) + 1 bytes. Result: out.
char *base_name_of(char *out, char *path);

// Copies the directory part ("" when empty), the base name and the extension of path into
// those of the three buffers that are not null (each strlen(path) + 1 bytes). Result: 0.
int split_path(char *path, char *directory, char *base, char *extension);

// Writes the absolute form of path into out (PATH_BUFFER_SIZE bytes): a path that begins
// with '/' or with a drive, ':' and '\' is copied unchanged; any other is joined to the
// current folder after its leading '.\', '..\' ('...\' climbs two) steps and '\' are
// consumed; dots not followed by '\' and steps inside the path are kept. At the root of a
// drive the result holds two separators in a row ('C:\\x'); climbing above the root stops
// at the root. Result: out, or null when the result would be longer than 255 characters
// (out then holds "").
char *make_absolute_path(char *out, const char *path);

// Finds a file: path itself when it exists, else its last component joined to each entry of
// the PATH variable in turn. path is a PATH_BUFFER_SIZE buffer. Result: path, now naming an
// existing file or folder, or null. On null path holds the last candidate tried, or is
// unchanged (no PATH, no entries, an empty name, a name of 100 or more characters). An
// entry whose candidate would be longer than 255 characters is skipped.
char *search_path_list(char *path);

// Makes path absolute and, when it does not exist so, looks for its name along PATH.
// path is a PATH_BUFFER_SIZE buffer. Result: path, now holding the absolute path of an
// existing file or folder, or null with path unchanged (also when the absolute form would
// be longer than 255 characters).
char *locate_file(char *path);

// Creates every missing folder of an absolute path, level by level, probing each level by
// making it current; on success the current folder is the one from before the call. mode
// is accepted for form (-1 stands for octal 700) and has no effect. Result: 0, or -1 when
// a level can be neither entered nor created (folders created before stay, and the last
// level entered stays current), when path is empty, a lone '\' or 256 or more characters
// long (nothing is touched), or when the previous current folder cannot be made current
// again. A path that begins with '\' starts at the root of the current drive. Meant for
// absolute paths: a relative one resolves each level against the level entered before it.
int8_t make_directory_tree(const char *path, int mode);

// Replaces every '/' of path with '\', then removes one trailing '\'. Result: path.
char *normalize_separators(char *path);
