// Pelmora's files reached through the holds of its two folders, or by path without them.
#include "folders.h"

#include <string.h>

#include "listing.h"
#include "utility.h"

static const char *last_part(const char *path)
{
    const char *slash = strrchr(path, SEPARATOR);
    return slash ? slash + 1 : path;
}

int hold_run_folders(ReconcileRun *run, const char *reference_final)
{
    const char *finals[2] = {run->folder_final, reference_final};
    OsHeldFolder **holds[2] = {&run->held_folder, &run->held_reference};
    for (int at = 0; at < 2; at++) {
        *holds[at] = os_hold_folder(finals[at]);
        if (*holds[at])
            continue;
        char reason[256], shown[2 * PATH_BUFFER_SIZE];
        os_error_text(reason, sizeof reason);
        os_print("Could not hold %s: %s; nothing changed.\n",
                 visible_text(shown, sizeof shown, finals[at]), reason);
        release_run_folders(run);
        return -1;
    }
    return 0;
}

void release_run_folders(ReconcileRun *run)
{
    if (run->held_reference)
        os_release_folder(run->held_reference, 0);
    if (run->held_folder)
        os_release_folder(run->held_folder, 0);
    run->held_reference = run->held_folder = nullptr;
}

int open_run_file(const ReconcileRun *run, int in_reference, const char *path, int for_writing,
                  OsOpenFile *file)
{
    OsHeldFolder *held = in_reference ? run->held_reference : run->held_folder;
    return held ? os_held_open_file(held, last_part(path), for_writing, file)
                : os_open_file(path, for_writing, file);
}

int run_file_is_still_at(const ReconcileRun *run, const char *path, const OsOpenFile *file)
{
    return run->held_folder ? os_held_file_is_still_at(run->held_folder, last_part(path), file)
                            : os_file_is_still_at(file, path, run->folder_final);
}

int create_run_file(const ReconcileRun *run, const char *path)
{
    return run->held_folder ? os_held_create_new(run->held_folder, last_part(path))
                            : os_create_new(path);
}

int delete_created_run_file(const ReconcileRun *run, int fd, const char *path)
{
    return run->held_folder ? os_held_delete_created(run->held_folder, fd, last_part(path))
                            : os_delete_created(fd, path);
}

int delete_run_file(const ReconcileRun *run, const char *path)
{
    return run->held_folder ? os_held_delete(run->held_folder, last_part(path))
                            : os_delete_file(path);
}
