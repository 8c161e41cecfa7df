// The bitmap swap of a job in its scratch folder "tmp": the name pair tables, the new
// bitmaps copied in and put in place of the old ones; and the record of what a job did.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "checks.h"
#include "os.h"

// Paths of names from the job in the work folder: an archive or bitmap name in UTF-8 and a
// few characters more ("tmp\\", ".BMP", ".bak9"); a reason the system or the job gives.
enum { SHORT_PATH_SIZE = ARCHIVE_NAME_SIZE + 16, WHY_SIZE = 200 };
static_assert((int)NAME_SIZE <= (int)ARCHIVE_NAME_SIZE,
              "a bitmap name is longer than an archive name");

// What a job did, for the line that ends it.
struct JobReport {
    int bitmaps_replaced; // new bitmaps in place of an old bitmap the archive held
    int bitmaps_added;    // new bitmaps whose old name the archive did not hold
    int vrl_renamed;
    int32_t patched;     // bit k: old name k was patched in some .VRL file
    int names_patched;   // old bitmaps whose name was patched, in either spelling
    int pairs_listed;    // the bitmap pairs the job gave, those left out included
    LeftOut left_out;    // the pairs whose new bitmap did not take the old one's place
    const char *trouble; // the first failure that leaves the new archive in doubt, or null
};

// The name pair tables of a job while its bitmaps are swapped: entry k of each is pair k.
struct PairTables {
    char old_names[NAME_TABLE_ENTRIES][NAME_SIZE];
    char new_names[NAME_TABLE_ENTRIES][NAME_SIZE];
    char written[NAME_TABLE_ENTRIES][NAME_SIZE]; // the old name as written, when stored otherwise
    int8_t stored[NAME_TABLE_ENTRIES];           // 1 when "tmp" holds the old bitmap
    int8_t slot[NAME_TABLE_ENTRIES];             // its new bitmap's copy is "<slot>.BMP"
};

// 1 when snprintf wrote its whole text into a buffer of size bytes.
inline int fits(int written, size_t size)
{
    return written >= 0 && (size_t)written < size;
}

// Keeps why as the report's trouble unless an earlier one is kept.
void note_trouble(JobReport *report, const char *why);

// Gives each old name the case in which "tmp" stores its bitmap, since Windows finds
// "1shgt500.BMP" as "1SHGT500.BMP" while the .VRL texts are compared exactly. The name as
// written wins when it is stored so; else the lowest other spelling in byte order. A name
// written otherwise is kept in written[k] (else that entry is empty); stored[k] says
// whether "tmp" holds the bitmap at all.
void take_stored_names(PairTables *t);

// Puts each old name written in another case than stored back into the tables, as a pair
// of its own after the others (room allowing), since a .VRL file may hold either spelling;
// origin[k] gets the pair that entry k stands for.
void add_written_names(PairTables *t, int *origin);

// Puts the new bitmaps into the held "tmp" in two passes, every copy made before any old
// bitmap goes, counted in *report. Pairs left out leave the tables.
void replace_bitmaps(PairTables *t, OsHeldFolder *scratch, JobReport *report);
