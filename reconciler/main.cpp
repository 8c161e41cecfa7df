// Pelmora's entry: command-line arguments are ignored.
#include "dialogue.h"

int main()
{
    return pelmora_main();
}
