// The POSIX back end, continued: the terminal, which shows and types the bytes it is given.
#include "os.h"
#include "os_common.h"

#include <stdarg.h>
#include <stdio.h>
#include <termios.h>
#include <unistd.h>

// ---- Console -------------------------------------------------------------------------

// A terminal shows the bytes it is sent; there is no code page to set.
void os_prepare_console(void)
{
}

void os_discard_console_input(void)
{
    if (isatty(0))
        tcflush(0, TCIFLUSH);
}

int os_input_is_console(void)
{
    return isatty(0) ? 1 : 0;
}

static int read_byte(void)
{
    return getchar();
}

int os_read_input_char(void)
{
    return os_input_past_mark(read_byte);
}

// A terminal window is never made for one program here, so none is held open.
int os_console_window_is_own(void)
{
    return 0;
}

void os_hold_own_console_window(void)
{
}

int os_print(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    int result = vprintf(format, arguments);
    va_end(arguments);
    return result < 0 ? -1 : result;
}

int os_print_error(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    int result = vfprintf(stderr, format, arguments);
    va_end(arguments);
    return result < 0 ? -1 : result;
}
