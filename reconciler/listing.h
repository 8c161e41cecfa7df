// The new folder's listing for Pelmora: the names of its files as one listing gave them, sorted
// to be searched, and what they hold; and the paths of a car's files, which must fit.
#pragma once

#include <stdint.h>

#include "reconcile.h"

static const char SEPARATOR = '\\';
// The output file of car.veh is car.veh.pelmora: Pelmora's by its name, which no .veh file
// has ("new_car.veh" is a name real cars have, such as a New Beetle beside a Beetle).
static const char OUTPUT_SUFFIX[] = ".pelmora";

// The names of a folder's files, as one listing gave them, in one block of text.
struct Listing {
    char *text; // the names, each terminated
    uint32_t used, size;
    char **order;  // the names in listing order
    char **sorted; // the same in os_compare_names order
    int8_t *named; // per sorted name
    int32_t count, capacity;
    int32_t kinds; // LISTED_* bits
};

// Lists the files (no folders) of folder into *listing, sorted too, with LISTED_* kinds. 0, or -1
// when it cannot be listed or memory runs out (free_listing frees what was taken either way).
int list_files(const char *folder, Listing *listing);
void free_listing(Listing *listing);

// The index in run->sorted of the first name that is name but for case; -1 when none is.
int32_t find_listed(const ReconcileRun *run, const char *name);
// 1 when another file of the folder has a name that differs from name only in case.
int is_case_twin(const ReconcileRun *run, const char *name);
// Notes that a line named the listed file name (an earlier output file), if listed.
void mark_named(const ReconcileRun *run, const char *name);

// 1 when path, length bytes as snprintf formed it, fits a path buffer whole and Windows' limit
// in UTF-16 units, else 0.
int fits_path(const char *path, int length);
