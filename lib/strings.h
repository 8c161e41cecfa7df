// String routines of the library: the field splitter, list printing, string sorting, the
// name filters (wildcard matcher among them), small in-place string routines and the
// visible copy of a text for printing.
// Comparisons are byte for byte (unsigned), with no case folding and no locale.
// Every routine here works on bytes, and that is right for the UTF-8 names and lines the
// tools hold: no byte of a character beyond ASCII is ever an ASCII character (a separator,
// '\', '.', ':', '*', a letter), so a field split at an ASCII separator, a match or a case
// change never ends or starts inside such a character, and never alters one ('カ' is
// E3 82 AB). The ANSI code page of a double-byte system has no such promise ('ソ' is 83 5C
// there): convert first.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Copies the next field of source into dest. Separators in front of the field are skipped;
// the field runs up to the next separator or the end of the text. A field of n bytes
// is copied when n < size, else dest becomes "" (a field is dropped whole, never cut).
// dest may overlap source when it starts at or before the field (dest == source for one):
// the result is the same as with separate buffers. size 0 or less writes nothing. separator must
// not be NUL. Result: never null; the first character of the next field (separators after the field
// skipped), or the terminating NUL of source when no field follows.
const char *get_field(char *dest, const char *source, int32_t size, char separator);

// Prints every string of a list that ends with a null pointer, each as "%s\n" on standard
// output. A list that starts with the null pointer prints nothing.
void print_lines(const char *const *lines);

// Sorts count string pointers in ascending unsigned byte order (Shell sort, gaps 2^k - 1);
// only the pointers move. Two equal entries are never exchanged with each other, yet the
// sort is not stable. Counts 0 and 1 change nothing.
void sort_strings(char **strings, uint32_t count);

// A name filter: (text, argument) to a one-byte result; callers keep entries giving 1.
typedef int8_t (*NameFilter)(const char *text, const char *argument);

// 1 when the whole name matches the wildcard pattern, else 0. Case matters. "?" takes one
// byte (a character beyond ASCII is 2 to 4 bytes of UTF-8); "*" takes a run, at least one
// byte when the walk reaches it at a name byte ('ab' does not match '*ab'), none at the end
// of the name; a "?" right after a "*" is compared literally. A backslash before one of
// \ * blank tab / : ? < > | takes the backslash of the name at that place together with
// that character. The name is never moved back: after a mismatch only the pattern returns
// to the last star.
int8_t match_wildcard(const char *name, const char *pattern);
// 1 when substring is empty or occurs in text, else 0.
int8_t contains_text(const char *text, const char *substring);
// 1 when the file at path is larger (bytes) than the decimal number in number_text (read
// as atoi does), else 0; 0 as well when the file's status cannot be read.
int8_t file_larger_than(const char *path, const char *number_text);
// -1 when path's status cannot be read, path begins with "." or it is not a folder;
// 1 when substring is empty or occurs in path; else 0.
int8_t is_matching_directory(const char *path, const char *substring);

// The number of bytes of s equal to the low byte of c (the terminator never counts).
int count_char(const char *s, int c);

// Copies the strings that follow dest, up to a null pointer, one after another into dest
// and terminates it; no string gives "". dest must hold all of them and the NUL.
// Result: dest.
char *concat_strings(char *dest, ...);

// Reverses length bytes of buffer in place; lengths 0 and 1 change nothing.
void reverse_bytes(char *buffer, size_t length);

// Exchanges the adjacent blocks A (first_length bytes at buffer) and B (second_length bytes
// after A) in place, so that B then A takes their place. No second buffer is used.
void swap_blocks(char *buffer, size_t first_length, size_t second_length);

// Removes count bytes of s from position on and closes the gap (terminator included).
// Fewer than count bytes after position: everything from position on goes. A count of
// 0, or a position at or beyond the end of s, leaves s unchanged; nothing outside s is
// touched. Result: s.
char *delete_chars(char *s, size_t position, size_t count);

// Copies one line of source into dest, its line end (CR or LF, the first of either) turned
// into one LF, and terminates it. The line end must lie within the first max_count
// bytes; dest needs max_count + 1 bytes. Result: the position in source just after
// the line end character (for CR LF: the LF, which then reads as an empty line), or null
// when max_count is 0, the text ends or max_count runs out first; after null dest holds an
// unterminated partial copy and must not be used.
const char *copy_line(char *dest, uint32_t max_count, const char *source);

// Copies text into buffer for printing, with control characters made visible in caret
// notation: bytes 0 to 31 as '^@' to '^_' (ESC as '^[', tab as '^I'), 127 as '^?'. Every
// other byte passes unchanged (a '^' too, and bytes 128 and up: ANSI or UTF-8 letters), so
// an ordinary name comes out as it is. Cut to fit: at most size - 1 bytes and the NUL, a
// pair never split; size 0 writes nothing. buffer and text must not overlap. Result: buffer.
const char *visible_text(char *buffer, uint32_t size, const char *text);

// The case of ASCII letters, without a locale: bytes 128 and up are never letters here, so
// UTF-8 letters beyond ASCII stay as they are, as they stay for a name matched without
// regard to case (Windows and os_compare_names fold them themselves).
enum AsciiCase { ASCII_LOWER, ASCII_UPPER };

// Turns the ASCII letters of text into the one case, in place (ASCII_UPPER: a to z become
// A to Z; ASCII_LOWER: the reverse); every other byte stays. Result: text.
char *set_ascii_case(char *text, AsciiCase to);

// 1 when the first length bytes of a and b are equal but for the case of ASCII letters,
// else 0.
int same_ignoring_case(const char *a, const char *b, size_t length);
