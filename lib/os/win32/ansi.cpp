// Names in the ANSI code page, Windows back end: UTF-8 text converted into that page, and
// the characters of a double-byte page counted whole.
#include <string.h>
#include <windows.h>

#include "os.h"
#include "os_common.h"

int os_utf8_to_ansi(char *text, uint32_t size)
{
    enum { UNITS = 1024 };
    WCHAR wide[UNITS];
    char ansi[UNITS * 2];
    int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide, UNITS);
    if (units <= 0)
        return -1;
    UINT page = GetACP();
    BOOL defaulted = FALSE;
    // A UTF-8 ANSI code page has every character and takes neither flag nor default.
    int length =
        WideCharToMultiByte(page, page == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS, wide, units, ansi,
                            sizeof ansi, nullptr, page == CP_UTF8 ? nullptr : &defaulted);
    if (length <= 0 || defaulted || static_cast<uint32_t>(length) > size)
        return -1;
    memcpy(text, ansi, static_cast<size_t>(length));
    return 0;
}

int os_char_length(const char *name, uint32_t position)
{
    BYTE lead = static_cast<BYTE>(name[position]);
    if (lead == 0)
        return 0;
    return IsDBCSLeadByte(lead) && name[position + 1] != '\0' ? 2 : 1;
}
