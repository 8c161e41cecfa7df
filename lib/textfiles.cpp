// Text and settings files: the settings reader and writers, console input, the pager and
// small text-file routines.
#include "textfiles.h"

#include <errno.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include "os.h"

enum {
    PIECE_SIZE = 256,           // line pieces: 255 characters and the NUL
    NAME_MAX_LENGTH = 39,       // longest name in a settings name list
    PAGER_PIECE_SIZE = 80,      // the pager's pieces: 79 characters and the NUL
    PAGER_SCREEN_LINES = 24,    // pieces shown before the pager waits
    NUMBER_LINE_LENGTH = 10,    // read_console_number's line
    DIRECTORY_LINE_LENGTH = 256 // ask_directory's line
};

static int is_white(int c)
{
    return c == ' ' || (c >= 9 && c <= 13);
}

// Shifts text left over its leading white space.
static void trim_leading(char *text)
{
    size_t skip = 0;
    while (is_white(static_cast<unsigned char>(text[skip])))
        skip++;
    memmove(text, text + skip, strlen(text + skip) + 1);
}

// ---- Name lists ---------------------------------------------------------------------------

// The next name of a name list at or after cursor; *length is 0 at the end of the list.
static const char *next_name(const char *cursor, size_t *length)
{
    while (*cursor == ' ')
        cursor++;
    *length = strcspn(cursor, " ");
    return cursor;
}

// 0 when every name has at most 39 characters and every letter has its name, else -1.
static int check_name_list(const char *names, const char *types)
{
    size_t count = 0;
    size_t length;
    for (const char *name = next_name(names, &length); length > 0;
         name = next_name(name + length, &length)) {
        if (length > NAME_MAX_LENGTH)
            return -1;
        count++;
    }
    return strlen(types) > count ? -1 : 0;
}

// ---- Reading settings ---------------------------------------------------------------------

// Splits a piece into key (the piece itself afterwards) and *value. 1 for a setting, 0 for
// a line that is none (blank, comment, section, no "="), -1 for a malformed setting.
static int parse_setting(char *piece, char **value)
{
    trim_leading(piece);
    if (piece[0] == '\0' || piece[0] == ';' || piece[0] == '[')
        return 0;
    char *equals = strchr(piece, '=');
    if (!equals)
        return 0;
    char *key_end = equals;
    while (key_end > piece && is_white(static_cast<unsigned char>(key_end[-1])))
        key_end--;
    memmove(key_end, equals, strlen(equals) + 1);
    *key_end = '\0';
    *value = key_end + 1;
    trim_leading(*value);
    size_t length = strlen(*value);
    // The value needs a character and its LF: a piece without LF is a cut line.
    if (length < 2 || (*value)[length - 1] != '\n')
        return -1;
    (*value)[length - 1] = '\0';
    return 1;
}

// A value that opens with '"' loses that quote and everything from the next '"' on.
static void unquote(char *value)
{
    if (value[0] != '"')
        return;
    memmove(value, value + 1, strlen(value));
    char *closing = strchr(value, '"');
    if (closing)
        *closing = '\0';
}

static int number_of(const char *text)
{
    long number = strtol(text, nullptr, 10);
    if (number > 0x7FFFFFFFL)
        return 0x7FFFFFFF;
    if (number < -0x7FFFFFFFL - 1)
        return -0x7FFFFFFF - 1;
    return static_cast<int>(number);
}

// Stores value through target as letter says. 0, or -1 for another letter or no memory.
static int store_value(char letter, void *target, char *value)
{
    if (letter == 'i') {
        *static_cast<int *>(target) = number_of(value);
        return 0;
    }
    if (letter != 's' && letter != 'p')
        return -1;
    unquote(value);
    size_t length = strlen(value);
    if (letter == 's') {
        memcpy(target, value, length + 1);
        return 0;
    }
    char *copy = static_cast<char *>(malloc(length + 1));
    if (!copy)
        return -1;
    memcpy(copy, value, length + 1);
    *static_cast<char **>(target) = copy;
    return 0;
}

// Stores value for the first name that equals key. 0 (also when no name does), or -1.
static int store_setting(const char *key, char *value, const char *names, const char *types,
                         va_list arguments)
{
    size_t key_length = strlen(key);
    const char *cursor = names;
    for (const char *letter = types; *letter; letter++) {
        void *target = va_arg(arguments, void *);
        size_t length;
        const char *name = next_name(cursor, &length);
        cursor = name + length;
        if (length == key_length && strncmp(name, key, length) == 0)
            return store_value(*letter, target, value);
    }
    return 0;
}

int8_t read_settings(Stream *stream, const char *names, const char *types, ...)
{
    if (check_name_list(names, types) != 0)
        return -1;
    va_list arguments;
    va_start(arguments, types);
    char piece[PIECE_SIZE];
    int result = 0;
    while (result == 0 && stream_gets(piece, sizeof piece, stream)) {
        char *value = nullptr;
        int kind = parse_setting(piece, &value);
        if (kind == -1) {
            result = -1;
        } else if (kind == 1) {
            va_list walk;
            va_copy(walk, arguments);
            result = store_setting(piece, value, names, types, walk);
            va_end(walk);
        }
    }
    va_end(arguments);
    // Values read before a failed read may be older ones that a later line would change.
    if (result == 0 && stream_error(stream))
        result = -1;
    return static_cast<int8_t>(result);
}

// ---- Writing and editing settings ---------------------------------------------------------

int write_settings(Stream *stream, const char *names, const char *types, ...)
{
    if (check_name_list(names, types) != 0)
        return -1;
    stream_seek(stream, 0, SEEK_END);
    va_list arguments;
    va_start(arguments, types);
    const char *cursor = names;
    for (const char *letter = types; *letter; letter++) {
        size_t length;
        const char *name = next_name(cursor, &length);
        cursor = name + length;
        int width = static_cast<int>(length);
        if (*letter == 's' || *letter == 'p') {
            const char *text = va_arg(arguments, const char *);
            stream_printf(stream, "%.*s = \"%s\"\n", width, name, text ? text : "");
        } else {
            stream_printf(stream, "%.*s = %d\n", width, name, va_arg(arguments, int));
        }
    }
    va_end(arguments);
    return 0;
}

// 1 when the end of key's first occurrence lies at or before the piece's first "=".
static int sets_key(const char *piece, const char *key)
{
    const char *equals = strchr(piece, '=');
    if (!equals)
        return 0;
    const char *found = strstr(piece, key);
    return found && found + strlen(key) <= equals;
}

// Closes both streams of a copy. A read that failed, or a write that did (write_failed, or
// the close), leaves the destination short of the source's text, so it goes: -1 then, else 0.
static int close_pair(Stream *in, Stream *out, const char *destination, int write_failed)
{
    int failed = write_failed || stream_error(in);
    stream_close(in);
    if (stream_close(out) != 0)
        failed = 1;
    if (!failed)
        return 0;
    os_delete_file(destination);
    return -1;
}

// Opens source for binary reading and destination for binary writing. 0, or -1 with
// neither left open.
static int open_pair(const char *source, const char *destination, Stream **in, Stream **out)
{
    *in = stream_open(source, "rb");
    if (!*in)
        return -1;
    *out = stream_open(destination, "wb");
    if (!*out) {
        stream_close(*in);
        return -1;
    }
    return 0;
}

int8_t remove_setting(const char *source, const char *destination, const char *key)
{
    // Opening the destination with "wb" would empty a source that is the same file.
    if (os_same_file(source, destination))
        return 1;
    Stream *in;
    Stream *out;
    if (open_pair(source, destination, &in, &out) != 0)
        return 1;
    char piece[PIECE_SIZE];
    int written = 0, write_failed = 0;
    while (stream_gets(piece, sizeof piece, in)) {
        if (sets_key(piece, key))
            continue;
        write_failed |= stream_puts(piece, out) == EOF;
        written = 1;
    }
    if (close_pair(in, out, destination, write_failed) != 0)
        return -1;
    return written ? 0 : 1;
}

// The line end a first piece shows: CR LF, CR, or LF when it shows neither.
static const char *line_end_of(const char *piece)
{
    size_t length = strlen(piece);
    if (length < 2 || piece[length - 2] != '\r')
        return "\n";
    return piece[length - 1] == '\n' ? "\r\n" : "\r";
}

static int ends_open(const char *piece)
{
    size_t length = strlen(piece);
    return length > 0 && piece[length - 1] != '\n' && piece[length - 1] != '\r';
}

int8_t replace_setting(const char *source, const char *destination, const char *key,
                       const char *value)
{
    // Writing over the source would lose whatever of it had not been read yet.
    if (os_same_file(source, destination))
        return 1;
    Stream *in = stream_open(source, "rb");
    if (!in)
        return 1;
    char piece[PIECE_SIZE];
    int have_piece = stream_gets(piece, sizeof piece, in) != nullptr;
    const char *line_end = have_piece ? line_end_of(piece) : "\n";
    char line[PIECE_SIZE];
    int length = snprintf(line, sizeof line, "%s=%s%s", key, value, line_end);
    Stream *out = nullptr;
    // A line that does not fit is refused before the destination is touched.
    if (length < 0 || length >= PIECE_SIZE || !(out = stream_open(destination, "wb"))) {
        stream_close(in);
        return 1;
    }
    int found = 0, open_line = 0, write_failed = 0;
    for (; have_piece; have_piece = stream_gets(piece, sizeof piece, in) != nullptr) {
        int replace = sets_key(piece, key);
        write_failed |= stream_puts(replace ? line : piece, out) == EOF;
        found |= replace;
        open_line = !replace && ends_open(piece);
    }
    if (!found && !stream_error(in)) {
        if (open_line)
            write_failed |= stream_puts(line_end, out) == EOF;
        write_failed |= stream_puts(line, out) == EOF;
    }
    if (close_pair(in, out, destination, write_failed) != 0)
        return -1;
    return found ? 0 : 1;
}

// ---- Console input ------------------------------------------------------------------------

// The next input character, CR dropped as the Windows console does. Standard input comes
// through the OS layer, which gives a console's typing in UTF-8.
static int next_input_char(FILE *input)
{
    int c;
    do
        c = input == stdin ? os_read_input_char() : getc(input);
    while (c == '\r');
    return c;
}

char *read_line_from(FILE *input, char *buffer, int max_length)
{
    if (input == stdin)
        os_discard_console_input();
    int length = 0;
    int c = 0;
    while (length < max_length && (c = next_input_char(input)) != EOF && c != '\n')
        buffer[length++] = static_cast<char>(c);
    buffer[length] = '\0';
    if (length >= max_length && c != '\n' && c != EOF) {
        while ((c = next_input_char(input)) != EOF && c != '\n') {
        }
    }
    return buffer;
}

char *read_console_line(char *buffer, int max_length)
{
    return read_line_from(stdin, buffer, max_length);
}

int read_number_from(FILE *input, int if_empty, int if_zero)
{
    char line[NUMBER_LINE_LENGTH + 1];
    read_line_from(input, line, NUMBER_LINE_LENGTH);
    if (line[0] == '\0')
        return if_empty;
    int number = number_of(line);
    return number == 0 ? if_zero : number;
}

int read_console_number(int if_empty, int if_zero)
{
    return read_number_from(stdin, if_empty, if_zero);
}

int ask_directory_from(FILE *input, char *buffer)
{
    read_line_from(input, buffer, DIRECTORY_LINE_LENGTH);
    if (buffer[0] == '"') {
        char *closing = strchr(buffer + 1, '"');
        if (closing)
            *closing = '\0';
        memmove(buffer, buffer + 1, strlen(buffer));
    }
    size_t length = strlen(buffer);
    if (length > 0 && buffer[length - 1] == '\\')
        buffer[--length] = '\0';
    if (length == 0)
        return 0;
    OsDirList *listing = os_list_open(buffer);
    if (!listing)
        return 0;
    os_list_close(listing);
    return 1;
}

int ask_directory(char *buffer)
{
    return ask_directory_from(stdin, buffer);
}

// ---- The pager ----------------------------------------------------------------------------

int8_t page_text_stream(const char *path, FILE *input)
{
    Stream *file = stream_open(path, "r");
    if (!file)
        return -1;
    char piece[PAGER_PIECE_SIZE];
    // One piece is read ahead, so that the end of the file ends the pager at once.
    int have_piece = stream_gets(piece, sizeof piece, file) != nullptr;
    for (int shown = 0; have_piece && shown < PAGER_SCREEN_LINES; shown++) {
        os_print("%s", piece);
        have_piece = stream_gets(piece, sizeof piece, file) != nullptr;
    }
    fflush(stdout);
    // A bare Enter shows one more piece; the user's Enter already moved to a new line.
    while (have_piece && next_input_char(input) == '\n') {
        size_t length = strlen(piece);
        if (length > 0 && piece[length - 1] == '\n')
            piece[length - 1] = '\0';
        os_print("%s", piece);
        fflush(stdout);
        have_piece = stream_gets(piece, sizeof piece, file) != nullptr;
    }
    stream_close(file);
    return 0;
}

int8_t page_text_file(const char *path)
{
    return page_text_stream(path, stdin);
}

// ---- File routines ------------------------------------------------------------------------

Stream *open_or_exit(const char *path, const char *mode)
{
    Stream *stream = stream_open(path, mode);
    if (stream)
        return stream;
    int error = errno;
    os_print_error("Can't open %s", path);
    os_print_error(" %s\n", strerror(error));
    exit(1);
}

int8_t create_empty_file(const char *path)
{
    FILE *file = os_open_stream(path, "wb");
    if (!file)
        return -1;
    fclose(file);
    return 0;
}

int is_valid_name(const char *text)
{
    if (text[0] == '\0')
        return 0;
    for (const unsigned char *c = reinterpret_cast<const unsigned char *>(text); *c; c++) {
        int allowed = (*c >= '0' && *c <= '9') || (*c >= 'A' && *c <= 'Z') ||
                      (*c >= 'a' && *c <= 'z') || strchr(" !&@_'()%-[]=", *c) != nullptr;
        if (!allowed)
            return 0;
    }
    return 1;
}

int detect_line_ending(const char *path)
{
    FILE *file = os_open_stream(path, "rb");
    if (!file)
        return -1;
    int previous = EOF;
    int result = -1;
    int c;
    while ((c = getc(file)) != EOF) {
        if (previous == '\r') {
            result = c == '\n' ? 0 : 2;
            break;
        }
        if (c == '\n') {
            result = 1;
            break;
        }
        previous = c;
    }
    fclose(file);
    return result;
}
