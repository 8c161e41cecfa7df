// One job of the car cloner: a new car archive made from an old one with the archive tool.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "checks.h"
#include "patch.h"
#include "workfolder.h"

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

// What run_job_telling says of a job's new archive.
enum { JOB_NOT_MADE = 0, JOB_MADE = 1, JOB_MADE_PAIRS_LEFT_OUT = 2 };

// run_job, and *made set to JOB_MADE when its last line said new_mas was made with every pair
// in place, JOB_MADE_PAIRS_LEFT_OUT when made with some left out, else JOB_NOT_MADE. A
// scratch folder an earlier job of the run left is cleared first (clear_left_scratch_folder),
// and one this job leaves is kept for the next (keep_left_scratch_folder).
int8_t run_job_telling(const char *old_mas, const char *new_mas, const char *old_bitmaps,
                       const char *new_bitmaps, int *made);
