// The work folder's lock file: taken before the first job, holding the record of "tmp"
// while a job uses it, removed when the work is done.
#include "worklock.h"

#include <stdio.h>
#include <string.h>

#include "checks.h"
#include "os.h"
#include "workfolder.h"

const char WORK_LOCK_NAME[] = "tmp.lock";
const char SCRATCH_RECORD_END[] = "end";

static const char RECORD_HEAD[] = "Zandrel's scratch folder tmp";
static const char FOLDER_KEY[] = "folder: ";
static const char NEW_KEY[] = "new archive: ";
static const char ASIDE_KEY[] = "earlier archive: ";
static const char PACKING_LINE[] = "packing";

enum { RECORD_SIZE = 512, WHY_TEXT_SIZE = 200, ASIDE_NAMES = 9 };

// The run's lock; handle -1 while none is held.
static OsRunLock work_lock = {-1, ""};

// Takes the line at *text that starts with key into value (size bytes, the key left out)
// and moves *text past it. 1 when the line is there, whole and fits, else 0.
static int take_line(const char **text, const char *key, char *value, size_t size)
{
    size_t key_length = strlen(key), length = strcspn(*text, "\n");
    if ((*text)[length] != '\n' || length < key_length || strncmp(*text, key, key_length) != 0 ||
        length - key_length >= size)
        return 0;
    memcpy(value, *text + key_length, length - key_length);
    value[length - key_length] = '\0';
    *text += length + 1;
    return 1;
}

// Reads a number of 1 to 16 hexadecimal digits at *text into *value, moving past it.
static int take_hex(const char **text, uint64_t *value)
{
    int digits = 0;
    for (*value = 0; digits < 16 && strchr("0123456789abcdef", **text) && **text; digits++)
        *value = *value * 16 +
                 static_cast<uint64_t>(strchr("0123456789abcdef", *(*text)++) - "0123456789abcdef");
    return digits > 0 ? 1 : 0;
}

// 1 when text is "<volume> <index>" in hexadecimal, *id filled.
static int parse_identity(const char *text, OsFolderId *id)
{
    return take_hex(&text, &id->volume) && *text++ == ' ' && take_hex(&text, &id->index) &&
                   *text == '\0'
               ? 1
               : 0;
}

// 1 when aside is one of the names move_aside gives new_mas's earlier archive, or empty.
static int is_aside_name_of(const char *aside, const char *new_mas)
{
    size_t length = strlen(new_mas);
    if (aside[0] == '\0')
        return 1;
    if (strncmp(aside, new_mas, length) != 0 || strncmp(aside + length, ".bak", 4) != 0)
        return 0;
    const char *number = aside + length + 4;
    return number[0] == '\0' ||
           (number[0] >= '2' && number[0] <= '0' + ASIDE_NAMES && number[1] == '\0');
}

int parse_scratch_record(const char *text, ScratchRecord *record)
{
    char line[PATH_BUFFER_SIZE], end[sizeof SCRATCH_RECORD_END];
    if (!take_line(&text, RECORD_HEAD, line, sizeof line) || line[0] != '\0' ||
        !take_line(&text, FOLDER_KEY, line, sizeof line) ||
        !parse_identity(line, &record->folder) ||
        !take_line(&text, NEW_KEY, record->new_mas, sizeof record->new_mas))
        return 0;
    size_t packing = strlen(PACKING_LINE);
    record->packing = strncmp(text, PACKING_LINE, packing) == 0 && text[packing] == '\n';
    text += record->packing ? packing + 1 : 0;
    const char *new_mas = record->new_mas;
    return take_line(&text, ASIDE_KEY, record->aside, sizeof record->aside) &&
                   take_line(&text, SCRATCH_RECORD_END, end, sizeof end) && end[0] == '\0' &&
                   os_ansi_length(new_mas) >= 0 && tool_name_length(new_mas) <= ARCHIVE_NAME_MAX &&
                   !names_a_device(new_mas) && is_tool_safe_name(new_mas) &&
                   is_work_folder_archive(new_mas) && is_aside_name_of(record->aside, new_mas)
               ? 1
               : 0;
}

// The identity of the work folder's "tmp" when it is a folder and no link, else -1.
static int scratch_folder_id(OsFolderId *id)
{
    char folder[OS_PATH_SIZE];
    OsFileStatus status;
    int written = snprintf(folder, sizeof folder, "%s\\tmp", work_folder);
    if (written < 0 || (size_t)written >= sizeof folder || os_is_link(folder) != 0 ||
        os_file_status(folder, &status) != 0 || !status.is_directory)
        return -1;
    return os_folder_id(folder, id);
}

// 1 when the record was written for the "tmp" now in the work folder, else 0.
static int record_is_for_this_folder(const ScratchRecord *record)
{
    OsFolderId id;
    return scratch_folder_id(&id) == 0 && os_compare_folder_ids(&id, &record->folder) == 0 ? 1 : 0;
}

// Clears the "tmp" a stopped run left, as its record says, and says what became of its job,
// from what is on disk: the new archive may be damaged only once packing began and when it
// is there.
static void clear_stopped_scratch(const ScratchRecord *record)
{
    remove_scratch_folder();
    os_print("Cleared the scratch folder tmp left by a Zandrel stopped while making %s",
           shown(record->new_mas));
    if (os_exists("tmp"))
        os_print(" (not wholly: move it away)");
    OsFileStatus status;
    int made = os_file_status(record->new_mas, &status) == 0 && status.is_file;
    int kept = record->aside[0] != '\0' && os_exists(record->aside);
    if (record->packing && made && kept)
        os_print(": %s may be damaged, the earlier one is kept as %s\n", shown(record->new_mas),
               shown(record->aside));
    else if (record->packing && made)
        os_print(": %s may be damaged\n", shown(record->new_mas));
    else if (kept)
        os_print(": %s was not made, the earlier one is kept as %s\n", shown(record->new_mas),
               shown(record->aside));
    else
        os_print(": %s was not touched yet\n", shown(record->new_mas));
}

// Says in one line why the lock could not be taken.
static void say_not_taken(int taken)
{
    char why[WHY_TEXT_SIZE];
    const char *folder = shown(work_folder);
    if (taken == OS_LOCK_HELD)
        os_print("Another Zandrel is working in %s: no job run\n", folder);
    else if (taken == OS_LOCK_IN_USE)
        os_print("%s in %s is open in another program (another Zandrel, an archive tool one "
               "started, or a viewer): no job run\n",
               WORK_LOCK_NAME, folder);
    else if (taken == OS_LOCK_FAILED)
        os_print("Cannot make the lock file %s in %s: %s, no job run\n", WORK_LOCK_NAME, folder,
               os_error_text(why, sizeof why));
    else
        os_print("%s in %s %s, no job run\n", WORK_LOCK_NAME, folder, os_lock_refusal(taken));
}

int take_work_lock(void)
{
    char path[OS_PATH_SIZE], previous[RECORD_SIZE];
    int written = snprintf(path, sizeof path, "%s\\%s", work_folder, WORK_LOCK_NAME);
    int taken = written >= 0 && (size_t)written < sizeof path
                    ? os_lock_take(path, &work_lock, RECORD_HEAD, previous, sizeof previous)
                    : OS_LOCK_FAILED;
    if (taken != OS_LOCK_TAKEN) {
        say_not_taken(taken);
        return 1;
    }
    ScratchRecord record;
    if (parse_scratch_record(previous, &record) && record_is_for_this_folder(&record))
        clear_stopped_scratch(&record);
    clear_scratch_record();
    return 0;
}

int format_scratch_record(const ScratchRecord *record, char *text, size_t size)
{
    int written =
        snprintf(text, size, "%s\n%s%llx %llx\n%s%s\n%s%s%s\n%s\n", RECORD_HEAD, FOLDER_KEY,
                 static_cast<unsigned long long>(record->folder.volume),
                 static_cast<unsigned long long>(record->folder.index), NEW_KEY, record->new_mas,
                 record->packing ? "packing\n" : "", ASIDE_KEY, record->aside, SCRATCH_RECORD_END);
    return written >= 0 && (size_t)written < size ? written : -1;
}

int record_scratch_folder(const char *new_mas, const char *aside, int packing)
{
    if (work_lock.handle < 0)
        return 0;
    char text[RECORD_SIZE], why[WHY_TEXT_SIZE];
    ScratchRecord record;
    record.packing = packing;
    int fits = snprintf(record.new_mas, sizeof record.new_mas, "%s", new_mas) >= 0 &&
               snprintf(record.aside, sizeof record.aside, "%s", aside) >= 0;
    if (fits && scratch_folder_id(&record.folder) == 0 &&
        format_scratch_record(&record, text, sizeof text) >= 0 &&
        os_lock_write(&work_lock, text) == 0)
        return 0;
    os_error_text(why, sizeof why);
    os_print("Cannot write the lock file %s: %s\n", WORK_LOCK_NAME, why);
    return -1;
}

void clear_scratch_record(void)
{
    if (work_lock.handle >= 0)
        os_lock_write(&work_lock, "");
}

void release_work_lock(void)
{
    os_lock_release(&work_lock);
}
