// Windows path routines: taking paths apart, making them absolute, the PATH search, folder
// chains, separator clean-up and the console question for a folder name.
#include "paths.h"

#include "os.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// The longest name search_path_list looks for, in UTF-16 units.
enum { SEARCH_NAME_UNITS_MAX = 99 };

// The UTF-16 units of the character that starts at text + position (as os_utf16_length
// counts them).
static uint32_t units_at(const char *text, uint32_t position)
{
    return os_char_length(text, position) == 4 ? 2 : 1;
}

int path_fits(const char *path)
{
    return strlen(path) < PATH_BUFFER_SIZE && os_utf16_length(path) <= PATH_UNITS_MAX;
}

// ---- The console question ------------------------------------------------------------

// Ends text after its first max_units UTF-16 units, never inside a character.
static void cut_to_units(char *text, uint32_t max_units)
{
    uint32_t units = 0;
    for (uint32_t at = 0; text[at] != '\0'; at += (uint32_t)os_char_length(text, at)) {
        units += units_at(text, at);
        if (units > max_units) {
            text[at] = '\0';
            return;
        }
    }
}

// Ends a text of length bytes, cut where the buffer ended, before a UTF-8 sequence that the
// cut left incomplete.
static void drop_cut_character(char *text, size_t length)
{
    size_t start = length;
    while (start > 0 && length - start < 3 && ((unsigned char)text[start - 1] & 0xC0) == 0x80)
        start--;
    if (start == 0 || (unsigned char)text[start - 1] < 0xC0)
        return;
    unsigned char lead = (unsigned char)text[--start];
    size_t needed = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    if (length - start < needed)
        text[start] = '\0';
}

// 1 when text begins with a UTF-16 byte order mark, FF FE or FE FF (PowerShell 5's text).
static int starts_with_utf16_mark(const char *text)
{
    unsigned char first = (unsigned char)text[0];
    unsigned char second = (unsigned char)(first ? text[1] : 0);
    return (first == 0xFF && second == 0xFE) || (first == 0xFE && second == 0xFF);
}

// Reads one line of standard input into buffer (PATH_BUFFER_SIZE bytes) without CR or LF.
// 1 for a line, 2 for a line longer than PATH_UNITS_MAX units (its rest discarded, buffer
// its first PATH_UNITS_MAX units), 3 for UTF-16 text, -1 at the end of input with nothing
// read. A line that fills the buffer is too long whatever it holds: no unit takes more than
// 3 bytes.
static int read_answer_line(char *buffer)
{
    size_t length = 0;
    int got_any = 0;
    int too_long = 0;
    int has_nul = 0;
    int c;
    while ((c = os_read_input_char()) != EOF && c != '\n') {
        got_any = 1;
        has_nul |= c == 0;
        if (c == '\r')
            continue;
        if (length + 1 < PATH_BUFFER_SIZE)
            buffer[length++] = (char)c;
        else
            too_long = 1;
    }
    buffer[length] = '\0';
    if (c == EOF && !got_any)
        return -1;
    if (has_nul || starts_with_utf16_mark(buffer))
        return READ_NAME_UTF16;
    if (too_long)
        drop_cut_character(buffer, length);
    if (too_long || os_utf16_length(buffer) > PATH_UNITS_MAX) {
        cut_to_units(buffer, PATH_UNITS_MAX);
        return READ_NAME_TOO_LONG;
    }
    return 1;
}

// Drops an opening double quote, and the closing one with everything after it.
static void remove_quotes(char *text)
{
    if (text[0] != '"')
        return;
    char *closing = strchr(text + 1, '"');
    if (closing != nullptr)
        *closing = '\0';
    memmove(text, text + 1, strlen(text + 1) + 1);
}

int read_directory_name(char *buffer)
{
    os_discard_console_input();
    int line = read_answer_line(buffer);
    if (line != 1)
        return line;
    remove_quotes(buffer);
    size_t length = strlen(buffer);
    if (length == 0)
        return 0;
    if (buffer[length - 1] == '\\')
        buffer[length - 1] = '\0';
    OsFileStatus status;
    if (os_file_status(buffer, &status) != 0 || !status.is_directory)
        return 0;
    return 1;
}

// ---- Taking paths apart --------------------------------------------------------------

char *file_name_of(char *path)
{
    char *last_separator = nullptr;
    size_t length = 0;
    for (; path[length] != '\0'; length++)
        if (path[length] == '\\' && path[length + 1] != '\0')
            last_separator = path + length;
    if (length > 0 && path[length - 1] == '\\')
        path[--length] = '\0';
    if (last_separator != nullptr)
        return last_separator + 1;
    if (length == 2 && path[1] == ':')
        return path + 2;
    return path;
}

// The "." in front of the extension of name, or null when name has no extension.
static char *extension_dot(char *name)
{
    char *dot = strrchr(name, '.');
    return (dot != nullptr && dot != name) ? dot : nullptr;
}

char *extension_of(char *path)
{
    char *name = file_name_of(path);
    char *dot = extension_dot(name);
    return dot != nullptr ? dot + 1 : name + strlen(name);
}

// Copies the part of path in front of name, without the separator before name.
static void copy_directory_part(char *out, const char *path, const char *name)
{
    size_t length = (size_t)(name - path);
    if (length > 0 && path[length - 1] == '\\')
        length--;
    memmove(out, path, length);
    out[length] = '\0';
}

// Copies name up to its extension's "." (the whole name when it has no extension).
static void copy_base_name(char *out, char *name)
{
    char *dot = extension_dot(name);
    size_t length = dot != nullptr ? (size_t)(dot - name) : strlen(name);
    memmove(out, name, length);
    out[length] = '\0';
}

char *directory_of(char *out, char *path)
{
    char *name = file_name_of(path);
    copy_directory_part(out, path, name);
    if (out[0] == '\0')
        strcpy(out, ".");
    return out;
}

char *base_name_of(char *out, char *path)
{
    copy_base_name(out, file_name_of(path));
    return out;
}

int split_path(char *path, char *directory, char *base, char *extension)
{
    char *name = file_name_of(path);
    char *dot = extension_dot(name);
    if (extension != nullptr)
        strcpy(extension, dot != nullptr ? dot + 1 : "");
    if (directory != nullptr)
        copy_directory_part(directory, path, name);
    if (base != nullptr)
        copy_base_name(base, name);
    return 0;
}

// ---- Absolute paths ------------------------------------------------------------------

// Removes the last component of an absolute folder text by cutting at its last '\'; a
// text with no '\' left (a bare drive) is the root and stays as it is.
static void remove_last_component(char *folder)
{
    char *separator = strrchr(folder, '\\');
    if (separator != nullptr)
        *separator = '\0';
}

// Consumes the leading '.\', '..\', '...\' steps and '\' characters of path, climbing out
// of folder for each; returns the rest of the path.
static const char *consume_relative_steps(char *folder, const char *path)
{
    for (;;) {
        size_t dots = 0;
        while (path[dots] == '.')
            dots++;
        if (dots > 0) {
            if (path[dots] != '\\')
                return path;
            for (size_t i = 1; i < dots; i++)
                remove_last_component(folder);
            path += dots;
        }
        if (*path == '\\')
            path++;
        if (*path != '.')
            return path;
    }
}

char *make_absolute_path(char *out, const char *path)
{
    out[0] = '\0';
    int rooted = path[0] == '/' || (path[0] != '\0' && path[1] == ':' && path[2] == '\\');
    if (rooted) {
        if (!path_fits(path))
            return nullptr;
        strcpy(out, path);
        return out;
    }
    if (os_get_current_directory(out, PATH_BUFFER_SIZE) != 0) {
        out[0] = '\0';
        return nullptr;
    }
    const char *rest = consume_relative_steps(out, path);
    size_t length = strlen(out);
    if (length + 1 + strlen(rest) >= PATH_BUFFER_SIZE) {
        out[0] = '\0';
        return nullptr;
    }
    out[length] = '\\';
    strcpy(out + length + 1, rest);
    if (os_utf16_length(out) > PATH_UNITS_MAX) {
        out[0] = '\0';
        return nullptr;
    }
    return out;
}

// ---- The PATH search -----------------------------------------------------------------

// The value of PATH in a heap buffer that the caller frees; null when it is not set.
static char *read_path_variable(void)
{
    for (uint32_t size = 1024; size <= (1u << 24); size *= 2) {
        char *value = (char *)malloc(size);
        if (value == nullptr)
            return nullptr;
        int length = os_get_environment("PATH", value, size);
        if (length >= 0)
            return value;
        free(value);
        if (length == -1)
            return nullptr;
    }
    return nullptr;
}

// Tries each ';'-separated entry of list joined to name, writing candidates into path.
// Returns 1 when one names an existing file or folder.
static int try_path_entries(char *path, char *list, const char *name)
{
    for (char *entry = list; *entry != '\0';) {
        char *end = strchr(entry, ';');
        char *next = end != nullptr ? end + 1 : entry + strlen(entry);
        if (end != nullptr)
            *end = '\0';
        size_t length = strlen(entry);
        if (length > 0) {
            const char *separator = entry[length - 1] == '\\' ? "" : "\\";
            char candidate[PATH_BUFFER_SIZE];
            int written = snprintf(candidate, sizeof candidate, "%s%s%s", entry, separator, name);
            if (written > 0 && written < PATH_BUFFER_SIZE && path_fits(candidate)) {
                strcpy(path, candidate);
                if (os_exists(path))
                    return 1;
            }
        }
        entry = next;
    }
    return 0;
}

char *search_path_list(char *path)
{
    if (os_exists(path))
        return path;
    const char *separator = strrchr(path, '\\');
    const char *name_start = separator != nullptr ? separator + 1 : path;
    size_t name_length = strlen(name_start);
    if (name_length == 0 || name_length >= PATH_BUFFER_SIZE ||
        os_utf16_length(name_start) > SEARCH_NAME_UNITS_MAX)
        return nullptr;
    char name[PATH_BUFFER_SIZE];
    memcpy(name, name_start, name_length + 1);
    char *list = read_path_variable();
    if (list == nullptr)
        return nullptr;
    int found = try_path_entries(path, list, name);
    free(list);
    return found ? path : nullptr;
}

char *locate_file(char *path)
{
    char work[PATH_BUFFER_SIZE];
    if (make_absolute_path(work, path) == nullptr)
        return nullptr;
    search_path_list(work);
    if (!os_exists(work))
        return nullptr;
    strcpy(path, work);
    return path;
}

// ---- Folder chains and separators ----------------------------------------------------

// Enters the folder named by prefix, creating it when it cannot be entered. 0, or -1.
static int enter_or_create(const char *prefix)
{
    if (prefix[0] == '\0' || os_change_directory(prefix) == 0)
        return 0;
    return os_make_directory(prefix);
}

int8_t make_directory_tree(const char *path, int mode)
{
    (void)mode;
    if (!path_fits(path))
        return -1;
    size_t length = strlen(path);
    char copy[PATH_BUFFER_SIZE];
    memcpy(copy, path, length + 1);
    if (length > 0 && copy[length - 1] == '\\')
        copy[--length] = '\0';
    // An empty path names no folder: its only level can be neither entered nor created.
    if (length == 0)
        return -1;
    char saved[PATH_BUFFER_SIZE];
    if (os_get_current_directory(saved, sizeof saved) != 0)
        return -1;
    char prefix[PATH_BUFFER_SIZE];
    for (size_t i = 0; i <= length; i++) {
        if (copy[i] == '\\' || copy[i] == '\0') {
            prefix[i] = '\0';
            if (enter_or_create(prefix) != 0)
                return -1;
        }
        prefix[i] = copy[i];
    }
    return os_change_directory(saved) == 0 ? 0 : -1;
}

char *normalize_separators(char *path)
{
    size_t length = 0;
    for (; path[length] != '\0'; length++)
        if (path[length] == '/')
            path[length] = '\\';
    if (length > 0 && path[length - 1] == '\\')
        path[length - 1] = '\0';
    return path;
}
