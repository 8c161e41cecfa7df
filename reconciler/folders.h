// Where Pelmora reaches the files of its two folders: through the run's holds of the folders,
// by each file's last part, so that a folder renamed or swapped for a link during the run
// cannot send the work to another folder's files; by path where the run holds no folders.
#pragma once

#include "os.h"
#include "reconcile.h"

// The folders of a run held: the new folder and the reference folder, each by its final path
// (os_final_path: a link's hold would be refused). 0, or -1 after a line naming the folder that
// could not be held (nothing held then).
int hold_run_folders(ReconcileRun *run, const char *reference_final);
void release_run_folders(ReconcileRun *run);

// os_open_file of the file at path (a file of the new folder, or of the reference folder when
// in_reference is 1). 0, or -1 (os_error_text).
int open_run_file(const ReconcileRun *run, int in_reference, const char *path, int for_writing,
                  OsOpenFile *file);
// os_file_is_still_at for a file of the new folder.
int run_file_is_still_at(const ReconcileRun *run, const char *path, const OsOpenFile *file);
// os_create_new, os_delete_created and os_delete_file for a file of the new folder.
int create_run_file(const ReconcileRun *run, const char *path);
int delete_created_run_file(const ReconcileRun *run, int fd, const char *path);
int delete_run_file(const ReconcileRun *run, const char *path);
