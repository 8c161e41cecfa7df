// Pelmora's console dialogue: the banner, the two folder questions, and the run over the
// new folder once both answers are in.
#include "dialogue.h"

#include <stdio.h>

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

static int end_of_input(void)
{
    fflush(stdout);
    fprintf(stderr, "Pelmora: input ended before both folders were given; nothing changed.\n");
    return 0;
}

int pelmora_main(void)
{
    char reference[PATH_BUFFER_SIZE] = "";
    char folder[PATH_BUFFER_SIZE] = "";
    print_lines(banner);
    printf("Please specify the directory for '.veh' files for the reference DescFile and "
           "DescClass\n");
    if (ask_folder("ref dir : ", reference) < 0)
        return end_of_input();
    printf("Please specify directory for new '.veh' files to update the same cars.\n");
    if (ask_folder("new dir : ", folder) < 0)
        return end_of_input();
    reconcile_vehicle_files(folder, reference);
    fflush(stdout);
    return 0;
}
