// The Win32 back end, continued: the console, typed and shown in UTF-16, and the ANSI code
// page for what goes to a file or a pipe.
#include "os.h"
#include "os_common.h"
#include "shared.h"

#include <io.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

// ---- Console -------------------------------------------------------------------------

enum {
    TYPED_PIECE_UNITS = 256,
    // A piped answer of 255 characters takes up to 765 bytes of UTF-8, its line end 2 more.
    PIPED_LINE_BYTES = 800,
    // A character takes at most 4 bytes of UTF-8 (a pair of UTF-16 units: 2 each).
    TYPED_SIZE = PIPED_LINE_BYTES * 3 + 4
};

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

// Our own text reaches a console through WriteConsoleW, whatever its page. The archive tool
// that Zandrel starts in the same console writes its names in the ANSI code page, which the
// console shows in its output page: that page is made the ANSI one for the run.
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

// The rest of a line read so far, in UTF-8: typed, or piped and converted.
static unsigned char typed[TYPED_SIZE];
static int typed_length, typed_next, typed_ended;
// A high surrogate that ended a typed piece, waiting for its low half in the next one.
static WCHAR held_high;

void os_discard_console_input(void)
{
    // typed holds the rest of a piped line too, which is not to be dropped.
    if (!is_console(STD_INPUT_HANDLE))
        return;
    typed_length = typed_next = typed_ended = 0;
    held_high = 0;
    FlushConsoleInputBuffer(GetStdHandle(STD_INPUT_HANDLE));
}

int os_input_is_console(void)
{
    return is_console(STD_INPUT_HANDLE);
}

// Converts count UTF-16 units into typed as UTF-8 (a lone surrogate becomes U+FFFD).
static void add_typed_units(const WCHAR *units, int count)
{
    if (count <= 0)
        return;
    int length = WideCharToMultiByte(CP_UTF8, 0, units, count, reinterpret_cast<char *>(typed),
                                     TYPED_SIZE, nullptr, nullptr);
    typed_length = length > 0 ? length : 0;
}

// Reads the next piece of a typed line as UTF-16 and converts it into typed. 0, or -1 at
// the end of input: a failed read, or a Ctrl-Z (after the characters typed before it).
static int read_typed_piece(HANDLE input)
{
    WCHAR wide[TYPED_PIECE_UNITS + 1];
    int start = held_high ? 1 : 0;
    DWORD count = 0;
    typed_length = typed_next = 0;
    if (typed_ended || !ReadConsoleW(input, wide + start, TYPED_PIECE_UNITS, &count, nullptr) ||
        count == 0) {
        typed_ended = 1;
        return -1;
    }
    if (start)
        wide[0] = held_high;
    held_high = 0;
    int units = start + static_cast<int>(count);
    for (int i = start; i < units; i++)
        if (wide[i] == 26) {
            typed_ended = 1;
            units = i;
        }
    if (!typed_ended && units > 0 && IS_HIGH_SURROGATE(wide[units - 1]))
        held_high = wide[--units];
    add_typed_units(wide, units);
    return typed_length > 0 || held_high ? 0 : -1;
}

static int read_piped_byte(void)
{
    return getchar();
}

// The number of bytes at the end of line[0..length) that start a UTF-8 character without
// finishing it (0 to 3).
static int unfinished_tail(const unsigned char *line, int length)
{
    for (int back = 1; back <= 3 && back <= length; back++) {
        unsigned char c = line[length - back];
        if ((c & 0xC0) == 0x80)
            continue;
        int needed = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        return needed > back ? back : 0;
    }
    return 0;
}

// Reads the next line of piped input (at most PIPED_LINE_BYTES bytes, its LF included; a
// character cut at that limit goes to the next piece) into typed, as UTF-8: a line of ASCII
// or of valid UTF-8 as it is (Notepad saves UTF-8 by default), a line holding a NUL (UTF-16
// text, which the programs refuse) byte for byte, any other line read in the ANSI code page.
// 0, or -1 at the end of input.
static int read_piped_line(void)
{
    static unsigned char carried[3];
    static int carried_length;
    char *line = reinterpret_cast<char *>(typed);
    int length = carried_length, c, has_nul = 0, beyond_ascii = carried_length > 0;
    memcpy(line, carried, static_cast<size_t>(carried_length));
    carried_length = 0;
    typed_length = typed_next = 0;
    while (length < PIPED_LINE_BYTES && (c = os_input_past_mark(read_piped_byte)) != EOF) {
        line[length++] = static_cast<char>(c);
        has_nul |= c == 0;
        beyond_ascii |= c >= 0x80;
        if (c == '\n')
            break;
    }
    if (length == PIPED_LINE_BYTES && line[length - 1] != '\n') {
        carried_length = unfinished_tail(typed, length);
        length -= carried_length;
        memcpy(carried, line + length, static_cast<size_t>(carried_length));
    }
    line[length] = '\0';
    typed_length = length;
    if (has_nul || !beyond_ascii || os_text_is_utf8(line) || os_ansi_to_utf8(line, TYPED_SIZE) != 0)
        return length > 0 ? 0 : -1;
    typed_length = static_cast<int>(strlen(line));
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
    os_print("Press Enter to close this window.");
    fflush(stdout);
    int c;
    while ((c = os_read_input_char()) != EOF && c != '\n') {
    }
}

// ---- Printing --------------------------------------------------------------------------

// The console behind a C stream, or null when it goes to a file, a pipe or the NUL device.
static HANDLE console_of(FILE *stream)
{
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode;
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) ? handle : nullptr;
}

// Shows UTF-8 text on a console as it is (a byte that is no UTF-8 as U+FFFD). 0, or -1.
static int write_console(HANDLE console, const char *text, int length)
{
    WCHAR small[1024];
    WCHAR *wide = length <= 1024 ? small : static_cast<WCHAR *>(malloc(length * sizeof(WCHAR)));
    if (!wide)
        return -1;
    int units = length > 0 ? MultiByteToWideChar(CP_UTF8, 0, text, length, wide, length) : 0;
    int result = length > 0 && units <= 0 ? -1 : 0;
    for (int done = 0; result == 0 && done < units;) {
        DWORD written = 0;
        if (!WriteConsoleW(console, wide + done, static_cast<DWORD>(units - done), &written,
                           nullptr) ||
            written == 0)
            result = -1;
        done += static_cast<int>(written);
    }
    if (wide != small)
        free(wide);
    return result;
}

// The length of the UTF-8 character at text (at most length bytes there), or 0 when the
// byte there starts none.
static int utf8_character_length(const char *text, int length)
{
    unsigned char c = static_cast<unsigned char>(text[0]);
    int needed = c < 0x80                ? 1
                 : c >= 0xC2 && c < 0xE0 ? 2
                 : c >= 0xE0 && c < 0xF0 ? 3
                 : c >= 0xF0 && c < 0xF5 ? 4
                                         : 0;
    WCHAR wide[2];
    if (needed == 0 || needed > length ||
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, needed, wide, 2) <= 0)
        return 0;
    return needed;
}

// Writes into out (8 bytes) the ANSI form of the UTF-8 character of size bytes at text; '?'
// when that page has no form for it (no best-fit stand-in). The number of bytes written.
static int ansi_character(const char *text, int size, char *out)
{
    char character[8];
    memcpy(character, text, static_cast<size_t>(size));
    character[size] = '\0';
    if (os_utf8_to_ansi(character, sizeof character) != 0) {
        out[0] = '?';
        return 1;
    }
    size_t length = strlen(character);
    memcpy(out, character, length);
    return static_cast<int>(length);
}

// Converts UTF-8 text into the ANSI code page, in place: each character that page lacks,
// and each byte that starts no UTF-8 character, becomes one '?'. No ANSI form is longer
// than its UTF-8 one, so the text only shrinks. The new length.
static int to_ansi_in_place(char *text, int length)
{
    int read = 0, written = 0;
    while (read < length) {
        int size = utf8_character_length(text + read, length - read);
        char ansi[8] = {text[read]};
        int ansi_length = size > 1 ? ansi_character(text + read, size, ansi) : 1;
        // A byte that starts no character, or a form that would outgrow the text (no ANSI
        // code page has one), is sent as '?'.
        if (ansi_length > size) {
            ansi[0] = '?';
            ansi_length = 1;
        }
        memcpy(text + written, ansi, static_cast<size_t>(ansi_length));
        written += ansi_length;
        read += size > 0 ? size : 1;
    }
    return written;
}

// Formats and sends text to stream: to a console as UTF-16; to a file or a pipe in the ANSI
// code page, through the stream, so that its buffering and order stay as they are. The number
// of bytes formatted, or -1.
static int print_to(FILE *stream, const char *format, va_list arguments)
{
    char small[1024];
    va_list again;
    va_copy(again, arguments);
    int length = vsnprintf(small, sizeof small, format, arguments);
    char *text = small;
    if (length >= static_cast<int>(sizeof small)) {
        text = static_cast<char *>(malloc(static_cast<size_t>(length) + 1));
        if (text)
            vsnprintf(text, static_cast<size_t>(length) + 1, format, again);
    }
    va_end(again);
    if (length < 0 || !text)
        return -1;
    HANDLE console = console_of(stream);
    int result = length;
    if (console) {
        // What the C streams still buffer comes first.
        fflush(stdout);
        fflush(stderr);
        result = write_console(console, text, length) == 0 ? length : -1;
    } else {
        int size = to_ansi_in_place(text, length);
        result = fwrite(text, 1, static_cast<size_t>(size), stream) == static_cast<size_t>(size)
                     ? length
                     : -1;
    }
    if (text != small)
        free(text);
    return result;
}

int os_print(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    int result = print_to(stdout, format, arguments);
    va_end(arguments);
    return result;
}

int os_print_error(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    int result = print_to(stderr, format, arguments);
    va_end(arguments);
    return result;
}
