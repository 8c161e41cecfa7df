// Zandrel, the car cloner: the entry only; the program lives in the cloner library.
#include "driver.h"

int main(int argc, char **argv)
{
    return zandrel_main(argc, argv);
}
