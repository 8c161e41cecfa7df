// The work folder's lock file: taken before the first job, holding the record of "tmp"
// while a job uses it, removed when the work is done; and the mark inside "tmp" that proves
// a record was written for that very folder.
#include "worklock.h"

#include <stdio.h>
#include <string.h>

#include "checks.h"
#include "os.h"
#include "workfolder.h"

const char WORK_LOCK_NAME[] = "tmp.lock";
const char SCRATCH_RECORD_END[] = "end";
const char SCRATCH_MARK_FOLDER[] = "tmp\\~mark";
const char SCRATCH_MARK[] = "tmp\\~mark\\zandrel";

static const char RECORD_HEAD[] = "Zandrel's scratch folder tmp";
static const char FOLDER_KEY[] = "folder: ";
static const char TOKEN_KEY[] = "token: ";
static const char MARK_HEAD[] = "Zandrel's mark of tmp: ";
static const char NEW_KEY[] = "new archive: ";
static const char ASIDE_KEY[] = "earlier archive: ";
static const char PACKING_LINE[] = "packing";

enum {
    RECORD_SIZE = 512,
    WHY_TEXT_SIZE = 200,
    ASIDE_NAMES = 9,
    TOKEN_BYTES = (SCRATCH_TOKEN_SIZE - 1) / 2,
    MARK_TEXT_SIZE = 64
};

// The record's kinds, as parse_scratch_record tells them.
enum { NO_RECORD = 0, OWN_RECORD = 1, EARLIER_RECORD = 2 };

// The run's lock; handle -1 while none is held.
static OsRunLock work_lock = {-1, ""};

// The token of the mark this run left in the job's "tmp"; "" while there is none.
static char run_token[SCRATCH_TOKEN_SIZE] = "";

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

// 1 when text is a token: exactly SCRATCH_TOKEN_SIZE - 1 lower-case hexadecimal digits.
static int is_token(const char *text)
{
    size_t length = strspn(text, "0123456789abcdef");
    return length == SCRATCH_TOKEN_SIZE - 1 && text[length] == '\0' ? 1 : 0;
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

// Reads the identity and token lines of a record at *text. OWN_RECORD with both;
// EARLIER_RECORD with neither, or with the identity alone (as earlier releases wrote them),
// record->folder and record->token then zero; else NO_RECORD.
static int take_identity_and_token(const char **text, ScratchRecord *record)
{
    char line[PATH_BUFFER_SIZE];
    memset(&record->folder, 0, sizeof record->folder);
    record->token[0] = '\0';
    if (strncmp(*text, FOLDER_KEY, strlen(FOLDER_KEY)) == 0 &&
        (!take_line(text, FOLDER_KEY, line, sizeof line) || !parse_identity(line, &record->folder)))
        return NO_RECORD;
    if (strncmp(*text, TOKEN_KEY, strlen(TOKEN_KEY)) != 0) {
        memset(&record->folder, 0, sizeof record->folder);
        return EARLIER_RECORD;
    }
    if (record->folder.volume == 0 && record->folder.index == 0)
        return NO_RECORD;
    return take_line(text, TOKEN_KEY, record->token, sizeof record->token) &&
                   is_token(record->token)
               ? OWN_RECORD
               : NO_RECORD;
}

int parse_scratch_record(const char *text, ScratchRecord *record)
{
    char line[PATH_BUFFER_SIZE], end[sizeof SCRATCH_RECORD_END];
    if (!take_line(&text, RECORD_HEAD, line, sizeof line) || line[0] != '\0')
        return NO_RECORD;
    int kind = take_identity_and_token(&text, record);
    if (kind == NO_RECORD || !take_line(&text, NEW_KEY, record->new_mas, sizeof record->new_mas))
        return NO_RECORD;
    size_t packing = strlen(PACKING_LINE);
    record->packing = strncmp(text, PACKING_LINE, packing) == 0 && text[packing] == '\n';
    text += record->packing ? packing + 1 : 0;
    const char *new_mas = record->new_mas;
    return take_line(&text, ASIDE_KEY, record->aside, sizeof record->aside) &&
                   take_line(&text, SCRATCH_RECORD_END, end, sizeof end) && end[0] == '\0' &&
                   os_ansi_length(new_mas) >= 0 && tool_name_length(new_mas) <= ARCHIVE_NAME_MAX &&
                   !names_a_device(new_mas) && is_tool_safe_name(new_mas) &&
                   is_work_folder_archive(new_mas) && is_aside_name_of(record->aside, new_mas)
               ? kind
               : NO_RECORD;
}

int format_scratch_mark(const char *token, char *text, size_t size)
{
    int written = snprintf(text, size, "%s%s\n", MARK_HEAD, token);
    return written >= 0 && (size_t)written < size ? written : -1;
}

// Writes the work folder's path of name (a path inside it) into path (OS_PATH_SIZE bytes).
// 1, or 0 when it does not fit.
static int work_path(char *path, const char *name)
{
    int written = snprintf(path, OS_PATH_SIZE, "%s\\%s", work_folder, name);
    return written >= 0 && written < OS_PATH_SIZE ? 1 : 0;
}

// Makes the mark folder in "tmp" and the mark in it, with a new token in run_token. 0, or -1
// with nothing left and the reason in why (WHY_TEXT_SIZE bytes).
static int make_scratch_mark(char *why)
{
    char folder[OS_PATH_SIZE], mark[OS_PATH_SIZE], text[MARK_TEXT_SIZE];
    uint8_t bytes[TOKEN_BYTES];
    snprintf(why, WHY_TEXT_SIZE, "%s", "the path is too long");
    if (!work_path(folder, SCRATCH_MARK_FOLDER) || !work_path(mark, SCRATCH_MARK))
        return -1;
    if (os_random(bytes, sizeof bytes) != 0 || os_make_directory(folder) != 0) {
        os_error_text(why, WHY_TEXT_SIZE);
        return -1;
    }
    for (int k = 0; k < TOKEN_BYTES; k++)
        snprintf(run_token + 2 * k, 3, "%02x", bytes[k]);
    int length = format_scratch_mark(run_token, text, sizeof text);
    int fd = os_create_new(mark);
    int written = fd >= 0 ? os_write(fd, text, (uint32_t)length) : -1;
    if (written != length)
        os_error_text(why, WHY_TEXT_SIZE);
    if (fd >= 0 && os_close(fd) != 0 && written == length) {
        os_error_text(why, WHY_TEXT_SIZE);
        written = -1;
    }
    if (written == length)
        return 0;
    if (fd >= 0)
        os_delete_file(mark);
    os_remove_directory(folder);
    run_token[0] = '\0';
    return -1;
}

// Removes the mark this run left in "tmp", and its folder.
static void remove_scratch_mark(void)
{
    char folder[OS_PATH_SIZE], mark[OS_PATH_SIZE];
    if (work_path(folder, SCRATCH_MARK_FOLDER) && work_path(mark, SCRATCH_MARK)) {
        os_delete_file(mark);
        os_remove_directory(folder);
    }
    run_token[0] = '\0';
}

// 1 when name (a path inside the work folder) lies where it is named once every link is
// resolved: no link at its end, including a Linux link that Wine shows as a folder, and none
// to a case twin that Linux keeps apart.
static int lies_where_named(const char *name)
{
    char path[OS_PATH_SIZE], final[OS_PATH_SIZE];
    return work_path(path, name) && os_final_path(path, final, sizeof final) == 0 &&
                   os_final_path_names(final, path)
               ? 1
               : 0;
}

// 1 when "tmp" holds the mark of record's token: a plain file with one name in a folder that
// is no link, opened without following a link and read through that handle. The mark is
// removed then, as "tmp" is cleared next. Else 0, and nothing is created or removed.
static int mark_proves(const ScratchRecord *record)
{
    char folder[OS_PATH_SIZE], mark[OS_PATH_SIZE], expected[MARK_TEXT_SIZE], found[MARK_TEXT_SIZE];
    OsFileStatus status;
    OsRunLock probe;
    int length = format_scratch_mark(record->token, expected, sizeof expected);
    // A missing mark would be created by the take, and a mark of another length is no proof.
    if (length < 0 || !work_path(folder, SCRATCH_MARK_FOLDER) || !work_path(mark, SCRATCH_MARK) ||
        os_is_link(folder) != 0 || !lies_where_named("tmp") ||
        !lies_where_named(SCRATCH_MARK_FOLDER) || os_file_status(mark, &status) != 0 ||
        !status.is_file || status.size != (uint32_t)length)
        return 0;
    // Text that is not this very mark is left as it is (OS_LOCK_FOREIGN).
    if (os_lock_take(mark, &probe, expected, found, sizeof found) != OS_LOCK_TAKEN)
        return 0;
    os_lock_release(&probe);
    return strcmp(found, expected) == 0 ? 1 : 0;
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

// 1 when the record was written for the "tmp" now in the work folder: its identity, and
// the mark of the record's token inside it; else 0. An identity alone proves nothing: a
// folder made where another was deleted may get its number.
static int record_is_for_this_folder(const ScratchRecord *record)
{
    OsFolderId id;
    return scratch_folder_id(&id) == 0 && os_compare_folder_ids(&id, &record->folder) == 0 &&
                   mark_proves(record)
               ? 1
               : 0;
}

// Ends the line on a stopped run's job: what became of its new archive and earlier archive,
// from what is on disk. The new archive may be damaged only once packing began and when it
// is there.
static void say_what_became(const ScratchRecord *record)
{
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

// Clears the "tmp" a stopped run left, as its record says, and says what became of its job.
static void clear_stopped_scratch(const ScratchRecord *record)
{
    remove_scratch_folder();
    os_print("Cleared the scratch folder tmp left by a Zandrel stopped while making %s",
             shown(record->new_mas));
    if (os_exists("tmp"))
        os_print(" (not wholly: move it away)");
    say_what_became(record);
}

// The one entry of a held folder, when it has exactly one and it is spelled exactly name;
// 1 then, with it in *entry, else 0.
static int holds_only(OsHeldFolder *folder, const char *name, OsDirEntry *entry)
{
    OsDirEntry other;
    return os_held_next(folder, entry) == 1 && strcmp(entry->name, name) == 0 &&
                   os_held_next(folder, &other) == 0
               ? 1
               : 0;
}

// A run stopped while it made its mark leaves "tmp" holding the mark folder alone, empty or
// with a mark that no record names, which would keep every later job out. Removes exactly
// that, through holds that follow no link: the mark folder when it is empty or holds only a
// mark file no larger than a mark. "tmp" itself stays, empty, for the next job to use.
static void clear_unrecorded_mark(void)
{
    char folder[OS_PATH_SIZE];
    OsHeldFolder *scratch = work_path(folder, "tmp") ? os_hold_folder(folder) : nullptr;
    OsDirEntry entry;
    OsHeldFolder *marks = scratch && holds_only(scratch, SCRATCH_MARK_FOLDER + 4, &entry) &&
                                  (entry.attributes & OS_ATTR_DIRECTORY)
                              ? os_hold_subfolder(scratch, entry.name)
                              : nullptr;
    const char *mark = SCRATCH_MARK + strlen(SCRATCH_MARK_FOLDER) + 1;
    if (marks && holds_only(marks, mark, &entry) &&
        !(entry.attributes & (OS_ATTR_DIRECTORY | OS_ATTR_LINK)) && entry.size < MARK_TEXT_SIZE)
        os_held_delete(marks, mark);
    if (marks)
        os_release_folder(marks, 1);
    if (scratch)
        os_release_folder(scratch, 0);
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
    int kind = parse_scratch_record(previous, &record);
    if (kind == OWN_RECORD && record_is_for_this_folder(&record)) {
        clear_stopped_scratch(&record);
    } else if (kind == EARLIER_RECORD) {
        // Its "tmp" cannot be proven and stays; its earlier archive is still worth naming.
        os_print("A Zandrel of an earlier release was stopped while making %s",
                 shown(record.new_mas));
        say_what_became(&record);
    }
    clear_unrecorded_mark();
    clear_scratch_record();
    return 0;
}

int format_scratch_record(const ScratchRecord *record, char *text, size_t size)
{
    int written =
        snprintf(text, size, "%s\n%s%llx %llx\n%s%s\n%s%s\n%s%s%s\n%s\n", RECORD_HEAD, FOLDER_KEY,
                 static_cast<unsigned long long>(record->folder.volume),
                 static_cast<unsigned long long>(record->folder.index), TOKEN_KEY, record->token,
                 NEW_KEY, record->new_mas, record->packing ? "packing\n" : "", ASIDE_KEY,
                 record->aside, SCRATCH_RECORD_END);
    return written >= 0 && (size_t)written < size ? written : -1;
}

int record_scratch_folder(const char *new_mas, const char *aside, int packing)
{
    if (work_lock.handle < 0)
        return 0;
    char text[RECORD_SIZE], why[WHY_TEXT_SIZE];
    int marked_now = run_token[0] == '\0';
    if (marked_now && make_scratch_mark(why) != 0) {
        os_print("Cannot leave the mark %s in the scratch folder: %s\n", SCRATCH_MARK, why);
        return -1;
    }
    ScratchRecord record;
    record.packing = packing;
    memcpy(record.token, run_token, sizeof record.token);
    int fits = snprintf(record.new_mas, sizeof record.new_mas, "%s", new_mas) >= 0 &&
               snprintf(record.aside, sizeof record.aside, "%s", aside) >= 0;
    if (fits && scratch_folder_id(&record.folder) == 0 &&
        format_scratch_record(&record, text, sizeof text) >= 0 &&
        os_lock_write(&work_lock, text) == 0)
        return 0;
    os_error_text(why, sizeof why);
    os_print("Cannot write the lock file %s: %s\n", WORK_LOCK_NAME, why);
    if (marked_now)
        remove_scratch_mark();
    return -1;
}

int scratch_folder_holds_entries(void)
{
    const char *mark_folder = SCRATCH_MARK_FOLDER + 4;
    int found = 0;
    OsDirList *list = os_list_open("tmp");
    OsDirEntry entry;
    while (list && !found && os_list_next(list, &entry))
        found = strcmp(entry.name, ".") != 0 && strcmp(entry.name, "..") != 0 &&
                (run_token[0] == '\0' || strcmp(entry.name, mark_folder) != 0);
    if (list)
        os_list_close(list);
    return found;
}

void clear_scratch_record(void)
{
    char folder[OS_PATH_SIZE];
    if (run_token[0] != '\0') {
        remove_scratch_mark();
        if (work_path(folder, "tmp"))
            os_remove_directory(folder);
    }
    if (work_lock.handle >= 0)
        os_lock_write(&work_lock, "");
}

void release_work_lock(void)
{
    os_lock_release(&work_lock);
}
