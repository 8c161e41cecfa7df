// Pelmora's entry: command-line arguments are ignored. A console window made for the
// program (a double click) stays open until Enter.
#include "dialogue.h"
#include "os.h"

int main()
{
    os_prepare_console();
    int status = pelmora_main();
    os_hold_own_console_window();
    return status;
}
