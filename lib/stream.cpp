// Streams with the tools' own text mode over binary C streams.
#include "stream.h"

#include <stdarg.h>
#include <stdlib.h>

#include "os.h"

enum { CTRL_Z = 26 };

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
    if (!stream) {
        fclose(file);
        return nullptr;
    }
    stream->file = file;
    stream->text = text;
    stream->ended = 0;
    return stream;
}

int stream_close(Stream *stream)
{
    if (!stream)
        return -1;
    int result = os_close_stream(stream->file);
    free(stream);
    return result;
}

int stream_getc(Stream *stream)
{
    if (!stream->text)
        return getc(stream->file);
    if (stream->ended)
        return EOF;
    for (;;) {
        int c = getc(stream->file);
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
    for (const char *p = text; *p; p++)
        if (stream_putc(*p, stream) == EOF)
            return EOF;
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
    return (stream->ended || feof(stream->file)) ? 1 : 0;
}

int stream_seek(Stream *stream, long offset, int whence)
{
    static const int origins[] = {SEEK_SET, SEEK_CUR, SEEK_END};
    if (whence < 0 || whence > 2)
        return -1;
    stream->ended = 0;
    return fseek(stream->file, offset, origins[whence]) == 0 ? 0 : -1;
}

long stream_tell(Stream *stream)
{
    return ftell(stream->file);
}
