// The work folder's lock file "tmp.lock": one Zandrel at a time works in a folder, and the
// scratch folder "tmp" of a run that was stopped is known as Zandrel's by the record the
// lock file holds while a job uses it, proven by the mark the run left inside that "tmp".
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "os.h"
#include "paths.h"

// The lock file's name in the work folder, whatever the program's own name.
extern const char WORK_LOCK_NAME[];

// The record's last line: a record counts up to its first such line, and one without it is
// torn and counts as no record.
extern const char SCRATCH_RECORD_END[];

// The run's mark inside its "tmp": a folder the archive tool does not pack (it packs the
// files of "tmp" only) and the file in it that holds the run's token.
extern const char SCRATCH_MARK_FOLDER[];
extern const char SCRATCH_MARK[];

// The token that ties a record to the mark in its "tmp": 32 lower-case hexadecimal digits.
enum { SCRATCH_TOKEN_SIZE = 33 };

// A record of "tmp" read back: the identity of the folder it was written for, the token of
// the mark inside it, the new archive, whether packing had begun, and the name its earlier
// archive went to ("" when none). A record of 1.2.0 carries neither identity nor token
// (folder and token zero).
struct ScratchRecord {
    OsFolderId folder;
    char token[SCRATCH_TOKEN_SIZE];
    char new_mas[PATH_BUFFER_SIZE];
    char aside[PATH_BUFFER_SIZE];
    int packing;
};

// 1 when text holds a whole record, *record filled: its head, the folder's identity, the
// token, a new archive that passes a job line's NEW_MAS checks, "packing" or not, and an
// earlier archive that is empty or the new archive's aside name (".bak", ".bak2" to
// ".bak9"), each on its line in that order, then the end line; whatever follows the end line
// is left out. 2 for such a record as 1.2.0 wrote it, without the identity and token lines
// (*record filled, folder and token zero). Else 0.
int parse_scratch_record(const char *text, ScratchRecord *record);

// Writes the text of the mark for token into text (size bytes). Its length, or -1 when it
// does not fit.
int format_scratch_mark(const char *token, char *text, size_t size);

// Writes record as the lock file holds it into text (size bytes), the end line last.
// Result: its length, or -1 when it does not fit.
int format_scratch_record(const ScratchRecord *record, char *text, size_t size);

// Takes the work folder's lock before any job; the work folder must be current. When the
// lock file held a record of this very "tmp" left by a run that was stopped (its identity,
// and a mark inside holding the record's token, proven a plain file of its own), empties and
// removes "tmp" and says so in one line naming the new archive that run was making and,
// from what is on disk, what became of it and of its earlier archive. A record of 1.2.0 is
// only read: one line says what became of its new archive and earlier archive, and its "tmp"
// is left as it is. 0 when taken; 1 when
// no job may run, having said why in one line: another Zandrel (or a renamed copy, or a
// tool it started) works in the folder, the lock file is open in another program, is no
// plain file of its own, is read-only or holds another program's text (kept as it is), or
// cannot be made there (the system's reason).
int take_work_lock(void);

// Writes into the held lock file, in one write, that "tmp" (which must exist) is this run's,
// for new_mas; once packing is 1 (new_mas about to be moved aside and rebuilt), with the name
// its earlier archive goes to ("" when none). The first call of a job first leaves the mark
// with a new random token in "tmp". 0, or -1 having said why (no mark is left then). Does
// nothing (0) when no lock is held, as when a test runs a job on its own.
int record_scratch_folder(const char *new_mas, const char *aside, int packing);

// 1 when "tmp" holds an entry besides this run's mark, else 0.
int scratch_folder_holds_entries(void);

// Empties the record. When the job's "tmp" is still there with its mark (a job that ended
// before it unpacked anything), removes the mark, and "tmp" too once that leaves it empty.
void clear_scratch_record(void);

// Removes the lock file and drops the lock, before the program waits for Enter.
void release_work_lock(void);
