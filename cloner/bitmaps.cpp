// The bitmap swap of a job in its scratch folder: each new bitmap copied into a folder of
// its own inside "tmp", then every old bitmap deleted and each copy moved to its new name,
// every step through the holds on "tmp" and the copy folder.
#include "bitmaps.h"

#include <stdio.h>
#include <string.h>

#include "filecopy.h"
#include "paths.h"
#include "strings.h"
#include "workfolder.h"

void note_trouble(JobReport *report, const char *why)
{
    if (!report->trouble)
        report->trouble = why;
}

// Takes pair k out of the tables, noting it as left out by its name as written; the
// entries after it move up.
static void drop_pair(PairTables *t, int k, LeftOut *left_out)
{
    note_left_out(left_out, t->written[k][0] != '\0' ? t->written[k] : t->old_names[k]);
    for (; k < NAME_TABLE_ENTRIES - 1 && t->old_names[k][0] != '\0'; k++) {
        memcpy(t->old_names[k], t->old_names[k + 1], NAME_SIZE);
        memcpy(t->new_names[k], t->new_names[k + 1], NAME_SIZE);
        memcpy(t->written[k], t->written[k + 1], NAME_SIZE);
        t->stored[k] = t->stored[k + 1];
        t->slot[k] = t->slot[k + 1];
    }
    t->old_names[NAME_TABLE_ENTRIES - 1][0] = t->new_names[NAME_TABLE_ENTRIES - 1][0] = '\0';
    t->written[NAME_TABLE_ENTRIES - 1][0] = '\0';
    t->stored[NAME_TABLE_ENTRIES - 1] = 0;
}

// Gives each old name the case in which "tmp" stores its bitmap, since Windows finds
// "1shgt500.BMP" as "1SHGT500.BMP" while the .VRL texts are compared exactly. The name as
// written wins when it is stored so; else the lowest other spelling in byte order. A name
// written otherwise is kept in written[k] (else that entry is empty); stored[k] says
// whether "tmp" holds the bitmap at all.
void take_stored_names(PairTables *t)
{
    char found[NAME_TABLE_ENTRIES][NAME_SIZE];
    memset(found, 0, sizeof found);
    OsDirList *list = os_list_open("tmp");
    OsDirEntry entry;
    while (list && os_list_next(list, &entry)) {
        size_t length = strlen(entry.name);
        if (length <= 4 || length - 4 >= NAME_SIZE ||
            !same_ignoring_case(entry.name + length - 4, ".BMP", 4))
            continue;
        for (int k = 0; k < NAME_TABLE_ENTRIES && t->old_names[k][0] != '\0'; k++) {
            if (strlen(t->old_names[k]) != length - 4 ||
                !same_ignoring_case(t->old_names[k], entry.name, length - 4) ||
                strncmp(t->old_names[k], found[k], NAME_SIZE) == 0)
                continue;
            if (found[k][0] == '\0' || memcmp(t->old_names[k], entry.name, length - 4) == 0 ||
                memcmp(entry.name, found[k], length - 4) < 0) {
                memcpy(found[k], entry.name, length - 4);
                found[k][length - 4] = '\0';
            }
        }
    }
    if (list)
        os_list_close(list);
    for (int k = 0; k < NAME_TABLE_ENTRIES; k++) {
        t->written[k][0] = '\0';
        t->stored[k] = found[k][0] != '\0';
        if (found[k][0] != '\0' && strcmp(found[k], t->old_names[k]) != 0) {
            memcpy(t->written[k], t->old_names[k], NAME_SIZE);
            memcpy(t->old_names[k], found[k], NAME_SIZE);
        }
    }
}

// Puts each old name written in another case than stored back into the tables, as a pair
// of its own after the others (room allowing), since a .VRL file may hold either spelling;
// origin[k] gets the pair that entry k stands for.
void add_written_names(PairTables *t, int *origin)
{
    int pairs = 0;
    while (pairs < NAME_TABLE_ENTRIES && t->old_names[pairs][0] != '\0')
        pairs++;
    for (int k = 0; k < NAME_TABLE_ENTRIES; k++)
        origin[k] = k;
    for (int k = 0, end = pairs; k < end && pairs < NAME_TABLE_ENTRIES - 1; k++) {
        if (t->written[k][0] == '\0')
            continue;
        memcpy(t->old_names[pairs], t->written[k], NAME_SIZE);
        memcpy(t->new_names[pairs], t->new_names[k], NAME_SIZE);
        origin[pairs++] = k;
    }
}

// 1 when path is a plain file that can be opened for reading; 0 when it is none; -1 when it
// is one that cannot be opened, the system's reason in why (WHY_SIZE bytes).
static int can_read(const char *path, char *why)
{
    OsFileStatus status;
    if (os_file_status(path, &status) != 0 || !status.is_file)
        return 0;
    int fd = os_open(path, OS_OPEN_READ);
    if (fd < 0) {
        os_error_text(why, WHY_SIZE);
        return -1;
    }
    os_close(fd);
    return 1;
}

// 1 when pair k cannot take part, having said why: its old name repeats an earlier one, a
// name is a device, the new name is too long for the tables or longer than the old one
// (the .VRL texts have no more room than the old name), or the new bitmap cannot be read.
static int pair_refused(const PairTables *t, int k)
{
    const char *old_name = t->old_names[k], *new_name = t->new_names[k];
    for (int j = 0; j < k; j++)
        if (strlen(t->old_names[j]) == strlen(old_name) &&
            same_ignoring_case(t->old_names[j], old_name, strlen(old_name))) {
            os_print("Old bitmap name given twice, the later pair is left out: %s\n",
                   shown(old_name));
            return 1;
        }
    if (names_a_device(old_name) || names_a_device(new_name)) {
        os_print("Bitmap name is a Windows device, pair left out: %s\n",
               shown(names_a_device(old_name) ? old_name : new_name));
        return 1;
    }
    if (new_name[0] == '\0') {
        os_print("New bitmap name too long (31 characters at most), %s.BMP kept\n", shown(old_name));
        return 1;
    }
    char name[NAME_SIZE], source[SHORT_PATH_SIZE];
    memcpy(name, new_name, sizeof name);
    // The room is the old name's, in the game's bytes.
    if (tool_name_length(file_name_of(name)) > tool_name_length(old_name)) {
        os_print("New bitmap name longer than the old one, whose room in the .VRL files is %d "
                 "characters: %s to %s left out\n",
                 tool_name_length(old_name), shown(old_name), shown(new_name));
        return 1;
    }
    if (!fits(snprintf(source, sizeof source, "%s.BMP", new_name), sizeof source))
        source[0] = '\0';
    else if (case_twin_refused(source))
        return 1;
    char why[WHY_SIZE];
    int readable = can_read(source, why);
    if (readable == 0)
        os_print("File not found: %s.BMP\n", shown(new_name));
    else if (readable < 0)
        os_print("Cannot read %s.BMP, pair left out: %s\n", shown(new_name), why);
    return readable != 1;
}

// Makes a folder inside "tmp" for the copies of the new bitmaps, under a name the archive
// does not hold, so that no copy is packed whatever becomes of it, and holds it through the
// hold on "tmp". The hold, or null.
static OsHeldFolder *make_copy_folder(OsHeldFolder *scratch)
{
    char folder[SHORT_PATH_SIZE];
    for (int n = 1; n <= 9; n++) {
        snprintf(folder, sizeof folder, "tmp\\~zandrel%d", n);
        if (!os_exists(folder) && os_make_directory(folder) == 0)
            return os_hold_subfolder(scratch, folder + 4);
    }
    return nullptr;
}

// Copies the file source into the new file name of a held folder, never over an existing
// one. 0, or -1, with nothing left of the copy.
static int copy_into_held(const char *source, OsHeldFolder *folder, const char *name)
{
    int input = os_open(source, OS_OPEN_READ);
    if (input < 0)
        return -1;
    int output = os_held_create_new(folder, name);
    int result = output < 0 ? -1 : copy_range(input, output, 0, COPY_FILE_MAX);
    os_close(input);
    if (output >= 0 && result != 0)
        os_held_delete_created(folder, output, name);
    else if (output >= 0)
        os_close(output);
    return result;
}

// First pass: copies every new bitmap into the copy folder as "<slot>.BMP". A pair refused or
// not copied leaves the tables, so that its old bitmap stays and stays named.
static void copy_new_bitmaps(PairTables *t, OsHeldFolder *copies, LeftOut *left_out)
{
    for (int k = 0; k < NAME_TABLE_ENTRIES && t->old_names[k][0] != '\0';) {
        t->slot[k] = (int8_t)k;
        if (pair_refused(t, k)) {
            drop_pair(t, k, left_out);
            continue;
        }
        char source[SHORT_PATH_SIZE], copy[SHORT_PATH_SIZE];
        snprintf(source, sizeof source, "%s.BMP", t->new_names[k]);
        snprintf(copy, sizeof copy, "%d.BMP", t->slot[k]);
        if (!copies || copy_into_held(source, copies, copy) != 0) {
            os_print("Cannot copy %s.BMP into the scratch folder\n", shown(t->new_names[k]));
            drop_pair(t, k, left_out);
            continue;
        }
        k++;
    }
}

// 1 when pair k's new bitmap would take the name of a bitmap in "tmp" that stays: one no
// pair left in the tables replaces.
static int takes_a_staying_name(const PairTables *t, int k)
{
    char name[NAME_SIZE], path[SHORT_PATH_SIZE];
    memcpy(name, t->new_names[k], sizeof name);
    const char *file = file_name_of(name);
    size_t length = strlen(file);
    for (int j = 0; j < NAME_TABLE_ENTRIES && t->old_names[j][0] != '\0'; j++)
        if (strlen(t->old_names[j]) == length && same_ignoring_case(t->old_names[j], file, length))
            return 0;
    return fits(snprintf(path, sizeof path, "tmp\\%s.BMP", file), sizeof path) && os_exists(path);
}

// Leaves out every pair whose new bitmap would put its picture under the name of a bitmap
// that stays, which every part naming that bitmap would then show; its copy goes. Leaving
// one out keeps its old bitmap, which may stand in another's way in turn.
static void drop_colliding_pairs(PairTables *t, OsHeldFolder *copies, LeftOut *left_out)
{
    for (int k = 0; k < NAME_TABLE_ENTRIES && t->old_names[k][0] != '\0';) {
        if (!takes_a_staying_name(t, k)) {
            k++;
            continue;
        }
        char name[NAME_SIZE], copy[SHORT_PATH_SIZE];
        memcpy(name, t->new_names[k], sizeof name);
        os_print("%s.BMP of the archive stays, so %s.BMP cannot take its name: pair %s left out\n",
               shown(file_name_of(name)), shown(t->new_names[k]), shown(t->old_names[k]));
        snprintf(copy, sizeof copy, "%d.BMP", t->slot[k]);
        os_held_delete(copies, copy);
        drop_pair(t, k, left_out);
        k = 0;
    }
}

// Second pass: deletes every old bitmap, then moves each copy to its new name, so that no
// pair deletes a bitmap another pair brought in (a swap, a rotation). Every step goes through
// the holds on "tmp" and the copy folder, which goes at the end.
static void place_new_bitmaps(PairTables *t, OsHeldFolder *copies, OsHeldFolder *scratch,
                              JobReport *report)
{
    char path[SHORT_PATH_SIZE], copy[SHORT_PATH_SIZE], name[NAME_SIZE];
    for (int k = 0; k < NAME_TABLE_ENTRIES && t->old_names[k][0] != '\0'; k++)
        if (t->stored[k] &&
            fits(snprintf(path, sizeof path, "%s.BMP", t->old_names[k]), sizeof path))
            os_held_delete(scratch, path);
    for (int k = 0; k < NAME_TABLE_ENTRIES && t->old_names[k][0] != '\0'; k++) {
        memcpy(name, t->new_names[k], sizeof name);
        snprintf(path, sizeof path, "%s.BMP", file_name_of(name));
        snprintf(copy, sizeof copy, "%d.BMP", t->slot[k]);
        os_held_delete(scratch, path);
        if (os_held_move(copies, copy, scratch, path) != 0) {
            char why[WHY_SIZE];
            os_error_text(why, sizeof why);
            os_print("Cannot put %s.BMP in place in the scratch folder: %s\n", shown(t->new_names[k]),
                   why);
            note_trouble(report, "a new bitmap could not be put in place");
        } else if (t->stored[k]) {
            report->bitmaps_replaced++;
        } else {
            os_print("%s.BMP is not in the archive: %s.BMP is added, replacing no bitmap\n",
                   shown(t->old_names[k]), shown(t->new_names[k]));
            report->bitmaps_added++;
        }
    }
}

// Puts the new bitmaps into "tmp" in two passes, every copy made before any old bitmap
// goes. Pairs left out leave the tables.
void replace_bitmaps(PairTables *t, OsHeldFolder *scratch, JobReport *report)
{
    OsHeldFolder *copies = t->old_names[0][0] != '\0' ? make_copy_folder(scratch) : nullptr;
    copy_new_bitmaps(t, copies, &report->left_out);
    if (copies) {
        drop_colliding_pairs(t, copies, &report->left_out);
        place_new_bitmaps(t, copies, scratch, report);
        os_release_folder(copies, 1);
    }
}
