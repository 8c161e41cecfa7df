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
    RUN_DECLINED,        // the user did not say yes at the question
    RUN_FOLDER_UNUSABLE, // a folder name too long, or the new folder gone
    RUN_OTHER_WORKING,   // another Pelmora works on the new folder, or on the reference
    RUN_LOCK_FAILED      // the lock file could not be created in the new folder
};

// The lock file that tells other Pelmoras this run works on its new folder.
static const char LOCK_NAME[] = "Pelmora.lock";
// A path with its control characters shown in caret notation: up to twice as long.
enum { SHOWN_SIZE = 2 * PATH_BUFFER_SIZE, REASON_SIZE = 256 };

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
// name as written is used as written. accepted is read_directory_name's result; the result is
// the answer's, 1 when answer (changed or not) names a folder to work on.
static int settle_trailing_blanks(char *answer, int accepted)
{
    size_t length = strlen(answer), part = length;
    while (part > 0 && answer[part - 1] != '\\' && answer[part - 1] != '/' &&
           !(part == 2 && answer[1] == ':'))
        part--;
    size_t kept = length;
    while (kept > part && (answer[kept - 1] == ' ' || answer[kept - 1] == '.'))
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
        char shown[SHOWN_SIZE];
        printf("Folder name too long: %s\n", visible_text(shown, sizeof shown, answer));
        return 0;
    }
    memcpy(answer, full, strlen(full) + 1);
    OsFileStatus status;
    return os_file_status(answer, &status) == 0 && status.is_directory;
}

// Asks with prompt until the answer names an existing folder; a rejected answer is asked
// again without a message. 1 with the cleaned answer in answer (PATH_BUFFER_SIZE bytes), or -1
// when standard input ended first.
static int ask_folder(const char *prompt, char *answer)
{
    for (;;) {
        printf("%s", prompt);
        fflush(stdout);
        int result = read_directory_name(answer);
        if (result < 0)
            return -1;
        result = resolve_drive_relative(answer, result);
        if (settle_trailing_blanks(answer, result) == 1)
            return 1;
    }
}

static RunEnd end_of_input(void)
{
    fflush(stdout);
    fprintf(stderr, "Pelmora: input ended before both folders were given; nothing changed.\n");
    return RUN_INPUT_ENDED;
}

// Reads one answer line of the console; 1 when it is "Y" or "y" (a CR ignored), else 0, also
// at the end of input.
static int answer_is_yes(void)
{
    char answer[4];
    int length = 0, c;
    while ((c = os_read_input_char()) != EOF && c != '\n')
        if (c != '\r' && length < 3)
            answer[length++] = static_cast<char>(c);
    answer[length] = '\0';
    return length == 1 && (answer[0] == 'Y' || answer[0] == 'y');
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
    printf("Pelmora will rewrite %d .veh file%s in %s with the DescFile and DescClass lines of "
           "the files in %s.\n",
           static_cast<int>(count < 0 ? 0 : count), count == 1 ? "" : "s",
           visible_text(shown_folder, sizeof shown_folder, folder),
           visible_text(shown_reference, sizeof shown_reference, reference));
    printf("Go on? (Y to go on, anything else to stop) : ");
    fflush(stdout);
    if (answer_is_yes())
        return 1;
    printf("Stopped: nothing changed.\n");
    return 0;
}

// Writes the path of the lock file in folder into path (PATH_BUFFER_SIZE + sizeof LOCK_NAME
// bytes), where it always fits: an answer has at most 255 characters.
static void lock_path_in(char *path, const char *folder)
{
    snprintf(path, PATH_BUFFER_SIZE + sizeof LOCK_NAME, "%s\\%s", folder, LOCK_NAME);
}

// 1 when a Pelmora holds the lock of the reference folder (a crossed pair: the other run
// rewrites the files this one reads), else 0. Nothing in the reference folder is created,
// changed or removed, not even a lock file a killed run left there. One folder under two
// spellings is covered by this run's own lock.
static int reference_in_use(const char *folder, const char *reference)
{
    if (os_same_file(folder, reference) == 1)
        return 0;
    char path[PATH_BUFFER_SIZE + sizeof LOCK_NAME];
    lock_path_in(path, reference);
    return os_lock_is_held(path);
}

// Takes this run's lock on its new folder, then makes sure no Pelmora works on the
// reference folder. RUN_ALL_UPDATED with *lock held to go on; else the run's end after one
// line, with *lock not held.
static RunEnd lock_folders(const char *folder, const char *reference, OsRunLock *lock)
{
    char path[PATH_BUFFER_SIZE + sizeof LOCK_NAME], shown[SHOWN_SIZE];
    lock_path_in(path, folder);
    int result = os_lock_take(path, lock, nullptr, nullptr, 0);
    visible_text(shown, sizeof shown, folder);
    if (result == OS_LOCK_FAILED) {
        char reason[REASON_SIZE];
        if (os_error_text(reason, sizeof reason)[0] == '\0')
            snprintf(reason, sizeof reason, "unknown error");
        printf("Could not create %s in %s: %s; nothing changed.\n", LOCK_NAME, shown, reason);
        return RUN_LOCK_FAILED;
    }
    if (result == OS_LOCK_HELD) {
        printf("Another Pelmora is working in %s; nothing changed.\n", shown);
        return RUN_OTHER_WORKING;
    }
    if (result == OS_LOCK_IN_USE) {
        printf("%s in %s is open in another program (another Pelmora, or a viewer); nothing "
               "changed.\n",
               LOCK_NAME, shown);
        return RUN_OTHER_WORKING;
    }
    if (result != OS_LOCK_TAKEN) {
        printf("%s in %s %s; nothing changed.\n", LOCK_NAME, shown, os_lock_refusal(result));
        return RUN_LOCK_FAILED;
    }
    if (!reference_in_use(folder, reference))
        return RUN_ALL_UPDATED;
    os_lock_release(lock);
    printf("Another Pelmora is working in the reference folder %s; nothing changed.\n",
           visible_text(shown, sizeof shown, reference));
    return RUN_OTHER_WORKING;
}

// Rewrites the files under the lock of the new folder, released and removed once done.
static RunEnd reconcile_locked(const char *folder, const char *reference)
{
    OsRunLock lock;
    RunEnd locked = lock_folders(folder, reference, &lock);
    if (locked != RUN_ALL_UPDATED)
        return locked;
    int8_t result = reconcile_vehicle_files(folder, reference);
    os_lock_release(&lock);
    return result == 0 ? RUN_ALL_UPDATED : result == 1 ? RUN_SOME_UNCHANGED : RUN_FOLDER_UNUSABLE;
}

static RunEnd run_dialogue(int argument_count)
{
    char reference[PATH_BUFFER_SIZE] = "";
    char folder[PATH_BUFFER_SIZE] = "";
    print_lines(banner);
    if (argument_count > 0)
        printf("Pelmora takes no command-line arguments and ignores them; it asks for the two "
               "folders.\n");
    printf("Please specify the directory for '.veh' files for the reference DescFile and "
           "DescClass\n");
    if (ask_folder("ref dir : ", reference) < 0)
        return end_of_input();
    printf("Please specify directory for new '.veh' files to update the same cars.\n");
    if (ask_folder("new dir : ", folder) < 0)
        return end_of_input();
    if (os_input_is_console() && !confirm_at_console(folder, reference))
        return RUN_DECLINED;
    return reconcile_locked(folder, reference);
}

int pelmora_main(int argument_count)
{
    RunEnd end = run_dialogue(argument_count);
    fflush(stdout);
    return pelmora_exit_status(end);
}
