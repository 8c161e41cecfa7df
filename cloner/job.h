// One job of the car cloner: a new car archive made from an old one with the archive tool.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "patch.h"

// The folder that holds the program file, without a trailing backslash ("." when unknown);
// set once by the program entry, and the current folder whenever a job starts.
extern char work_folder[256];

// Longest work folder a job accepts, so that "<work folder>\MASadelic" fits in 256 bytes.
enum { WORK_FOLDER_MAX = 245 };

// The .VRL suffixes renamed with the first prefix (6 entries) and with the second prefix
// (14 entries), in processing order.
extern const char *const vrl_suffixes_first[6];
extern const char *const vrl_suffixes_second[14];

// Upper-cases the letters a to z of text in place; other bytes stay.
void upper_case(char *text);

// The two name prefixes of an archive, from its last path component, upper-cased: first is
// its first four characters, second its first character followed by its fourth, fifth and
// sixth (fewer when the name is shorter). first and second hold 5 bytes each.
void form_prefixes(const char *archive, char *first, char *second);

// Fills the name pair tables from two blank-separated lists, pair by pair, while both lists
// hold text; names of 32 characters or more are taken as empty, and an empty old name ends
// the tables. At most 19 pairs are taken, so the table always ends in an empty entry.
// Every entry after the last pair is empty. Result: the number of pairs taken.
int fill_name_tables(const char *old_list, const char *new_list, char old_names[][NAME_SIZE],
                     char new_names[][NAME_SIZE]);

// 1 when name can name a file inside an archive: not empty, not "." or "..", and free of
// "\\", "/" and ":"; else 0.
int is_plain_name(const char *name);

// Takes out of the name pair tables every pair whose old name is not a plain name, printing
// one line naming it, so that no step deletes or patches by it; the pairs kept move up in
// their order and every entry after them is empty. Result: the number of pairs kept.
int drop_foreign_names(char old_names[][NAME_SIZE], char new_names[][NAME_SIZE]);

// Runs one job in the work folder, which must be current: extracts old_mas into the folder
// "tmp", replaces the old bitmaps by the new ones, renames the .VRL files from the old
// prefixes to the new and patches the bitmap names inside them, builds new_mas from "tmp"
// and removes "tmp"; the work folder is current again afterwards. Prints one line per
// problem. An existing new_mas is first renamed to new_mas.bak (or .bak2 ... .bak9, the
// first free name; none free: it stays and is not rebuilt); it goes back when no new
// archive was made, is deleted once one was, and stays as a backup, with a line naming it,
// after an in-place job (old_mas and new_mas one file) or a job that met a failure.
// Result: 0 when the job ran to its end; -1 when old_mas or MASadelic.exe is missing, an
// archive name is longer than 31 characters, the work folder is longer than
// WORK_FOLDER_MAX, or a "tmp" that holds files (or is a file) is in the way.
int8_t run_job(const char *old_mas, const char *new_mas, const char *old_bitmaps,
               const char *new_bitmaps);
