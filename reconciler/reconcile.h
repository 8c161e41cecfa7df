// Pelmora's work on the files: the walk over the new folder and the rewriting of each .veh file
// there from the key lines ("DescFile=", "DescClass=") of the file of the same name in the
// reference folder. Files are read whole and split into lines by reconciler/vehtext.h.
#pragma once

#include <stdint.h>

#include "paths.h"
#include "walk.h"

// The longest path of a car's files (folder, separator, name, and ".pelmora" for the output
// file), in UTF-16 units as Windows counts a path; its UTF-8 form must fit a path buffer too.
enum { VEH_PATH_UNITS = PATH_UNITS_MAX };

enum {
    LISTED_TWINS = 1,    // names that differ only in case (Linux)
    LISTED_OUTPUTS = 2,  // a name ending in ".pelmora" (in any case)
    LISTED_NEW_NAMES = 4 // a name beginning with "new_" (in any case)
};

struct CarBatch;
struct OsHeldFolder;

// What the files of one run share: the walk's argument for reconcile_vehicle_file.
struct ReconcileRun {
    const char *reference_folder;
    const char *folder_final;  // the new folder's final path (os_final_path): a .veh file
                               // is rewritten only while it lies inside
    const char *const *sorted; // the names of the new folder's files in os_compare_names
                               // order, as one listing gave them; null when not known
    int32_t sorted_count;
    int8_t *named;             // per sorted name: 1 once a line named it; null with sorted
    int32_t kinds;             // LISTED_* bits: what the names hold, so that the listing is
                               // searched only for what it may hold
    int32_t updated;           // files rewritten
    int32_t unchanged;         // files with a reference counterpart left as they were, and
                               // earlier output files named at the end
    int32_t not_deleted;       // output files left beside their updated file
    CarBatch *batch;           // cars whose outputs are written and that are not yet put in place;
                               // null: each car is put in place on its own
    OsHeldFolder *held_folder; // the new folder and the reference folder, whose files are
    OsHeldFolder *held_reference; // reached through these holds; null: by path
};

// Rewrites every .veh file directly inside new_folder that has a counterpart in
// reference_folder (see reconcile_vehicle_file); subfolders are never entered. A relative name
// (one that begins at no root and names no drive) is made absolute against the current folder
// first, so that it keeps its meaning once the walk has made the new folder current (it stays
// current afterwards); other names are used as they are. The folder is listed once; its files
// are handled in the listing's order. After them, an output file ("car.veh.pelmora") that was
// there before and that no line has named yet is named in one line and counted as unchanged;
// then "Done in <folder>: <n> updated, <m> left unchanged" ends the run. Result: -1 when a folder
// name becomes too long for VEH_PATH_UNITS (after a message), the status of the new folder cannot
// be read, where the new folder really lies (its final path) cannot be found, or it cannot be
// listed (each after a message), or there is no memory for the walk; 1 when any file with a
// counterpart was left unchanged or an output file could not be deleted; 0 otherwise, also when
// new_folder is not a folder (nothing is walked or printed then).
int8_t reconcile_vehicle_files(const char *new_folder, const char *reference_folder);

// The walk callback: entry->name is a file in the current folder entry->directory, and
// entry->argument the run's ReconcileRun. Lower-cases entry->name in place (A to Z only). A name
// that does not match "*.veh", or that the reference folder does not hold (or holds only as a
// folder), is passed over without a word. Otherwise the file ends with one line and
// counts in run->updated or run->unchanged: either it is rewritten through the output file,
// the name plus ".pelmora" (the reference's key lines, then its own other lines, see
// make_vehicle_text), and
// "<folder>\<name>" is printed once the copy back succeeded, or it is left unchanged and the
// line says why (README lists them all). The file is opened once; the text replaces its content
// through that handle, and only while its name still leads to it and it lies inside
// run->folder_final. An earlier output file is finished or made again only when its text proves
// it a cut-short copy back or output (see README); else it is left alone. A finished file is
// then updated from the reference like any other. A file named like "new_car.veh" is a car like
// any other, never an output file; beside a car that is empty or its start, with no reference
// of its own, it is named in a line as a possible leftover of version 1.1.0.
// With run->batch, a file whose output is written joins the batch: it is put in place, its line
// printed and counted, when the batch is settled (when full, before any other line, and at the
// end of reconcile_vehicle_files). Result: always 0.
int8_t reconcile_vehicle_file(WalkEntry *entry);

// How many files reconcile_vehicle_files would take up in new_folder: names that match
// "*.veh" in lower case and whose reference_folder counterpart is there and no folder. Both
// folders as the user answered them (read before any walk changes the current folder).
// Result: the count, or -1 when new_folder cannot be listed.
int32_t count_vehicle_files(const char *new_folder, const char *reference_folder);
