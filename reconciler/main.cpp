// Pelmora's entry: command-line arguments are not used (a folder dropped on the program's
// icon arrives as one; the dialogue says so). A console window made for the program (a double
// click) stays open until Enter.
#include "dialogue.h"
#include "os.h"

int main(int argc, char **)
{
    os_prepare_console();
    int status = pelmora_main(argc > 1 ? argc - 1 : 0);
    os_hold_own_console_window();
    return status;
}
