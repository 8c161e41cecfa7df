// What every part of a job shares, below them all: the work folder and its scratch folder,
// the archive names and the .VRL prefixes formed from them, and how a name is shown.
#pragma once

#include <stddef.h>

// Longest work folder a job accepts, in UTF-16 units as Windows counts a path, so that
// "<work folder>\MASadelic" fits in the 256 units the tool is started with; its UTF-8 form
// takes up to three bytes a unit.
enum { WORK_FOLDER_MAX = 245, WORK_FOLDER_SIZE = WORK_FOLDER_MAX * 3 + 1 };

// The folder that holds the program file, without a trailing backslash ("." when unknown);
// set once by the program entry, and the current folder whenever a job starts.
extern char work_folder[WORK_FOLDER_SIZE];

// Longest archive name a job takes (OLD_MAS and NEW_MAS), in bytes of its ANSI form, as the
// archive tool gets it (tool_name_length); its UTF-8 form takes up to three bytes for each.
enum { ARCHIVE_NAME_MAX = 31, ARCHIVE_NAME_SIZE = ARCHIVE_NAME_MAX * 3 + 1 };

// The length a name has for the archive tool and the game, which take it in the ANSI code
// page: the bytes of its ANSI form; a name that has none counts its UTF-16 units (such a name
// is refused on its own account). Natively, its bytes.
int tool_name_length(const char *name);

// The .VRL suffixes renamed with the first prefix (6 entries) and with the second prefix
// (14 entries), in processing order.
extern const char *const vrl_suffixes_first[6];
extern const char *const vrl_suffixes_second[14];

// Room for a prefix: four characters of up to four bytes each (UTF-8) and the NUL.
enum { PREFIX_SIZE = 17 };

// The two name prefixes of an archive, from its last path component, upper-cased: first is
// its first four characters, second its first character followed by its fourth, fifth and
// sixth (fewer when the name is shorter). Characters are taken whole, as file names count
// them (os_char_length), so one name gives the same prefixes on both targets. first and
// second hold PREFIX_SIZE bytes each.
void form_prefixes(const char *archive, char *first, char *second);

// 1 when a prefix holds a character beyond ASCII, else 0.
int prefix_beyond_ascii(const char *prefix);

// Turns every "/" of text into "\", as Windows reads "/" in a file name.
void to_backslashes(char *text);

// Text from the job list or a folder listing, for printing: control characters shown as
// "^X" (visible_text). Each call uses the next of a few fixed buffers, so up to
// SHOWN_BUFFERS results can stand in one printf.
enum { SHOWN_BUFFERS = 6 };
const char *shown(const char *text);

// Prints "NEW_MAS not made: why" on a line of its own.
void say_not_made(const char *new_mas, const char *why);

// Empties and removes the scratch folder "tmp" of the work folder; remove_tree leaves that
// folder current, so it is removed from the work folder afterwards, which is current again.
// A link or junction in it is removed itself, never entered. 0 when "tmp" is gone; -1 when
// some of it stays (a file open elsewhere, a read-only file, a link the system shows as what
// it leads to): the caller says so.
int remove_scratch_folder(void);

// Holds the scratch folder "tmp" that a job of this run could not wholly remove, so that the
// next job knows it for this run's own (its identity stays its own while held). Nothing when
// one is held already or "tmp" cannot be held.
void keep_left_scratch_folder(void);

// When this run holds a "tmp" left by one of its jobs and "tmp" is still that very folder
// (no link), drops the hold and empties and removes it, saying so in one line once it is
// gone; while some of it still stays, holds it again for the next try. The work folder must
// be current. 1 when removed; 0 when nothing was held or "tmp" is another folder now, or
// gone (the hold dropped either way); -1 when some of it stays.
int clear_left_scratch_folder(void);

// Looks for names that differ only in case from the file at path in its folder (a Linux
// folder can hold both "Zandrel.LST" and "zandrel.lst"; Windows finds one for the other).
// With such a twin, says in one line which is used (the one spelled as path is) and which
// is not, result 0; when none is spelled as path, one line names two of them, result 1:
// neither may be used. 0 and nothing said without a twin.
int case_twin_refused(const char *path);
