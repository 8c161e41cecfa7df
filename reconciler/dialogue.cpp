// Pelmora's console dialogue: the banner, the two folder questions, the question whether to go
// on (at a console only), and the run over the new folder once the answers are in.
#include "dialogue.h"

#include <stdio.h>

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
    RUN_ALL_UPDATED,    // every file with a reference counterpart updated, or none there
    RUN_SOME_UNCHANGED, // a file with a counterpart left unchanged
    RUN_INPUT_ENDED,    // standard input ended before both answers
    RUN_DECLINED,       // the user did not say yes at the question
    RUN_FOLDER_UNUSABLE // a folder name too long, or the new folder gone
};

static int pelmora_exit_status(RunEnd end)
{
    return end == RUN_ALL_UPDATED ? 0 : 1;
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
        if (result == 1)
            return 1;
        if (result < 0)
            return -1;
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
    // Keys pressed before the question are dropped before it shows, so that an answer typed
    // as soon as it shows is never lost.
    os_discard_console_input();
    printf("Pelmora will rewrite %d .veh file%s in %s with the DescFile and DescClass lines of "
           "the files in %s.\n",
           static_cast<int>(count < 0 ? 0 : count), count == 1 ? "" : "s", folder, reference);
    printf("Go on? (Y to go on, anything else to stop) : ");
    fflush(stdout);
    if (answer_is_yes())
        return 1;
    printf("Stopped: nothing changed.\n");
    return 0;
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
    int8_t result = reconcile_vehicle_files(folder, reference);
    return result == 0 ? RUN_ALL_UPDATED : result == 1 ? RUN_SOME_UNCHANGED : RUN_FOLDER_UNUSABLE;
}

int pelmora_main(int argument_count)
{
    RunEnd end = run_dialogue(argument_count);
    fflush(stdout);
    return pelmora_exit_status(end);
}
