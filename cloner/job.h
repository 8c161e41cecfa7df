// One job of the car cloner: a new car archive made from an old one with the archive tool.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "checks.h"
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

// Empties and removes the scratch folder "tmp" of the work folder; remove_tree leaves that
// folder current, so it is removed from the work folder afterwards, which is current again.
// A link or junction in it is removed itself, never entered. 0 when "tmp" is gone; -1 when
// some of it stays (a file open elsewhere, a read-only file, a link the system shows as what
// it leads to): the caller says so.
int remove_scratch_folder(void);

// Runs one job in the work folder, which must be current: extracts old_mas into the folder
// "tmp", replaces the old bitmaps by the new ones, renames the .VRL files from the old
// prefixes to the new and patches the bitmap names inside them, builds new_mas from "tmp"
// and removes "tmp"; the work folder is current again afterwards. Prints one line per
// problem, and always ends with one line that starts with new_mas: made (and what was
// done), not made (and why), or may be incomplete (and why). An existing new_mas is first
// renamed to new_mas.bak (or .bak2 ... .bak9, the first free name; none free: it stays and
// is not rebuilt); it goes back when no new archive was made, is deleted once one was, and
// stays as a backup, named in the last line, after an in-place job (old_mas and new_mas one
// file), a job that met a failure, or one that left bitmap pairs out.
// When some of "tmp" stays after the job, a line before the last says so.
// Result: 0 when new_mas was made with every bitmap pair in place; 1 when the job ran but
// did not do all it asked (not made, may be incomplete, or made with pairs left out) or
// left some of "tmp" behind; -1
// when it was refused before anything was made (archive names, a missing old_mas or
// MASadelic.exe, a missing folder for new_mas, the work folder longer than WORK_FOLDER_MAX,
// a "tmp" in the way, a link or one that cannot be made, a
// folder of new_mas leading outside the work folder, the record of "tmp" in the lock file
// not written), or old_mas unpacked to nothing or to no
// .VRL file of its name. "/" in any of the four texts is read as "\".
int8_t run_job(const char *old_mas, const char *new_mas, const char *old_bitmaps,
               const char *new_bitmaps);
