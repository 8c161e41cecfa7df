// Rewriting of bitmap names stored inside a car's .VRL file.
#pragma once

#include <stdint.h>

// The name pair tables of a job: entry k of the old table pairs with entry k of the new
// table; each entry holds a terminated UTF-8 name of at most NAME_MAX bytes in its ANSI form
// (tool_name_length), up to three bytes each in UTF-8, and a table ends at its first empty
// entry (or after its last entry).
enum { NAME_TABLE_ENTRIES = 20, NAME_MAX = 31, NAME_SIZE = NAME_MAX * 3 + 1 };

// Rewrites, in place, every NUL-terminated text in the last 300 bytes of the file at path
// (the whole file when it is shorter) that equals an old name: the first equal old name in
// table order decides, and the last path component of its paired new name is written over
// the text. The file holds the game's bytes, in the ANSI code page: an old name is compared,
// and a new name written, in its ANSI form (an old name without one matches nothing, a new
// name without one is never written). A longer new name is cut to the old text's length; a
// shorter one is followed by NUL bytes up to that length, so the file's size and every other
// byte stay. A text that is not closed by a NUL, or runs 256 bytes or more, is left alone,
// and so is a text whose new name is empty. Nothing is printed. Result: a bit mask of the old
// entries whose name was rewritten somewhere in the file (bit k for entry k; 0 when none), or
// -1 when the file could not be opened for update, read, or written (some names may then be
// rewritten already).
int32_t patch_names(const char *path, char old_names[][NAME_SIZE], char new_names[][NAME_SIZE]);
// patch_names on a file already open for reading and writing at fd, which stays open: the
// same result, but for a failure to close the file, which is the caller's.
int32_t patch_open_file(int fd, char old_names[][NAME_SIZE], char new_names[][NAME_SIZE]);
