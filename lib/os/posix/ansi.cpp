// The ANSI code page, POSIX back end: there is none, so every form is the UTF-8 text itself.
#include "os.h"

#include <string.h>

int os_ansi_to_utf8(char *, uint32_t)
{
    return 0;
}

int os_utf8_to_ansi(char *, uint32_t)
{
    return 0;
}

int os_ansi_length(const char *text)
{
    return static_cast<int>(strlen(text));
}
