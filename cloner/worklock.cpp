// The work folder's lock file: taken before the first job, holding the record of "tmp"
// while a job uses it, removed when the work is done.
#include "worklock.h"

#include <stdio.h>
#include <string.h>

#include "os.h"
#include "paths.h"
#include "workfolder.h"

const char WORK_LOCK_NAME[] = "tmp.lock";
const char SCRATCH_RECORD_END[] = "end";

static const char RECORD_HEAD[] = "Zandrel's scratch folder tmp";
static const char NEW_KEY[] = "new archive: ";
static const char ASIDE_KEY[] = "earlier archive: ";
static const char PACKING_LINE[] = "packing";

enum { RECORD_SIZE = 512, WHY_TEXT_SIZE = 200 };

// The run's lock; handle -1 while none is held.
static OsRunLock work_lock = {-1, ""};

// A record read back: the new archive, whether packing had begun, the aside name.
struct ScratchRecord {
    char new_mas[PATH_BUFFER_SIZE];
    char aside[PATH_BUFFER_SIZE];
    int packing;
};

// Copies the value of the line "key value" of text into value (PATH_BUFFER_SIZE bytes).
// 1 when found, else 0.
static int record_value(const char *text, const char *key, char *value)
{
    for (const char *line = text; *line;) {
        size_t length = strcspn(line, "\n");
        size_t key_length = strlen(key);
        if (length >= key_length && strncmp(line, key, key_length) == 0 &&
            length - key_length < PATH_BUFFER_SIZE) {
            memcpy(value, line + key_length, length - key_length);
            value[length - key_length] = '\0';
            return 1;
        }
        line += length + (line[length] == '\n');
    }
    return 0;
}

// 1 when text is a whole record (its first line the head, its last the end marker, a new
// archive named), *record filled; else 0.
static int parse_record(const char *text, ScratchRecord *record)
{
    size_t head = strlen(RECORD_HEAD), length = strlen(text), end = strlen(SCRATCH_RECORD_END);
    if (strncmp(text, RECORD_HEAD, head) != 0 || text[head] != '\n' || length < end + 2 ||
        text[length - 1] != '\n' || text[length - end - 2] != '\n' ||
        strncmp(text + length - end - 1, SCRATCH_RECORD_END, end) != 0)
        return 0;
    record->aside[0] = '\0';
    record_value(text, ASIDE_KEY, record->aside);
    char packing[PATH_BUFFER_SIZE];
    record->packing = record_value(text, PACKING_LINE, packing);
    return record_value(text, NEW_KEY, record->new_mas) && record->new_mas[0] != '\0';
}

// Clears the "tmp" a stopped run left, as its record says, and says what became of its job.
static void clear_stopped_scratch(const ScratchRecord *record)
{
    OsFileStatus status;
    if (os_is_link("tmp") != 0 || os_file_status("tmp", &status) != 0 || !status.is_directory)
        return;
    remove_scratch_folder();
    printf("Cleared the scratch folder tmp left by a Zandrel stopped while making %s",
           shown(record->new_mas));
    if (os_exists("tmp"))
        printf(" (not wholly: move it away)");
    if (!record->packing)
        printf(": %s was not touched yet\n", shown(record->new_mas));
    else if (record->aside[0] != '\0' && os_exists(record->aside))
        printf(": %s may be damaged, the earlier one is kept as %s\n", shown(record->new_mas),
               shown(record->aside));
    else
        printf(": %s may be damaged\n", shown(record->new_mas));
}

int take_work_lock(void)
{
    char path[PATH_BUFFER_SIZE], previous[RECORD_SIZE], why[WHY_TEXT_SIZE];
    int written = snprintf(path, sizeof path, "%s\\%s", work_folder, WORK_LOCK_NAME);
    int taken = written >= 0 && (size_t)written < sizeof path
                    ? os_lock_take(path, &work_lock, previous, sizeof previous)
                    : -1;
    if (taken == 1) {
        printf("Another Zandrel is working in %s: no job run\n", shown(work_folder));
        return 1;
    }
    if (taken != 0) {
        os_error_text(why, sizeof why);
        printf("Cannot make the lock file %s in %s: %s, no job run\n", WORK_LOCK_NAME,
               shown(work_folder), why);
        return 1;
    }
    ScratchRecord record;
    if (parse_record(previous, &record))
        clear_stopped_scratch(&record);
    clear_scratch_record();
    return 0;
}

int record_scratch_folder(const char *new_mas, const char *aside, int packing)
{
    if (work_lock.handle < 0)
        return 0;
    char text[RECORD_SIZE], why[WHY_TEXT_SIZE];
    int written =
        snprintf(text, sizeof text, "%s\n%s%s\n%s%s%s\n%s\n", RECORD_HEAD, NEW_KEY, new_mas,
                 packing ? "packing\n" : "", ASIDE_KEY, aside, SCRATCH_RECORD_END);
    if (written >= 0 && (size_t)written < sizeof text && os_lock_write(&work_lock, text) == 0)
        return 0;
    os_error_text(why, sizeof why);
    printf("Cannot write the lock file %s: %s\n", WORK_LOCK_NAME, why);
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
