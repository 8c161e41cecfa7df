// Zandrel, the car cloner: the entry only; the program lives in the cloner library. A
// console window made for the program (a double click) stays open until Enter.
#include "driver.h"
#include "os.h"

int main(int argc, char **argv)
{
    os_prepare_console();
    int status = zandrel_main(argc, argv);
    os_hold_own_console_window();
    return status;
}
