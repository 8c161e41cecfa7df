// String routines: the field splitter, list printing, Shell sort of string pointers, the
// name filters with the wildcard matcher, small in-place string routines, and the copy of a
// text with its control characters made visible.
#include "strings.h"

#include "os.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// ---- Fields and lists ----------------------------------------------------------------

const char *get_field(char *dest, const char *source, int32_t size, char separator)
{
    const char *start = source;
    while (*start == separator)
        start++;
    size_t length = 0;
    while (start[length] != '\0' && start[length] != separator)
        length++;
    // The next field is found before the copy: with dest == source the terminator written
    // after the field may land on the separator that ends it.
    const char *next = start + length;
    while (*next == separator)
        next++;
    if (size <= 0)
        return next;
    if (length < (size_t)size) {
        memmove(dest, start, length);
        dest[length] = '\0';
    } else {
        dest[0] = '\0';
    }
    return next;
}

void print_lines(const char *const *lines)
{
    for (; *lines != nullptr; lines++)
        os_print("%s\n", *lines);
}

void sort_strings(char **strings, uint32_t count)
{
    if (count < 2)
        return;
    uint32_t gap = 1;
    while (gap * 2 + 1 < count)
        gap = gap * 2 + 1;
    for (; gap > 0; gap >>= 1) {
        for (uint32_t i = gap; i < count; i++) {
            for (uint32_t j = i; j >= gap && strcmp(strings[j - gap], strings[j]) > 0; j -= gap) {
                char *held = strings[j];
                strings[j] = strings[j - gap];
                strings[j - gap] = held;
            }
        }
    }
}

// ---- Name filters --------------------------------------------------------------------

// The characters that a backslash in a pattern may stand in front of.
static int is_escapable(char c)
{
    return c != '\0' && strchr("\\* \t/:?<>|", c) != nullptr;
}

int8_t match_wildcard(const char *name, const char *pattern)
{
    const char *n = name;
    const char *p = pattern;
    const char *star = nullptr;
    while (*n != '\0' && *p != '\0') {
        if (*p != '?' && *p != '*' && *p != *n)
            break;
        if (*p == '\\' && is_escapable(p[1]))
            p++;
        if (*p != '*') {
            p++;
        } else {
            while (p[1] == '*')
                p++;
        }
        n++;
        // A star may end here when what follows it matches the next name character.
        if (*p == '*' && *n == p[1]) {
            star = p;
            p++;
        }
        // After a mismatch only the pattern goes back, to the remembered star.
        if (star != nullptr && *p != '*' && *p != *n) {
            p = star;
            if (*n == star[1])
                p++;
            else
                star = nullptr;
        }
    }
    return (*n == '\0' && *p == '\0') ? 1 : 0;
}

int8_t contains_text(const char *text, const char *substring)
{
    if (substring[0] == '\0')
        return 1;
    return strstr(text, substring) != nullptr ? 1 : 0;
}

int8_t file_larger_than(const char *path, const char *number_text)
{
    OsFileStatus status;
    if (os_file_status(path, &status) != 0)
        return 0;
    return (int32_t)status.size > atoi(number_text) ? 1 : 0;
}

int8_t is_matching_directory(const char *path, const char *substring)
{
    OsFileStatus status;
    if (os_file_status(path, &status) != 0 || path[0] == '.' || !status.is_directory)
        return -1;
    if (substring[0] == '\0' || strstr(path, substring) != nullptr)
        return 1;
    return 0;
}

// ---- Small string routines -----------------------------------------------------------

int count_char(const char *s, int c)
{
    char wanted = (char)c;
    int count = 0;
    for (; *s != '\0'; s++)
        if (*s == wanted)
            count++;
    return count;
}

char *concat_strings(char *dest, ...)
{
    va_list arguments;
    va_start(arguments, dest);
    size_t length = 0;
    for (const char *part = va_arg(arguments, const char *); part != nullptr;
         part = va_arg(arguments, const char *)) {
        size_t part_length = strlen(part);
        memmove(dest + length, part, part_length);
        length += part_length;
    }
    va_end(arguments);
    dest[length] = '\0';
    return dest;
}

void reverse_bytes(char *buffer, size_t length)
{
    if (length < 2)
        return;
    for (size_t low = 0, high = length - 1; low < high; low++, high--) {
        char held = buffer[low];
        buffer[low] = buffer[high];
        buffer[high] = held;
    }
}

void swap_blocks(char *buffer, size_t first_length, size_t second_length)
{
    reverse_bytes(buffer, first_length);
    reverse_bytes(buffer + first_length, second_length);
    reverse_bytes(buffer, first_length + second_length);
}

char *delete_chars(char *s, size_t position, size_t count)
{
    size_t length = strlen(s);
    if (count == 0 || position >= length)
        return s;
    if (count >= length - position)
        s[position] = '\0';
    else
        memmove(s + position, s + position + count, length - position - count + 1);
    return s;
}

const char *copy_line(char *dest, uint32_t max_count, const char *source)
{
    for (; max_count > 0; max_count--) {
        if (*source == '\0')
            return nullptr;
        if (*source == '\r' || *source == '\n') {
            dest[0] = '\n';
            dest[1] = '\0';
            return source + 1;
        }
        *dest++ = *source++;
    }
    return nullptr;
}

const char *visible_text(char *buffer, uint32_t size, const char *text)
{
    if (size == 0)
        return buffer;
    uint32_t length = 0;
    for (const unsigned char *c = reinterpret_cast<const unsigned char *>(text); *c; c++) {
        int control = *c < 32 || *c == 127;
        uint32_t need = control ? 2 : 1;
        if (length + need + 1 > size)
            break;
        if (control) {
            buffer[length++] = '^';
            buffer[length++] = static_cast<char>(*c == 127 ? '?' : *c + 64);
        } else
            buffer[length++] = static_cast<char>(*c);
    }
    buffer[length] = '\0';
    return buffer;
}

static char lower_ascii(char c)
{
    return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c;
}

char *set_ascii_case(char *text, AsciiCase to)
{
    for (char *c = text; *c; c++) {
        char lower = lower_ascii(*c);
        if (to == ASCII_LOWER)
            *c = lower;
        else if (lower >= 'a' && lower <= 'z')
            *c = (char)(lower - 'a' + 'A');
    }
    return text;
}

int same_ignoring_case(const char *a, const char *b, size_t length)
{
    for (size_t i = 0; i < length; i++)
        if (lower_ascii(a[i]) != lower_ascii(b[i]))
            return 0;
    return 1;
}
