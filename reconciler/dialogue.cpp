// Pelmora's console dialogue: the banner, the two folder questions, the question whether to go
// on (at a console only), and the run over the new folder once the answers are in.
#include "dialogue.h"

#include <stdio.h>
#include <string.h>

#include "os.h"
#include "reconcile.h"
#include "utility.h"
#include "version.h"

static const char *const banner[] = {
    "",
    "Pelmora - gives the .veh files of a new folder the DescFile and DescClass lines of a "
    "reference folder",
    "",
    CARTOOLS_RELEASE_LINE,
    "",
    nullptr};

// How a run ends. pelmora_exit_status turns each into the exit status.
enum RunEnd {
    RUN_ALL_UPDATED,     // every file with a reference counterpart updated, or none there
    RUN_SOME_UNCHANGED,  // a file with a counterpart left unchanged
    RUN_INPUT_ENDED,     // standard input ended before both answers
    RUN_INPUT_UTF16,     // the answers came as UTF-16 text
    RUN_DECLINED,        // the user did not say yes at the question
    RUN_FOLDER_UNUSABLE, // a folder name too long, the new folder gone, a folder not held
    RUN_OTHER_WORKING,   // another Pelmora or program holds the new folder, or the reference
    RUN_LOCK_FAILED      // the lock file could not be created in the new folder
};

// The lock file that tells other Pelmoras this run works on its new folder.
static const char LOCK_NAME[] = "Pelmora.lock";
// A path with its control characters shown in caret notation: up to twice as long.
enum { SHOWN_SIZE = 2 * PATH_BUFFER_SIZE, REASON_SIZE = 256 };
// The longest full paths of the two folders, in UTF-16 units: each leaves room for the shortest
// name handled, "\a.veh", and the new folder also for its output file's ".pelmora".
enum { REFERENCE_FOLDER_MAX = VEH_PATH_UNITS - 6, NEW_FOLDER_MAX = REFERENCE_FOLDER_MAX - 8 };

static int pelmora_exit_status(RunEnd end)
{
    return end == RUN_ALL_UPDATED ? 0 : 1;
}

static int can_list(const char *folder)
{
    OsDirList *list = os_list_open(folder);
    if (!list)
        return 0;
    os_list_close(list);
    return 1;
}

// Windows drops trailing blanks and dots from the last part of a name when it opens it, but
// not from a folder in the middle of a path: an answer "My Cars\new " passes as a folder and
// then no file in it can be opened. An answer that as written names no folder that can be
// listed takes the name Windows would open instead, and so does one whose trimmed name is the
// same folder (the Linux layer opens names as Windows does); a folder of its own under the
// name as written is used as written. Tabs, which a batch file or a copied name may leave
// behind an answer, are dropped in the same way. accepted is read_directory_name's result;
// the result is the answer's, 1 when answer (changed or not) names a folder to work on.
static int settle_trailing_blanks(char *answer, int accepted)
{
    size_t length = strlen(answer), part = length;
    while (part > 0 && answer[part - 1] != '\\' && answer[part - 1] != '/' &&
           !(part == 2 && answer[1] == ':'))
        part--;
    size_t kept = length;
    while (kept > part &&
           (answer[kept - 1] == ' ' || answer[kept - 1] == '\t' || answer[kept - 1] == '.'))
        kept--;
    // A last part of dots and blanks only ('.', '..') keeps its meaning.
    int trimmable = kept != part && kept != length;
    char trimmed[PATH_BUFFER_SIZE];
    memcpy(trimmed, answer, kept);
    trimmed[kept] = '\0';
    if (accepted && can_list(answer)) {
        if (trimmable && os_same_file(answer, trimmed) == 1)
            memcpy(answer, trimmed, kept + 1);
        return 1;
    }
    if (!trimmable || !can_list(trimmed))
        return accepted;
    memcpy(answer, trimmed, kept + 1);
    return 1;
}

static void say_too_long(const char *name, const char *more)
{
    char shown[SHOWN_SIZE];
    os_print("Folder name too long: %s%s\n", visible_text(shown, sizeof shown, name), more);
}

// Windows reads 'D:' as the current folder of drive D and 'D:new' as a folder inside it, not
// as the drive's root: such an answer becomes the full path the system gives it, so that every
// file is read and written in the folder that was listed ('Z:' alike on POSIX, whose library
// would look at the root). accepted is read_directory_name's result; the result is the
// answer's: 1 when answer now names an existing folder. A full path too long is rejected
// after a message.
static int resolve_drive_relative(char *answer, int accepted)
{
    char letter = static_cast<char>(answer[0] | 0x20);
    if (!(letter >= 'a' && letter <= 'z' && answer[1] == ':' && answer[2] != '\\' &&
          answer[2] != '/'))
        return accepted;
    char full[PATH_BUFFER_SIZE];
    if (os_full_path(answer, full, sizeof full) != 0) {
        say_too_long(answer, "");
        return 0;
    }
    memcpy(answer, full, strlen(full) + 1);
    OsFileStatus status;
    return os_file_status(answer, &status) == 0 && status.is_directory;
}

// 1 when text starts with "file:" in any case.
static int starts_with_file_scheme(const char *text)
{
    char start[6];
    snprintf(start, sizeof start, "%s", text);
    set_ascii_case(start, ASCII_LOWER);
    return strcmp(start, "file:") == 0;
}

// One line saying why answer, which names no folder, never will as written: a shell expands
// %NAME% and ~ and removes single quotes, and a browser's file:/// address is no path, but
// an answer is taken as it is typed. Nothing for any other answer.
static void explain_no_folder(const char *answer)
{
    char shown[SHOWN_SIZE];
    const char *opening = strchr(answer, '%');
    const char *closing = opening ? strchr(opening + 1, '%') : nullptr;
    size_t length = strlen(answer);
    if (closing && closing > opening + 1) {
        char name[SHOWN_SIZE];
        snprintf(name, sizeof name, "%.*s", static_cast<int>(closing - opening + 1), opening);
        os_print("%s is not expanded: type the folder's path\n",
                 visible_text(shown, sizeof shown, name));
    } else if (answer[0] == '~' && (answer[1] == '\0' || answer[1] == '\\' || answer[1] == '/'))
        os_print("~ is not expanded: type the folder's path\n");
    else if (starts_with_file_scheme(answer))
        os_print("%s is an address, not a folder's path: type the folder's path\n",
                 visible_text(shown, sizeof shown, answer));
    else if (length >= 2 && answer[0] == '\'' && answer[length - 1] == '\'')
        os_print("Single quotes are not removed: type %s without them\n",
                 visible_text(shown, sizeof shown, answer));
}

// Makes an accepted answer its full path, as the run's lines name it, with '\\' for each '/': a
// relative answer joins the current folder; a rooted one, a network path or a drive path stays as it is. 1, or 0
// after a message when the full path has more than longest UTF-16 units.
static int make_full_answer(char *answer, uint32_t longest)
{
    char full[PATH_BUFFER_SIZE];
    normalize_separators(answer);
    int relative = answer[0] != '\\' && answer[0] != '/' && !(answer[0] && answer[1] == ':');
    if (relative ? make_absolute_path(full, answer) == nullptr
                 : snprintf(full, sizeof full, "%s", answer) >= PATH_BUFFER_SIZE) {
        say_too_long(answer, "");
        return 0;
    }
    // Joined to the root of a drive (current folder "Y:\\"), a name follows two '\\'.
    if (full[0] && full[1] == ':' && full[2] == '\\' && full[3] == '\\')
        memmove(full + 3, full + 4, strlen(full + 4) + 1);
    if (os_utf16_length(full) > longest) {
        say_too_long(full, "");
        return 0;
    }
    memcpy(answer, full, strlen(full) + 1);
    return 1;
}

// Asks with prompt until the answer names an existing folder whose full path has at most
// longest UTF-16 units; a rejected answer is asked again, after a line when a shell's habit
// explains it or its name is too long. 1 with the full path in answer (PATH_BUFFER_SIZE
// bytes), -1 when standard input ended first, -2 for answers in UTF-16.
static int ask_folder(const char *prompt, char *answer, uint32_t longest)
{
    for (;;) {
        os_print("%s", prompt);
        fflush(stdout);
        int result = read_directory_name(answer);
        if (result < 0)
            return -1;
        if (result == READ_NAME_TOO_LONG) {
            say_too_long(answer, "...");
            continue;
        }
        if (result == READ_NAME_UTF16)
            return -2;
        result = resolve_drive_relative(answer, result);
        if (settle_trailing_blanks(answer, result) != 1)
            explain_no_folder(answer);
        else if (make_full_answer(answer, longest))
            return 1;
    }
}

// The end of a run whose questions ask returned result for (-1 or -2).
static RunEnd end_of_input(int result)
{
    fflush(stdout);
    if (result == -2) {
        os_print_error("Pelmora: the answers are UTF-16 text, not plain text: save them as "
                        "ANSI or UTF-8; nothing changed.\n");
        return RUN_INPUT_UTF16;
    }
    os_print_error("Pelmora: input ended before both folders were given; nothing changed.\n");
    return RUN_INPUT_ENDED;
}

static int is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

int answer_is_yes(void)
{
    char answer[8];
    size_t length = 0;
    int c, over = 0;
    while ((c = os_read_input_char()) != EOF && c != '\n') {
        // A NUL would end the answer early: "y", a NUL and more is no yes.
        over |= c == 0;
        if (length == 0 && is_blank(static_cast<char>(c)))
            continue;
        if (length + 1 < sizeof answer)
            answer[length++] = static_cast<char>(c);
        else if (!is_blank(static_cast<char>(c)))
            over = 1;
    }
    while (length > 0 && is_blank(answer[length - 1]))
        length--;
    answer[length] = '\0';
    set_ascii_case(answer, ASCII_LOWER);
    return !over && (strcmp(answer, "y") == 0 || strcmp(answer, "yes") == 0);
}

// The two questions look alike, and answering them the wrong way round would rewrite the
// reference files, the one copy of the original descriptions: a user at a console is told
// what will be rewritten and asked to go on. 1 to go on, 0 after a line saying nothing changed.
static int confirm_at_console(const char *folder, const char *reference)
{
    int32_t count = count_vehicle_files(folder, reference);
    char shown_folder[SHOWN_SIZE], shown_reference[SHOWN_SIZE];
    // Keys pressed before the question are dropped before it shows, so that an answer typed
    // as soon as it shows is never lost.
    os_discard_console_input();
    os_print("Pelmora will rewrite %d .veh file%s in %s with the DescFile and DescClass lines of "
           "the files in %s.\n",
           static_cast<int>(count < 0 ? 0 : count), count == 1 ? "" : "s",
           visible_text(shown_folder, sizeof shown_folder, folder),
           visible_text(shown_reference, sizeof shown_reference, reference));
    os_print("Go on? (Y or yes to go on, anything else to stop) : ");
    fflush(stdout);
    if (answer_is_yes())
        return 1;
    os_print("Stopped: nothing changed.\n");
    return 0;
}

// Writes the path of the lock file in folder into path (PATH_BUFFER_SIZE + sizeof LOCK_NAME
// bytes), where it always fits: an answer fits a path buffer.
static void lock_path_in(char *path, const char *folder)
{
    snprintf(path, PATH_BUFFER_SIZE + sizeof LOCK_NAME, "%s\\%s", folder, LOCK_NAME);
}

// The holds of a run: its new folder exclusive, its reference folder shared (not held apart
// when both answers name one folder).
struct RunHolds {
    OsFolderHold folder;
    OsFolderHold reference;
};

static void release_holds(RunHolds *holds)
{
    os_folder_release(&holds->folder);
    os_folder_release(&holds->reference);
}

// Holds the folder at path (mode OS_HOLD_*), which must still be the folder id names.
// RUN_ALL_UPDATED when held; else the run's end after one line.
static RunEnd hold_one(const char *path, const OsFolderId *id, int mode, OsFolderHold *hold)
{
    char shown[SHOWN_SIZE], reason[REASON_SIZE];
    visible_text(shown, sizeof shown, path);
    int result = os_folder_hold(path, mode, hold);
    if (result == 1) {
        os_print("Another Pelmora is working in %s%s; nothing changed.\n",
               mode == OS_HOLD_SHARED ? "the reference folder " : "", shown);
        return RUN_OTHER_WORKING;
    }
    if (result == 2) {
        os_print("%s%s is held by another program; nothing changed.\n",
                 mode == OS_HOLD_SHARED ? "The reference folder " : "", shown);
        return RUN_OTHER_WORKING;
    }
    if (result < 0 && os_error_text(reason, sizeof reason)[0] == '\0')
        snprintf(reason, sizeof reason, "unknown error");
    if (result == 0 && os_compare_folder_ids(&hold->id, id) != 0) {
        os_folder_release(hold);
        snprintf(reason, sizeof reason, "it was moved or replaced");
        result = -1;
    }
    if (result == 0)
        return RUN_ALL_UPDATED;
    os_print("Could not hold %s: %s; nothing changed.\n", shown, reason);
    return RUN_FOLDER_UNUSABLE;
}

// Holds the new folder exclusively and the reference folder shared, in the order of their
// identities, so that two runs that want the same two folders take them in the same order
// and one of them always gets both. RUN_ALL_UPDATED with both held; else the run's end after
// one line, with nothing held.
static RunEnd hold_folders(const char *folder, const char *reference, RunHolds *holds)
{
    holds->folder.handle = holds->reference.handle = -1;
    OsFolderId ids[2];
    const char *paths[2] = {folder, reference};
    for (int at = 0; at < 2; at++)
        if (os_folder_id(paths[at], &ids[at]) != 0) {
            char shown[SHOWN_SIZE], reason[REASON_SIZE];
            os_error_text(reason, sizeof reason);
            os_print("Could not hold %s: %s; nothing changed.\n",
                   visible_text(shown, sizeof shown, paths[at]),
                   reason[0] ? reason : "unknown error");
            return RUN_FOLDER_UNUSABLE;
        }
    int order = os_compare_folder_ids(&ids[0], &ids[1]);
    RunEnd end = RUN_ALL_UPDATED;
    if (order > 0)
        end = hold_one(reference, &ids[1], OS_HOLD_SHARED, &holds->reference);
    if (end == RUN_ALL_UPDATED)
        end = hold_one(folder, &ids[0], OS_HOLD_EXCLUSIVE, &holds->folder);
    if (end == RUN_ALL_UPDATED && order < 0)
        end = hold_one(reference, &ids[1], OS_HOLD_SHARED, &holds->reference);
    if (end != RUN_ALL_UPDATED)
        release_holds(holds);
    return end;
}

// Takes this run's lock file in its new folder, which a Pelmora of release 1.2.0 looks for.
// RUN_ALL_UPDATED with *lock held to go on; else the run's end after one line, with *lock
// not held.
static RunEnd lock_folder(const char *folder, OsRunLock *lock)
{
    char path[PATH_BUFFER_SIZE + sizeof LOCK_NAME], shown[SHOWN_SIZE];
    lock_path_in(path, folder);
    int result = os_lock_take(path, lock, nullptr, nullptr, 0);
    visible_text(shown, sizeof shown, folder);
    if (result == OS_LOCK_FAILED) {
        char reason[REASON_SIZE];
        if (os_error_text(reason, sizeof reason)[0] == '\0')
            snprintf(reason, sizeof reason, "unknown error");
        os_print("Could not create %s in %s: %s; nothing changed.\n", LOCK_NAME, shown, reason);
        return RUN_LOCK_FAILED;
    }
    if (result == OS_LOCK_HELD) {
        os_print("Another Pelmora is working in %s; nothing changed.\n", shown);
        return RUN_OTHER_WORKING;
    }
    if (result == OS_LOCK_IN_USE) {
        os_print("%s in %s is open in another program (another Pelmora, or a viewer); nothing "
               "changed.\n",
               LOCK_NAME, shown);
        return RUN_OTHER_WORKING;
    }
    if (result != OS_LOCK_TAKEN) {
        os_print("%s in %s %s; nothing changed.\n", LOCK_NAME, shown, os_lock_refusal(result));
        return RUN_LOCK_FAILED;
    }
    return RUN_ALL_UPDATED;
}

// Rewrites the files under the lock of the new folder, released and removed once done.
static RunEnd reconcile_locked(const char *folder, const char *reference)
{
    OsRunLock lock;
    RunEnd locked = lock_folder(folder, &lock);
    if (locked != RUN_ALL_UPDATED)
        return locked;
    int8_t result = reconcile_vehicle_files(folder, reference);
    os_lock_release(&lock);
    return result == 0 ? RUN_ALL_UPDATED : result == 1 ? RUN_SOME_UNCHANGED : RUN_FOLDER_UNUSABLE;
}

// Once both answers are in, the two folders are held until the run ends, the question
// included: what the question counts is what the run finds.
// Says in one line that the hold of folder keeps no other Pelmora out, where its file system
// cannot lock a folder.
static void say_unheld(const OsFolderHold *hold, const char *folder)
{
    char shown[SHOWN_SIZE];
    if (!os_folder_hold_excludes(hold))
        os_print("Could not lock %s (its file system cannot lock a folder): another Pelmora "
                 "could work in it at the same time\n",
                 visible_text(shown, sizeof shown, folder));
}

static RunEnd run_on_held_folders(const char *folder, const char *reference)
{
    RunHolds holds;
    RunEnd end = hold_folders(folder, reference, &holds);
    if (end != RUN_ALL_UPDATED)
        return end;
    say_unheld(&holds.folder, folder);
    if (os_input_is_console() && !confirm_at_console(folder, reference))
        end = RUN_DECLINED;
    else
        end = reconcile_locked(folder, reference);
    release_holds(&holds);
    return end;
}

static RunEnd run_dialogue(int argument_count)
{
    char reference[PATH_BUFFER_SIZE] = "";
    char folder[PATH_BUFFER_SIZE] = "";
    print_lines(banner);
    if (argument_count > 0)
        os_print("Pelmora takes no command-line arguments and ignores them; it asks for the two "
               "folders.\n");
    os_print("Please specify the directory for '.veh' files for the reference DescFile and "
           "DescClass\n");
    int result = ask_folder("ref dir : ", reference, REFERENCE_FOLDER_MAX);
    if (result < 0)
        return end_of_input(result);
    os_print("Please specify directory for new '.veh' files to update the same cars.\n");
    result = ask_folder("new dir : ", folder, NEW_FOLDER_MAX);
    if (result < 0)
        return end_of_input(result);
    return run_on_held_folders(folder, reference);
}

int pelmora_main(int argument_count)
{
    RunEnd end = run_dialogue(argument_count);
    fflush(stdout);
    return pelmora_exit_status(end);
}
