// The work folder's lock file "tmp.lock": one Zandrel at a time works in a folder, and the
// scratch folder "tmp" of a run that was stopped is known as Zandrel's by the record the
// lock file holds while a job uses it.
#pragma once

// The lock file's name in the work folder, whatever the program's own name.
extern const char WORK_LOCK_NAME[];

// The record's last line: a record without it is torn and counts as no record.
extern const char SCRATCH_RECORD_END[];

// Takes the work folder's lock before any job; the work folder must be current. When the
// lock file held a record of "tmp" left by a run that was stopped, empties and removes
// "tmp" and says so in one line naming the new archive that run was making and its
// earlier archive moved aside, when that still exists. 0 when taken; 1 when no job may run,
// having said why in one line: another Zandrel (or a renamed copy, or a tool it started)
// works in the folder, or the lock file cannot be made there (the system's reason).
int take_work_lock(void);

// Writes into the held lock file, in one write, that "tmp" is this run's, for new_mas; once
// packing is 1 (new_mas about to be moved aside and rebuilt), with the name its earlier
// archive goes to ("" when none). 0, or -1 having said why. Does nothing (0) when no lock
// is held, as when a test runs a job on its own.
int record_scratch_folder(const char *new_mas, const char *aside, int packing);

// Empties the record once "tmp" is gone.
void clear_scratch_record(void);

// Removes the lock file and drops the lock, before the program waits for Enter.
void release_work_lock(void);
