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

// Longest archive name a job takes (OLD_MAS and NEW_MAS).
enum { ARCHIVE_NAME_MAX = 31 };

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
// Every entry after the last pair is empty. Pairs left out for an old name too long, or
// past the 19th, are named in one printed line. Result: the number of pairs taken.
int fill_name_tables(const char *old_list, const char *new_list, char old_names[][NAME_SIZE],
                     char new_names[][NAME_SIZE]);

// 1 when name can name a file inside an archive: not empty, not "." or "..", and free of
// "\\", "/" and ":"; else 0.
int is_plain_name(const char *name);

// Takes out of the name pair tables every pair whose old name is not a plain name, printing
// one line naming it, so that no step deletes or patches by it; the pairs kept move up in
// their order and every entry after them is empty. Result: the number of pairs kept.
int drop_foreign_names(char old_names[][NAME_SIZE], char new_names[][NAME_SIZE]);

// 1 when an archive name can go into the archive tool's command line as it stands: not
// empty, and free of blanks, tabs, double quotes, control characters and the characters
// Windows refuses in a file name (< > | ? *, and ":" but as the drive's colon); else 0.
int is_tool_safe_name(const char *name);

// 1 when a new archive name stays inside the work folder and names an archive: no drive,
// no leading "\" or "/", no component made only of two or more dots, not inside the
// scratch folder "tmp", no component that Windows takes for a device (CON, PRN, AUX, NUL,
// COM1 to COM9, LPT1 to LPT9, with any extension), and ending in ".mas" in any case; else 0.
int is_work_folder_archive(const char *name);

// 1 when the archive names alone forbid the job, having printed one line that says why
// and names NEW_MAS: a name longer than 31 characters, one the tool's command line cannot
// carry, or a NEW_MAS outside the work folder; else 0. Nothing is touched.
int archive_names_refused(const char *old_mas, const char *new_mas);

// Runs one job in the work folder, which must be current: extracts old_mas into the folder
// "tmp", replaces the old bitmaps by the new ones, renames the .VRL files from the old
// prefixes to the new and patches the bitmap names inside them, builds new_mas from "tmp"
// and removes "tmp"; the work folder is current again afterwards. Prints one line per
// problem, and always ends with one line that starts with new_mas: made (and what was
// done), not made (and why), or may be incomplete (and why). An existing new_mas is first
// renamed to new_mas.bak (or .bak2 ... .bak9, the first free name; none free: it stays and
// is not rebuilt); it goes back when no new archive was made, is deleted once one was, and
// stays as a backup, named in the last line, after an in-place job (old_mas and new_mas one
// file) or a job that met a failure.
// Result: 0 when the job ran to its end; -1 when it was refused before anything was made
// (archive names, a missing old_mas or MASadelic.exe, a missing folder for new_mas, the
// work folder longer than WORK_FOLDER_MAX, a "tmp" in the way) or old_mas unpacked to
// nothing.
int8_t run_job(const char *old_mas, const char *new_mas, const char *old_bitmaps,
               const char *new_bitmaps);
