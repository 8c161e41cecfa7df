// Streams with the tools' own text mode over binary C streams.
#include "stream.h"

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include "os.h"

enum { CTRL_Z = 26, READ_BLOCK_SIZE = 4096 };

// A stream opened only for reading ("r", "rb", "rt") is read in blocks into the record's own
// buffer, the C stream left unbuffered beneath it: bytes are then taken without a library
// call each, and the C library never needs to size a buffer of its own.
static int reads_only(const char *mode)
{
    if (mode[0] != 'r')
        return 0;
    for (const char *m = mode; *m; m++)
        if (*m == '+')
            return 0;
    return 1;
}

Stream *stream_open(const char *path, const char *mode)
{
    int8_t text = 1;
    for (const char *m = mode; *m; m++)
        if (*m == 'b')
            text = 0;
    FILE *file = os_open_stream(path, mode);
    if (!file)
        return nullptr;
    Stream *stream = static_cast<Stream *>(malloc(sizeof(Stream)));
    char *buffer = reads_only(mode) ? static_cast<char *>(malloc(READ_BLOCK_SIZE)) : nullptr;
    if (!stream || (reads_only(mode) && !buffer)) {
        free(buffer);
        free(stream);
        fclose(file);
        return nullptr;
    }
    if (buffer)
        setvbuf(file, nullptr, _IONBF, 0);
    stream->file = file;
    stream->text = text;
    stream->ended = 0;
    stream->drained = 0;
    stream->failed = 0;
    stream->buffer = buffer;
    stream->at = 0;
    stream->have = 0;
    return stream;
}

int stream_close(Stream *stream)
{
    if (!stream)
        return -1;
    int result = os_close_stream(stream->file);
    free(stream->buffer);
    free(stream);
    return result;
}

// Reads the next block into the buffer, with one read of the descriptor beneath the
// unbuffered C stream (fread would ask again after a short read). 1, or 0 at the end of the
// file or on an error; the end, once met, stays, as the C streams' end-of-file does, and an
// error is kept apart from it.
static int refill(Stream *stream)
{
    stream->at = 0;
    stream->have = 0;
    if (stream->drained)
        return 0;
    int32_t got = os_read(fileno(stream->file), stream->buffer, READ_BLOCK_SIZE);
    if (got > 0) {
        stream->have = got;
        return 1;
    }
    if (got < 0)
        stream->failed = 1;
    stream->drained = 1;
    return 0;
}

// The next byte of the file as it is, or EOF.
static inline int next_byte(Stream *stream)
{
    if (!stream->buffer)
        return getc(stream->file);
    if (stream->at == stream->have && !refill(stream))
        return EOF;
    return static_cast<unsigned char>(stream->buffer[stream->at++]);
}

// Moves the bytes of a piece straight from the buffer into piece, after the *length already
// there: up to size - 1 in all, through the first LF; text mode drops CR and ends at Ctrl-Z.
// 1 when the piece is complete, 0 when the buffer ran out first.
static int take_from_buffer(Stream *stream, char *piece, int size, int *length)
{
    const char *block = stream->buffer;
    int32_t at = stream->at;
    int n = *length, complete = 0;
    while (!complete && at < stream->have && n < size - 1) {
        char c = block[at++];
        if (stream->text && c == '\r')
            continue;
        if (stream->text && c == CTRL_Z) {
            stream->ended = 1;
            break;
        }
        piece[n++] = c;
        complete = c == '\n';
    }
    stream->at = at;
    *length = n;
    return complete || stream->ended || n >= size - 1;
}

int stream_getc(Stream *stream)
{
    if (!stream->text)
        return next_byte(stream);
    if (stream->ended)
        return EOF;
    for (;;) {
        int c = next_byte(stream);
        if (c == '\r')
            continue;
        if (c == CTRL_Z) {
            stream->ended = 1;
            return EOF;
        }
        return c;
    }
}

int stream_read_piece(char *buffer, int size, Stream *stream)
{
    if (size < 2) {
        if (size == 1)
            buffer[0] = '\0';
        return 0;
    }
    int length = 0;
    if (stream->buffer) {
        while (!stream->ended && !take_from_buffer(stream, buffer, size, &length) &&
               refill(stream)) {
        }
        buffer[length] = '\0';
        return length;
    }
    while (length < size - 1) {
        int c = stream_getc(stream);
        if (c == EOF)
            break;
        buffer[length++] = static_cast<char>(c);
        if (c == '\n')
            break;
    }
    buffer[length] = '\0';
    return length;
}

char *stream_gets(char *buffer, int size, Stream *stream)
{
    return stream_read_piece(buffer, size, stream) > 0 ? buffer : nullptr;
}

int stream_putc(int c, Stream *stream)
{
    unsigned char byte = static_cast<unsigned char>(c);
    if (stream->text && byte == '\n' && putc('\r', stream->file) == EOF)
        return EOF;
    return putc(byte, stream->file);
}

int stream_puts(const char *text, Stream *stream)
{
    // Whole runs between line feeds go out at once; text mode puts CR LF for each LF.
    const char *line_end = stream->text ? "\r\n" : "\n";
    size_t end_length = stream->text ? 2 : 1;
    for (const char *p = text; *p;) {
        const char *lf = strchr(p, '\n');
        size_t run = lf ? static_cast<size_t>(lf - p) : strlen(p);
        if (run > 0 && fwrite(p, 1, run, stream->file) != run)
            return EOF;
        if (!lf)
            break;
        if (fwrite(line_end, 1, end_length, stream->file) != end_length)
            return EOF;
        p = lf + 1;
    }
    return 0;
}

int stream_printf(Stream *stream, const char *format, ...)
{
    char small[512];
    va_list args;
    va_start(args, format);
    int length = vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (length < 0)
        return -1;
    char *text = small;
    if (static_cast<size_t>(length) >= sizeof small) {
        text = static_cast<char *>(malloc(static_cast<size_t>(length) + 1));
        if (!text)
            return -1;
        va_start(args, format);
        vsnprintf(text, static_cast<size_t>(length) + 1, format, args);
        va_end(args);
    }
    int result = stream_puts(text, stream) == EOF ? -1 : length;
    if (text != small)
        free(text);
    return result;
}

int stream_eof(Stream *stream)
{
    if (stream->buffer)
        return (stream->ended || stream->drained) ? 1 : 0;
    return (stream->ended || feof(stream->file)) ? 1 : 0;
}

int stream_error(Stream *stream)
{
    return (stream->failed || (!stream->buffer && ferror(stream->file))) ? 1 : 0;
}

int stream_seek(Stream *stream, long offset, int whence)
{
    static const int origins[] = {SEEK_SET, SEEK_CUR, SEEK_END};
    if (whence < 0 || whence > 2)
        return -1;
    stream->ended = 0;
    if (!stream->buffer)
        return fseek(stream->file, offset, origins[whence]) == 0 ? 0 : -1;
    // The descriptor stands past the bytes still waiting in the buffer; the C stream above
    // it never reads, so it is moved underneath.
    int64_t target = offset;
    if (whence == 1)
        target -= stream->have - stream->at;
    stream->at = stream->have = 0;
    stream->drained = 0;
    static const int os_origins[] = {OS_SEEK_SET, OS_SEEK_CUR, OS_SEEK_END};
    return os_seek(fileno(stream->file), target, os_origins[whence]) >= 0 ? 0 : -1;
}

long stream_tell(Stream *stream)
{
    if (!stream->buffer)
        return ftell(stream->file);
    int64_t position = os_seek(fileno(stream->file), 0, OS_SEEK_CUR);
    if (position < 0)
        return -1;
    return static_cast<long>(position - (stream->have - stream->at));
}
