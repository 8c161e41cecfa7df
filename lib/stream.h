// Streams that carry their own mode. Text mode is the one the tools' files use on Windows,
// built here once over binary C streams so that both targets behave alike:
//   reading drops every CR (CR LF arrives as LF) and a byte 26 (Ctrl-Z) ends the text;
//   writing turns every LF into CR LF.
// Binary mode passes bytes unchanged. The C runtime's own text mode is never used: it keeps
// a lone CR, which text mode here drops.
#pragma once

#include <stdint.h>
#include <stdio.h>

struct Stream {
    FILE *file;     // the binary C stream underneath
    int8_t text;    // 1 for text mode, 0 for binary
    int8_t ended;   // text mode: a Ctrl-Z was read, nothing follows
    int8_t drained; // a read met the end of the file, or failed (streams read through buffer)
    int8_t failed;  // a read failed: what was read so far is not the whole text
    char *buffer;   // a stream opened only for reading is read in blocks into this; else null
    int32_t at;     // the next byte of buffer to deliver
    int32_t have;   // the bytes in buffer
};

// Opens path (through the OS layer) with an fopen-style mode: "r", "w", "a", "r+", "w+",
// "a+". A "b" in the mode selects binary mode; anything else is text mode, as the Windows
// C runtime's default. Result: a new record the caller closes, or null.
Stream *stream_open(const char *path, const char *mode);
// Closes the C stream and frees the record. 0, or -1 when the close failed.
int stream_close(Stream *stream);

// The next byte as an unsigned char value, or EOF at the end of the text or on a read error.
int stream_getc(Stream *stream);
// Reads like fgets: at most size - 1 bytes, stopping after the first LF, always terminated.
// Result: buffer, or null when nothing was read (end of text, or size below 2).
char *stream_gets(char *buffer, int size, Stream *stream);
// Reads a piece like stream_gets and gives its length: a NUL byte is read like any other, so
// strlen may fall short of it. Result: the bytes read (at most size - 1), 0 at the end of the
// text or when size is below 2 (a size of 1 still gets the terminator).
int stream_read_piece(char *buffer, int size, Stream *stream);

// Writes one byte (text mode: LF as CR LF). The byte, or EOF on a write error.
int stream_putc(int c, Stream *stream);
// Writes a terminated text, no line end added. 0, or EOF on a write error.
int stream_puts(const char *text, Stream *stream);
// Formatted write of any length. The number of bytes formatted, or -1.
int stream_printf(Stream *stream, const char *format, ...) __attribute__((format(printf, 2, 3)));

// 1 once a read met the end of the text or failed, else 0.
int stream_eof(Stream *stream);
// 1 once a read failed (a bad sector, a share that dropped, a locked range), else 0. A failed
// read ends the text like its end does, so every reader that acts on what it read asks this
// first. It stays set until the stream is closed.
int stream_error(Stream *stream);
// Moves like fseek (OS_SEEK_* or SEEK_* values) and forgets a Ctrl-Z end. 0, or -1.
int stream_seek(Stream *stream, long offset, int whence);
// The position in the file underneath, or -1.
long stream_tell(Stream *stream);
