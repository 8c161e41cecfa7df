// What the update of single cars offers the run over a whole folder.
#pragma once

#include "listing.h"
#include "reconcile.h"

// A path with its control characters shown in caret notation needs up to twice the room.
// A line names at most three paths, each shown, and the system's words.
enum { REASON_SIZE = 256, SHOWN_SIZE = 2 * PATH_BUFFER_SIZE, LINE_SIZE = 4 * SHOWN_SIZE };

// The system's words for the last failed OS-layer call, in reason (REASON_SIZE bytes).
const char *system_words(char *reason);

// Hands each listed file to reconcile_vehicle_file, in listing order, with folder current; the
// cars are put in place in batches (one by one when there is no memory for a batch).
void reconcile_listed(char *folder, const Listing *listing, ReconcileRun *run);
