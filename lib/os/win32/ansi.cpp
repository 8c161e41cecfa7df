// The ANSI code page at the edge, Windows back end: UTF-8 text converted to and from that page
// through UTF-16, never through a best-fit stand-in.
#include "os.h"
#include "os_common.h"
#include "shared.h"

#include <string.h>
#include <windows.h>

// The ANSI form of UTF-8 text into ansi (room bytes, NUL counted). Its length, or -1 when a
// character has no form there or it does not fit.
static int ansi_form(const char *text, char *ansi, int room)
{
    WCHAR wide[OS_PATH_UNITS];
    int units = to_wide(text, wide) + 1;
    if (units <= 0)
        return -1;
    UINT page = GetACP();
    BOOL defaulted = FALSE;
    // A UTF-8 ANSI code page has every character and takes neither flag nor default.
    int length = WideCharToMultiByte(page, page == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS, wide, units,
                                     ansi, room, nullptr, page == CP_UTF8 ? nullptr : &defaulted);
    return length <= 0 || defaulted ? -1 : length - 1;
}

int os_utf8_to_ansi(char *text, uint32_t size)
{
    char ansi[OS_PATH_UNITS * 2];
    int length = ansi_form(text, ansi, sizeof ansi);
    if (length < 0 || static_cast<uint32_t>(length) >= size)
        return -1;
    memcpy(text, ansi, static_cast<size_t>(length) + 1);
    return 0;
}

int os_ansi_length(const char *text)
{
    char ansi[OS_PATH_UNITS * 2];
    return ansi_form(text, ansi, sizeof ansi);
}

int os_ansi_to_utf8(char *text, uint32_t size)
{
    WCHAR wide[OS_PATH_UNITS];
    char utf8[OS_PATH_SIZE];
    int units = MultiByteToWideChar(CP_ACP, 0, text, -1, wide, OS_PATH_UNITS);
    int length = units <= 0 ? -1 : to_utf8(wide, utf8, sizeof utf8);
    if (length < 0 || static_cast<uint32_t>(length) >= size)
        return -1;
    memcpy(text, utf8, static_cast<size_t>(length) + 1);
    return 0;
}
