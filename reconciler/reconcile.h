// Pelmora's work on the files: the walk over the new folder and the rewriting of each .veh file
// there from the key lines ("DescFile=", "DescClass=") of the file of the same name in the
// reference folder. Files are text: read and written through lib/stream.h in text mode.
#pragma once

#include <stdint.h>

#include "walk.h"

// Rewrites every .veh file directly inside new_folder that has a counterpart in
// reference_folder (see reconcile_vehicle_file); subfolders are never entered. A relative name
// (one that begins at no root and names no drive) is made absolute against the current folder
// first, so that it keeps its meaning once the walk has made the new folder current (it stays
// current afterwards); other names are used as they are. Prints one progress line per
// rewritten file. Result: -1 when a folder name becomes too long for 255 characters (after a
// message) or the status of the new folder cannot be read; 0 otherwise, also when new_folder
// is not a folder (nothing is walked then).
int8_t reconcile_vehicle_files(const char *new_folder, const char *reference_folder);

// The walk callback: entry->name is a file in the current folder entry->directory, and
// entry->argument the reference folder (text). Lower-cases entry->name in place (A to Z only);
// a name that does not match "*.veh", or whose reference file or new file cannot be opened,
// or whose output file cannot be created (a folder of its name, say), is skipped without a
// word. Otherwise writes "new_" plus the name: the reference file's line pieces holding
// "DescFile=" up to and including its first piece holding "DescClass=", then every piece of
// the new file holding neither key; prints "<folder>\<name>" and copies the output back over
// the new file, then deletes it. Pieces are at most 255 characters; a key piece that ends the
// reference without a line end gets one. Messages instead of a silent loss:
//   - a path (folder, "\", "new_", name) longer than 255 characters: the file is skipped;
//   - an output file that exists already (it may hold the text of an interrupted run, or be
//     the user's own): both files are left as they are;
//   - a NUL byte in the text of the new or the reference file (text mode: before a Ctrl-Z):
//     not a text this can rewrite; the output is deleted, the new file left unchanged;
//   - a failed write of the output file: the output is deleted, the new file left unchanged;
//   - a failed copy back: the output file is kept, the line names it and the new file.
// Result: always 0.
int8_t reconcile_vehicle_file(WalkEntry *entry);
