// Names in the ANSI code page, POSIX back end: names stay UTF-8, characters are counted in it.
#include "os.h"
#include "os_common.h"

int os_utf8_to_ansi(char *, uint32_t)
{
    return 0;
}

int os_char_length(const char *name, uint32_t position)
{
    unsigned char lead = static_cast<unsigned char>(name[position]);
    if (lead == 0)
        return 0;
    if (lead < 0x80 || !os_is_utf8(name))
        return 1;
    return lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
}
