// File copies and file status: block copies between descriptors, whole-file and appending
// copies, byte-for-byte comparison, line-end and character-set converters, existence and
// size of a file. Every file is opened in binary mode through lib/os.h.
#pragma once

#include <stdint.h>

// The transfer buffer of copy_range starts at COPY_BLOCK_MAX bytes and is halved after a
// failed allocation down to COPY_BLOCK_MIN (or the whole rest of the range when smaller).
enum { COPY_BLOCK_MAX = 16384, COPY_BLOCK_MIN = 128 };

// The largest source copy_file copies whole: its end byte for copy_range.
enum { COPY_FILE_MAX = 0x7FFFFFFF };

// Copies the bytes [first, end) of the input descriptor to the output's current position;
// an end beyond the input's size is lowered to the size. Positions are 32-bit, so bytes at
// 0xFFFFFFFF and beyond are never part of a range. The input's position moves; the
// output's is left after the last byte written.
// Result: 0 on success, the whole range copied (an empty range, first == size, writes
// nothing and gives 0); -1 when first is beyond the input's size, end <= first, a read
// fails, the input ends before the range does, a write is short, or no buffer can be
// allocated.
int copy_range(int input, int output, uint32_t first, uint32_t end);

// Copies the whole source file over destination (created, or truncated when present).
// Result: 0, or -1. Refused with -1 before the destination is opened, leaving both files
// untouched: a missing source, a source longer than COPY_FILE_MAX bytes, and a destination
// that is the source file however spelled. A copy that fails after the destination was
// opened deletes the destination.
int copy_file(const char *source, const char *destination);

// Appends bytes [first, end) of source to the end of destination (created when missing,
// never truncated), with copy_range's limits. Result: 0 on success, 1 when the source
// cannot be opened, -1 on any other failure, and -1 before anything is opened when both
// name the same file. After a failed copy a destination created by this call is deleted;
// one that existed keeps what it held before the call, the partly appended bytes included.
int append_file_range(const char *source, const char *destination, uint32_t first, uint32_t end);

// Compares two files byte for byte. Result: 0 when equal, 1 when they differ (sizes
// differing: without reading), -1 when either cannot be opened or a read failed. Not
// re-entrant. When its buffers cannot be allocated it prints " <error text>\n" to standard
// error and ends the program with exit status 1.
int compare_files(const char *first, const char *second);

// Converters: copy source to destination (created or truncated) byte by byte, changing
// line ends or the character set. Result: 0, or -1 when either file cannot be opened (the
// destination is not created when the source cannot be opened), when both name the same
// file (refused before anything is opened; the file stays as it was), or when a read or a
// write failed (the destination, short of the text, is deleted).
// LF not after a CR becomes CR LF.
int8_t lf_to_crlf_file(const char *source, const char *destination);
// Every CR dropped; reading stops at the first Ctrl-Z (26), which is not written.
int8_t crlf_to_lf_file(const char *source, const char *destination);
// An LF written after every CR (even one that an LF follows already).
int8_t cr_to_crlf_file(const char *source, const char *destination);
// Every LF dropped; reading stops at the first Ctrl-Z (26), which is not written.
int8_t crlf_to_cr_file(const char *source, const char *destination);
// Every LF becomes CR.
int8_t lf_to_cr_file(const char *source, const char *destination);
// Every CR becomes LF.
int8_t cr_to_lf_file(const char *source, const char *destination);
// ASCII to EBCDIC and back, through one fixed 256-entry permutation and its inverse.
int8_t ascii_to_ebcdic_file(const char *source, const char *destination);
int8_t ebcdic_to_ascii_file(const char *source, const char *destination);

// 1 when path names an existing file or folder (no access rights asked), else 0.
int file_exists(const char *path);

// The size in bytes of the file at path, or -1 when it cannot be opened.
int file_size(const char *path);
