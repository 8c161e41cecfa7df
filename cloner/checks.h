// The checks a job makes before it changes anything: the archive names, the work folder and
// scratch folder, the bitmap pairs it is given, and the unpacked archive's .VRL files.
#pragma once

#include <stddef.h>

#include "patch.h"
#include "workfolder.h"

// The bitmap pairs a job leaves out, for the line that ends it: how many, and their names
// (the old name, or the name without a partner), ", "-separated and terminated; a list too
// long for names ends in " ...".
enum { LEFT_OUT_NAMES_SIZE = 200 };
struct LeftOut {
    int count;
    char names[LEFT_OUT_NAMES_SIZE];
};

// Counts one more pair left out and adds name to the list, room allowing.
void note_left_out(LeftOut *left_out, const char *name);

// Fills the name pair tables from two blank-separated lists, pair by pair, while both lists
// hold text; names longer than NAME_MAX for the archive tool (tool_name_length) are taken as
// empty, and an empty old name ends the tables. At most 19 pairs are taken, so the table
// always ends in an empty entry. Every "/" in a name taken becomes "\". Every entry after the
// last pair is empty. Pairs left out for an old name too long, or past the 19th, are named in
// one printed line, and names of one list that have no partner in the other in another; all
// are noted in *left_out. Result: the number of pairs taken.
int fill_name_tables(const char *old_list, const char *new_list, char old_names[][NAME_SIZE],
                     char new_names[][NAME_SIZE], LeftOut *left_out);

// 1 when name can name a file inside an archive: not empty, not "." or "..", and free of
// "\\", "/" and ":"; else 0.
int is_plain_name(const char *name);

// Takes out of the name pair tables every pair whose old name is not a plain name, or whose
// old or new name has no form in the ANSI code page (the archive tool could not be handed
// it), printing one line naming it and noting it in *left_out, so that no step deletes,
// copies or patches by it; the pairs kept move up in their order and every entry after them
// is empty. Result: the number of pairs kept.
int drop_foreign_names(char old_names[][NAME_SIZE], char new_names[][NAME_SIZE], LeftOut *left_out);

// 1 when a component of path is a name Windows gives to a device in every folder, whatever
// its extension and case: CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM1 to COM9 and LPT1 to
// LPT9, and COM or LPT followed by the superscript digits 1, 2 or 3 (U+00B9, U+00B2,
// U+00B3 in UTF-8, or as the single bytes of code page 1252); else 0.
int names_a_device(const char *path);

// 1 when an archive name can go into the archive tool's command line as it stands: not
// empty, and free of blanks, tabs, double quotes, control characters and the characters
// Windows refuses in a file name (< > | ? *, and ":" but as the drive's colon); else 0.
int is_tool_safe_name(const char *name);

// 1 when a new archive name stays inside the work folder and names an archive: no drive,
// no leading "\" or "/", no component made only of two or more dots, not inside the
// scratch folder "tmp", no device name (names_a_device), and ending in ".mas" in any case;
// else 0.
int is_work_folder_archive(const char *name);

// 1 when the archive names alone forbid the job, having printed one line that says why
// and names NEW_MAS: a name with no form in the ANSI code page or longer than
// ARCHIVE_NAME_MAX bytes in it, a device name, one the tool's command line cannot carry, or
// a NEW_MAS outside the work folder; else 0. Nothing is touched.
int archive_names_refused(const char *old_mas, const char *new_mas);

// 1 when a folder lists an entry besides "." and "..", else 0 (also when it cannot be listed).
int holds_entries(const char *folder);

// 1 when new_mas has no place in the work folder, having said why in one line: its folder
// is missing, a folder of its name is in the way, "tmp" is a link, or its folder, resolved,
// lies in the scratch folder "tmp" or outside the work folder. Until the scratch folder is
// made (scratch_made 0), a folder that is a link leading nowhere is let pass, since it may
// lead into the scratch folder; the job asks again once that exists.
int new_folder_refused(const char *new_mas, int scratch_made);

// 1 when the job cannot run as asked, having said why: the names, the work folder too long
// for its buffers, a missing old archive, no place for the new one, a "tmp" that is a link
// or junction, a folder of the new one that leads outside the work folder once links are
// resolved, or a "tmp" in the work folder that holds files (packing it would take them along and
// the clean-up would delete them). Nothing is created. The work folder must be current.
int job_refused(const char *old_mas, const char *new_mas);

// 1 when the unpacked archive in "tmp" holds none of the .VRL files of old_mas's two
// prefixes, having printed one line naming them and, when its .VRL files carry other
// prefixes of the two suffix lists, those; else 0.
int old_prefixes_missing(const char *old_mas);
