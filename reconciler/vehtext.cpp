// Reading a .veh file whole and splitting it into lines, and making the updated text from the
// reference's key lines and the file's other lines.
#include "vehtext.h"

#include <stdlib.h>
#include <string.h>

#include "os.h"

enum { CTRL_Z = 26 };
static const uint32_t FIRST_READ_SIZE = 4096;
static const uint32_t LARGEST_BUFFER = 0x40000000; // no buffer grows past 1 GiB

static const char UTF8_MARK[] = "\xEF\xBB\xBF";
static const char DESC_FILE[] = "DescFile=";
static const char DESC_CLASS[] = "DescClass=";

// Grows a heap buffer of *capacity bytes so that it holds at least needed. 0, or -1 when it
// cannot (the buffer is then unchanged).
static int grow(char **bytes, uint32_t *capacity, uint32_t needed)
{
    if (needed <= *capacity)
        return 0;
    uint32_t larger = *capacity < FIRST_READ_SIZE ? FIRST_READ_SIZE : *capacity;
    while (larger < needed && larger <= LARGEST_BUFFER / 2)
        larger *= 2;
    if (larger < needed)
        return -1;
    char *moved = static_cast<char *>(realloc(*bytes, larger));
    if (!moved)
        return -1;
    *bytes = moved;
    *capacity = larger;
    return 0;
}

// Reads the open file fd into text->bytes, terminated. size is the file's size as its status
// gave it: a read that returns less than that and more asked for has met the end, so a file
// that does not grow meanwhile takes one read. 0, VEH_READ_FAILED or VEH_NO_MEMORY.
static int read_descriptor(int fd, uint32_t size, VehText *text)
{
    uint32_t capacity = 0;
    if (size < LARGEST_BUFFER - 2 && grow(&text->bytes, &capacity, size + 2) != 0)
        return VEH_NO_MEMORY;
    for (;;) {
        if (grow(&text->bytes, &capacity, text->size + 2) != 0)
            return VEH_NO_MEMORY;
        uint32_t wanted = capacity - 1 - text->size;
        int32_t got = os_read(fd, text->bytes + text->size, wanted);
        if (got < 0)
            return VEH_READ_FAILED;
        text->size += static_cast<uint32_t>(got);
        if (got == 0 || (static_cast<uint32_t>(got) < wanted && text->size >= size))
            return 0;
    }
}

// Reads the file at path into text->bytes, terminated. 0, VEH_NOT_OPENED, VEH_READ_FAILED or
// VEH_NO_MEMORY. The descriptor is closed after a failed read without a later error taking
// the place of the read's.
static int read_whole_file(const char *path, VehText *text)
{
    OsOpenFile file;
    if (os_open_file(path, 0, &file) != 0)
        return VEH_NOT_OPENED;
    int result = read_descriptor(file.fd, file.status.size, text);
    os_close(file.fd);
    return result;
}

// Finds the mark, the Ctrl-Z end and a NUL. 0, VEH_HOLDS_NUL or VEH_TEXT_AFTER_CTRL_Z.
static int find_text(VehText *text)
{
    text->has_mark = text->size >= 3 && memcmp(text->bytes, UTF8_MARK, 3) == 0;
    text->start = text->has_mark ? 3 : 0;
    text->end = text->size;
    const char *begin = text->bytes + text->start;
    const char *ctrl_z = static_cast<const char *>(memchr(begin, CTRL_Z, text->size - text->start));
    if (ctrl_z)
        text->end = static_cast<uint32_t>(ctrl_z - text->bytes);
    if (memchr(begin, '\0', text->end - text->start))
        return VEH_HOLDS_NUL;
    for (uint32_t at = text->end; at < text->size; at++)
        if (text->bytes[at] != CTRL_Z)
            return VEH_TEXT_AFTER_CTRL_Z;
    return 0;
}

static void empty_text(VehText *text)
{
    text->bytes = nullptr;
    text->size = text->start = text->end = 0;
    text->has_mark = 0;
}

// Terminates what was read and finds its text. The result of the read, or of find_text.
static int finish_read(int result, VehText *text)
{
    if (text->bytes)
        text->bytes[text->size] = '\0';
    return result != 0 ? result : find_text(text);
}

int read_veh_text(const char *path, VehText *text)
{
    empty_text(text);
    return finish_read(read_whole_file(path, text), text);
}

int read_veh_file(const OsOpenFile *file, VehText *text)
{
    empty_text(text);
    return finish_read(read_descriptor(file->fd, file->status.size, text), text);
}

void free_veh_text(VehText *text)
{
    free(text->bytes);
    text->bytes = nullptr;
    text->size = text->start = text->end = 0;
}

int next_veh_line(const VehText *text, uint32_t *at, VehLine *line)
{
    if (*at < text->start)
        *at = text->start;
    if (*at >= text->end)
        return 0;
    const char *bytes = text->bytes;
    uint32_t end = *at;
    while (end < text->end && bytes[end] != '\n' && bytes[end] != '\r')
        end++;
    line->bytes = bytes + *at;
    line->length = end - *at;
    line->ended = end < text->end;
    if (end < text->end && bytes[end] == '\r' && end + 1 < text->end && bytes[end + 1] == '\n')
        end++;
    *at = line->ended ? end + 1 : end;
    return 1;
}

// 1 when the line holds key (case-sensitive, anywhere), else 0.
static int holds(const VehLine *line, const char *key)
{
    size_t key_length = strlen(key);
    if (line->length < key_length)
        return 0;
    const char *last = line->bytes + line->length - key_length;
    for (const char *p = line->bytes; p <= last; p++) {
        p = static_cast<const char *>(memchr(p, key[0], static_cast<size_t>(last - p) + 1));
        if (!p)
            return 0;
        if (memcmp(p, key, key_length) == 0)
            return 1;
    }
    return 0;
}

// Appends length bytes and keeps the buffer terminated. 0, or -1 when it cannot grow.
static int append(TextBuffer *out, const char *bytes, uint32_t length)
{
    if (length > LARGEST_BUFFER || out->size + length + 1 > LARGEST_BUFFER ||
        grow(&out->bytes, &out->capacity, out->size + length + 1) != 0)
        return -1;
    memcpy(out->bytes + out->size, bytes, length);
    out->size += length;
    out->bytes[out->size] = '\0';
    return 0;
}

// Appends a line, then CR LF when with_line_end is 1. 0, or -1.
static int append_line(TextBuffer *out, const VehLine *line, int with_line_end)
{
    if (append(out, line->bytes, line->length) != 0)
        return -1;
    return with_line_end ? append(out, "\r\n", 2) : 0;
}

// Appends the reference's key lines, each with a line end. 0, -1, or VEH_REFERENCE_NO_KEYS.
static int append_reference_keys(const VehText *reference, TextBuffer *out)
{
    VehLine line;
    uint32_t at = 0;
    int found = 0;
    while (next_veh_line(reference, &at, &line)) {
        int copies = holds(&line, DESC_FILE) + holds(&line, DESC_CLASS);
        for (int copy = 0; copy < copies; copy++)
            if (append_line(out, &line, 1) != 0)
                return -1;
        found += copies;
        if (holds(&line, DESC_CLASS))
            break;
    }
    return found > 0 ? 0 : VEH_REFERENCE_NO_KEYS;
}

int make_vehicle_text(const VehText *reference, const VehText *current, TextBuffer *out)
{
    out->bytes = nullptr;
    out->size = out->capacity = 0;
    if (append(out, "", 0) != 0 || (current->has_mark && append(out, UTF8_MARK, 3) != 0))
        return VEH_OUT_OF_MEMORY;
    int keys = append_reference_keys(reference, out);
    if (keys != 0)
        return keys < 0 ? VEH_OUT_OF_MEMORY : keys;
    VehLine line;
    uint32_t at = 0;
    while (next_veh_line(current, &at, &line))
        if (!holds(&line, DESC_FILE) && !holds(&line, DESC_CLASS) &&
            append_line(out, &line, line.ended) != 0)
            return VEH_OUT_OF_MEMORY;
    return 0;
}
