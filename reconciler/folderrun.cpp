// Pelmora's run over the new folder: its listing taken and held with the reference folder,
// each car updated, then the earlier output files that no line named.
#include "reconcile.h"

#include <stdio.h>
#include <string.h>

#include "folders.h"
#include "listing.h"
#include "os.h"
#include "update.h"
#include "utility.h"

// Names each earlier output file ("car.veh.pelmora") that is still there and that no line named:
// one without its car, or beside a car that was not updated from it. Each counts as unchanged.
static void name_leftovers(const char *folder, ReconcileRun *run)
{
    for (int32_t at = 0; (run->kinds & LISTED_OUTPUTS) && at < run->sorted_count; at++) {
        char name[OS_NAME_SIZE], car[OS_NAME_SIZE], path[PATH_BUFFER_SIZE];
        snprintf(name, sizeof name, "%s", run->sorted[at]);
        set_ascii_case(name, ASCII_LOWER);
        if (run->named[at] || match_wildcard(name, "*.veh.pelmora") != 1)
            continue;
        int length = snprintf(path, sizeof path, "%s%c%s", folder, SEPARATOR, run->sorted[at]);
        if (!fits_path(path, length) || !os_exists(path))
            continue;
        snprintf(car, sizeof car, "%.*s", static_cast<int>(strlen(name) - strlen(OUTPUT_SUFFIX)),
                 name);
        char shown[SHOWN_SIZE], shown_car[2 * OS_NAME_SIZE];
        visible_text(shown, sizeof shown, path);
        visible_text(shown_car, sizeof shown_car, car);
        if (find_listed(run, car) < 0)
            os_print("Left %s as it is: there is no %s beside it, whose text it may hold from an "
                     "interrupted run\n",
                     shown, shown_car);
        else
            os_print("Left %s as it is: %s beside it was not updated from it\n", shown, shown_car);
        run->unchanged++;
    }
}

// 1 with the absolute form of folder in out (PATH_BUFFER_SIZE bytes), or 0 after a message when
// it would be longer than VEH_PATH_UNITS. A folder that begins at a root ('\cars', a network
// path) or names a drive is taken as it is: make_absolute_path would put it below the current
// folder.
static int absolute_folder(char *out, const char *folder)
{
    int relative = folder[0] != '\\' && folder[0] != '/' && !(folder[0] && folder[1] == ':');
    int fits = relative ? make_absolute_path(out, folder) != nullptr
                        : fits_path(out, snprintf(out, PATH_BUFFER_SIZE, "%s", folder));
    if (fits && os_utf16_length(out) <= VEH_PATH_UNITS)
        return 1;
    char shown[SHOWN_SIZE];
    os_print("Folder name too long: %s\n", visible_text(shown, sizeof shown, folder));
    return 0;
}

int8_t reconcile_vehicle_files(const char *new_folder, const char *reference_folder)
{
    char folder[PATH_BUFFER_SIZE], reference[PATH_BUFFER_SIZE], final[OS_PATH_SIZE];
    if (!absolute_folder(folder, new_folder) || !absolute_folder(reference, reference_folder))
        return -1;
    OsFileStatus status;
    if (os_file_status(folder, &status) != 0)
        return -1;
    if (!status.is_directory)
        return 0;
    // A link or a subst drive may lead to a folder whose final path does not fit.
    char reason[REASON_SIZE], shown[SHOWN_SIZE];
    visible_text(shown, sizeof shown, folder);
    if (os_final_path(folder, final, sizeof final) != 0) {
        os_print("Could not find where %s really lies: %s; nothing changed.\n", shown,
                 system_words(reason));
        return -1;
    }
    Listing listing = {};
    if (os_change_directory(folder) != 0 || list_files(folder, &listing) != 0) {
        os_print("Could not list %s: %s; nothing changed.\n", shown, system_words(reason));
        free_listing(&listing);
        return -1;
    }
    ReconcileRun run = {};
    run.reference_folder = reference;
    run.folder_final = final;
    run.sorted = listing.sorted;
    run.sorted_count = listing.count;
    run.named = listing.named;
    run.kinds = listing.kinds;
    char reference_final[OS_PATH_SIZE];
    if (os_final_path(reference, reference_final, sizeof reference_final) != 0) {
        visible_text(shown, sizeof shown, reference);
        os_print("Could not find where %s really lies: %s; nothing changed.\n", shown,
                 system_words(reason));
        free_listing(&listing);
        return -1;
    }
    if (hold_run_folders(&run, reference_final) != 0) {
        free_listing(&listing);
        return -1;
    }
    reconcile_listed(folder, &listing, &run);
    release_run_folders(&run);
    name_leftovers(folder, &run);
    os_print("Done in %s: %d updated, %d left unchanged\n", shown, static_cast<int>(run.updated),
             static_cast<int>(run.unchanged));
    free_listing(&listing);
    return run.unchanged > 0 || run.not_deleted > 0 ? 1 : 0;
}
