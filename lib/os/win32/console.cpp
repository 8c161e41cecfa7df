// The Win32 back end, continued: the console, typed and shown as Windows gives it.
#include "os.h"
#include "os_common.h"
#include "shared.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

// ---- Console -------------------------------------------------------------------------

enum { TYPED_PIECE_UNITS = 256 };

// A handle is a console when it has a console mode; the NUL device is a character device
// too, but has none.
static int is_console(DWORD standard)
{
    DWORD mode;
    return GetConsoleMode(GetStdHandle(standard), &mode) ? 1 : 0;
}

static UINT saved_output_code_page; // 0 while the console's own page is in force

static void restore_output_code_page(void)
{
    if (saved_output_code_page != 0)
        SetConsoleOutputCP(saved_output_code_page);
}

// Runs on Ctrl-C, Ctrl-Break and the closing of the window, which end the program without
// the C runtime's exit handlers; FALSE lets the system's own handling go on.
static BOOL WINAPI restore_on_console_event(DWORD)
{
    restore_output_code_page();
    return FALSE;
}

void os_prepare_console(void)
{
    if (!is_console(STD_OUTPUT_HANDLE) && !is_console(STD_ERROR_HANDLE))
        return;
    UINT current = GetConsoleOutputCP();
    UINT ansi = GetACP();
    if (current == 0 || current == ansi || !SetConsoleOutputCP(ansi))
        return;
    saved_output_code_page = current;
    atexit(restore_output_code_page);
    SetConsoleCtrlHandler(restore_on_console_event, TRUE);
}

// The rest of a typed line, converted: bytes 0 to 255 and OS_INPUT_NO_MATCH; at most three
// bytes for each UTF-16 unit (a UTF-8 ANSI code page; double-byte pages need two).
static int typed[TYPED_PIECE_UNITS * 3];
static int typed_length, typed_next, typed_ended;

void os_discard_console_input(void)
{
    // typed holds the rest of a piped line too, which is not to be dropped.
    if (!is_console(STD_INPUT_HANDLE))
        return;
    typed_length = typed_next = typed_ended = 0;
    FlushConsoleInputBuffer(GetStdHandle(STD_INPUT_HANDLE));
}

int os_input_is_console(void)
{
    return is_console(STD_INPUT_HANDLE);
}

// Appends one character (count UTF-16 units) to typed in the ANSI code page. Best-fit
// stand-ins ('a' for an 'a' with a macron) are refused: they could name another file.
static void add_typed_character(const WCHAR *character, int count)
{
    UINT ansi = GetACP();
    char bytes[4];
    BOOL defaulted = FALSE;
    // A UTF-8 ANSI code page has every character and takes neither flag nor default.
    int length =
        WideCharToMultiByte(ansi, ansi == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS, character, count,
                            bytes, sizeof bytes, nullptr, ansi == CP_UTF8 ? nullptr : &defaulted);
    if (length <= 0 || defaulted) {
        typed[typed_length++] = OS_INPUT_NO_MATCH;
        return;
    }
    for (int k = 0; k < length; k++)
        typed[typed_length++] = static_cast<unsigned char>(bytes[k]);
}

// Reads the next piece of a typed line as UTF-16 and converts it into typed. 0, or -1 at
// the end of input: a failed read, or a Ctrl-Z (after the characters typed before it).
static int read_typed_piece(HANDLE input)
{
    WCHAR wide[TYPED_PIECE_UNITS];
    DWORD count = 0;
    typed_length = typed_next = 0;
    if (typed_ended || !ReadConsoleW(input, wide, TYPED_PIECE_UNITS, &count, nullptr) ||
        count == 0) {
        typed_ended = 1;
        return -1;
    }
    for (DWORD i = 0; i < count; i++) {
        if (wide[i] == 26) {
            typed_ended = 1;
            break;
        }
        int pair = IS_HIGH_SURROGATE(wide[i]) && i + 1 < count && IS_LOW_SURROGATE(wide[i + 1]);
        add_typed_character(wide + i, pair ? 2 : 1);
        i += pair;
    }
    return typed_length > 0 ? 0 : -1;
}

static int read_piped_byte(void)
{
    return getchar();
}

// 1 when the bytes hold one beyond ASCII and are valid UTF-8 as a whole, else 0.
static int is_utf8_beyond_ascii(const char *bytes, int length, WCHAR *wide, int wide_size)
{
    int beyond = 0;
    for (int k = 0; k < length; k++)
        beyond |= static_cast<unsigned char>(bytes[k]) >= 0x80;
    return beyond &&
           MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, length, wide, wide_size) > 0;
}

// Reads the next line of piped input (at most TYPED_PIECE_UNITS bytes, its LF included) into
// typed: a line that is UTF-8 beyond ASCII converted to the ANSI code page as typed text is
// (Notepad saves UTF-8 by default), any other line byte for byte as ANSI. 0, or -1 at the end
// of input.
static int read_piped_line(void)
{
    char line[TYPED_PIECE_UNITS];
    int length = 0, c;
    typed_length = typed_next = 0;
    while (length < TYPED_PIECE_UNITS && (c = os_input_past_mark(read_piped_byte)) != EOF) {
        line[length++] = static_cast<char>(c);
        if (c == '\n')
            break;
    }
    WCHAR wide[TYPED_PIECE_UNITS];
    if (!is_utf8_beyond_ascii(line, length, wide, TYPED_PIECE_UNITS)) {
        for (int k = 0; k < length; k++)
            typed[typed_length++] = static_cast<unsigned char>(line[k]);
        return length > 0 ? 0 : -1;
    }
    int units = MultiByteToWideChar(CP_UTF8, 0, line, length, wide, TYPED_PIECE_UNITS);
    for (int i = 0; i < units; i++) {
        int pair = IS_HIGH_SURROGATE(wide[i]) && i + 1 < units && IS_LOW_SURROGATE(wide[i + 1]);
        add_typed_character(wide + i, pair ? 2 : 1);
        i += pair;
    }
    return 0;
}

int os_read_input_char(void)
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    int console = is_console(STD_INPUT_HANDLE);
    while (typed_next >= typed_length)
        if ((console ? read_typed_piece(input) : read_piped_line()) != 0)
            return EOF;
    return typed[typed_next++];
}

int os_console_window_is_own(void)
{
    DWORD processes[2];
    return os_console_is_own(is_console(STD_INPUT_HANDLE), is_console(STD_OUTPUT_HANDLE),
                             GetConsoleProcessList(processes, 2));
}

void os_hold_own_console_window(void)
{
    if (!os_console_window_is_own())
        return;
    os_discard_console_input();
    fputs("Press Enter to close this window.", stdout);
    fflush(stdout);
    int c;
    while ((c = os_read_input_char()) != EOF && c != '\n') {
    }
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
