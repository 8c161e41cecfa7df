// File copies and file status: block copies over descriptors, whole-file and appending
// copies, comparison, the eight byte converters, existence and size.
#include "filecopy.h"

#include "os.h"
#include "stream.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// ---- Block copies --------------------------------------------------------------------

// A transfer buffer of at most COPY_BLOCK_MAX bytes and never more than count; the size is
// halved after each failed allocation. Null when not even COPY_BLOCK_MIN bytes (or count,
// when smaller) can be had.
static char *allocate_block(uint32_t count, uint32_t *size)
{
    for (uint32_t tried = COPY_BLOCK_MAX; tried >= COPY_BLOCK_MIN; tried >>= 1) {
        if (tried > count)
            tried = count;
        char *block = (char *)malloc(tried);
        if (block != nullptr) {
            *size = tried;
            return block;
        }
    }
    return nullptr;
}

int copy_range(int input, int output, uint32_t first, uint32_t end)
{
    int64_t size = os_seek(input, 0, OS_SEEK_END);
    if (size < 0 || (uint64_t)size < first || end <= first)
        return -1;
    if ((uint64_t)size < end)
        end = (uint32_t)size;
    uint32_t remaining = end - first;
    if (os_seek(input, first, OS_SEEK_SET) < 0)
        return -1;
    if (remaining == 0)
        return 0;
    uint32_t block_size = 0;
    char *block = allocate_block(remaining, &block_size);
    if (block == nullptr)
        return -1;
    int result = 0;
    while (remaining > 0) {
        uint32_t wanted = remaining < block_size ? remaining : block_size;
        int32_t got = os_read(input, block, wanted);
        // An input that ends before the size it reported would leave the range cut short.
        if (got <= 0 || os_write(output, block, (uint32_t)got) != got) {
            result = -1;
            break;
        }
        remaining -= (uint32_t)got;
    }
    free(block);
    return result;
}

int copy_file(const char *source, const char *destination)
{
    // Truncating the destination would empty a source that is the same file.
    if (os_same_file(source, destination))
        return -1;
    int input = os_open(source, OS_OPEN_READ);
    if (input < 0)
        return -1;
    // copy_range stops at COPY_FILE_MAX; a longer source would arrive cut.
    int64_t size = os_seek(input, 0, OS_SEEK_END);
    if (size < 0 || size > COPY_FILE_MAX) {
        os_close(input);
        return -1;
    }
    int output = os_open(destination, OS_OPEN_READ_WRITE | OS_OPEN_CREATE | OS_OPEN_TRUNCATE);
    if (output < 0) {
        os_close(input);
        return -1;
    }
    int result = copy_range(input, output, 0, COPY_FILE_MAX);
    os_close(output);
    if (result != 0)
        os_delete_file(destination);
    os_close(input);
    return result;
}

int append_file_range(const char *source, const char *destination, uint32_t first, uint32_t end)
{
    // A file appended to itself would grow while it is read.
    if (os_same_file(source, destination))
        return -1;
    int input = os_open(source, OS_OPEN_READ);
    if (input < 0)
        return 1;
    int existed = os_exists(destination);
    int output = os_open(destination, OS_OPEN_READ_WRITE | OS_OPEN_CREATE | OS_OPEN_APPEND);
    if (output < 0) {
        os_close(input);
        return -1;
    }
    int result = copy_range(input, output, first, end);
    os_close(output);
    // What the destination held before the call stays; only a file made here goes again.
    if (result != 0 && !existed)
        os_delete_file(destination);
    os_close(input);
    return result;
}

// ---- Comparison ----------------------------------------------------------------------

enum { COMPARE_BLOCK = 16384 };

static char *compare_first_block = nullptr;
static char *compare_second_block = nullptr;

// error is the errno of the failed allocation, taken before anything else can change it.
static void fail_out_of_memory(int error)
{
    os_print_error(" %s\n", strerror(error));
    exit(1);
}

static long stream_size(FILE *stream)
{
    if (fseek(stream, 0, SEEK_END) != 0)
        return -1;
    return ftell(stream);
}

// Fills block with up to COMPARE_BLOCK bytes from the descriptor's position, asking again
// after a short read. The bytes read (0 at the end), or -1 when a read failed.
static int32_t read_block(int fd, char *block)
{
    int32_t have = 0;
    while (have < COMPARE_BLOCK) {
        int32_t got = os_read(fd, block + have, static_cast<uint32_t>(COMPARE_BLOCK - have));
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        have += got;
    }
    return have;
}

// 0 when the rest of both files is equal, 1 when they differ, -1 when a read failed: a
// failed read is no end, and the bytes behind it may differ.
static int compare_blocks(int first, int second)
{
    for (;;) {
        int32_t first_count = read_block(first, compare_first_block);
        int32_t second_count = read_block(second, compare_second_block);
        if (first_count < 0 || second_count < 0)
            return -1;
        if (first_count == 0 && second_count == 0)
            return 0;
        if (first_count != second_count ||
            memcmp(compare_first_block, compare_second_block, (size_t)first_count) != 0)
            return 1;
    }
}

// Compares two open descriptors from their start, sizes first.
static int compare_open_files(int first, int second)
{
    int64_t first_size = os_seek(first, 0, OS_SEEK_END);
    int64_t second_size = os_seek(second, 0, OS_SEEK_END);
    if (first_size < 0 || second_size < 0)
        return -1;
    if (first_size != second_size)
        return 1;
    if (os_seek(first, 0, OS_SEEK_SET) != 0 || os_seek(second, 0, OS_SEEK_SET) != 0)
        return -1;
    compare_first_block = (char *)malloc(COMPARE_BLOCK);
    if (compare_first_block == nullptr)
        fail_out_of_memory(errno);
    compare_second_block = (char *)malloc(COMPARE_BLOCK);
    if (compare_second_block == nullptr) {
        int error = errno;
        free(compare_first_block);
        fail_out_of_memory(error);
    }
    int result = compare_blocks(first, second);
    free(compare_first_block);
    free(compare_second_block);
    compare_first_block = nullptr;
    compare_second_block = nullptr;
    return result;
}

int compare_files(const char *first, const char *second)
{
    int first_file = os_open(first, OS_OPEN_READ);
    if (first_file < 0)
        return -1;
    int second_file = os_open(second, OS_OPEN_READ);
    if (second_file < 0) {
        os_close(first_file);
        return -1;
    }
    int result = compare_open_files(first_file, second_file);
    os_close(second_file);
    os_close(first_file);
    return result;
}

// ---- Converters ----------------------------------------------------------------------

// Writes what one byte read becomes; previous is the byte read before (0 at the start).
// Returns 1 to stop reading (the byte is then not written), else 0.
typedef int (*ByteConverter)(int byte, int previous, FILE *out);

static int8_t convert_file(const char *source, const char *destination, ByteConverter convert)
{
    // Opening the destination with "wb" would empty a source that is the same file.
    if (os_same_file(source, destination))
        return -1;
    Stream *in = stream_open(source, "rb");
    if (in == nullptr)
        return -1;
    FILE *out = os_open_stream(destination, "wb");
    if (out == nullptr) {
        stream_close(in);
        return -1;
    }
    int previous = 0;
    for (int byte = stream_getc(in); byte != EOF; byte = stream_getc(in)) {
        if (convert(byte, previous, out))
            break;
        previous = byte;
    }
    // A failed read or write leaves the destination short of the source's text.
    int failed = stream_error(in) || ferror(out);
    stream_close(in);
    if (os_close_stream(out) != 0)
        failed = 1;
    if (!failed)
        return 0;
    os_delete_file(destination);
    return -1;
}

static int lf_to_crlf_byte(int byte, int previous, FILE *out)
{
    if (byte == '\n' && previous != '\r')
        putc('\r', out);
    putc(byte, out);
    return 0;
}

static int crlf_to_lf_byte(int byte, int, FILE *out)
{
    if (byte == 26)
        return 1;
    if (byte != '\r')
        putc(byte, out);
    return 0;
}

static int cr_to_crlf_byte(int byte, int, FILE *out)
{
    putc(byte, out);
    if (byte == '\r')
        putc('\n', out);
    return 0;
}

static int crlf_to_cr_byte(int byte, int, FILE *out)
{
    if (byte == 26)
        return 1;
    if (byte != '\n')
        putc(byte, out);
    return 0;
}

static int lf_to_cr_byte(int byte, int, FILE *out)
{
    putc(byte == '\n' ? '\r' : byte, out);
    return 0;
}

static int cr_to_lf_byte(int byte, int, FILE *out)
{
    putc(byte == '\r' ? '\n' : byte, out);
    return 0;
}

int8_t lf_to_crlf_file(const char *source, const char *destination)
{
    return convert_file(source, destination, lf_to_crlf_byte);
}

int8_t crlf_to_lf_file(const char *source, const char *destination)
{
    return convert_file(source, destination, crlf_to_lf_byte);
}

int8_t cr_to_crlf_file(const char *source, const char *destination)
{
    return convert_file(source, destination, cr_to_crlf_byte);
}

int8_t crlf_to_cr_file(const char *source, const char *destination)
{
    return convert_file(source, destination, crlf_to_cr_byte);
}

int8_t lf_to_cr_file(const char *source, const char *destination)
{
    return convert_file(source, destination, lf_to_cr_byte);
}

int8_t cr_to_lf_file(const char *source, const char *destination)
{
    return convert_file(source, destination, cr_to_lf_byte);
}

// ---- EBCDIC --------------------------------------------------------------------------

// The byte written for each ASCII byte read; a permutation of 0..255.
static const unsigned char ascii_to_ebcdic_table[256] = {
    0x00, 0x01, 0x02, 0x03, 0x37, 0x2D, 0x2E, 0x2F, 0x16, 0x05, 0x25, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F,
    0x10, 0x11, 0x12, 0x13, 0x3C, 0x3D, 0x32, 0x26, 0x18, 0x19, 0x3F, 0x27, 0x1C, 0x1D, 0x1E, 0x1F,
    0x40, 0x4F, 0x7F, 0x7B, 0x5B, 0x6C, 0x50, 0x7D, 0x4D, 0x5D, 0x5C, 0x4E, 0x6B, 0x60, 0x4B, 0x61,
    0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0x7A, 0x5E, 0x4C, 0x7E, 0x6E, 0x6F,
    0x7C, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6,
    0xD7, 0xD8, 0xD9, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0x4A, 0xE0, 0x5A, 0x5F, 0x6D,
    0x79, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96,
    0x97, 0x98, 0x99, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xC0, 0x6A, 0xD0, 0xA1, 0x07,
    0x20, 0x21, 0x22, 0x23, 0x24, 0x15, 0x06, 0x17, 0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x09, 0x0A, 0x1B,
    0x30, 0x31, 0x1A, 0x33, 0x34, 0x35, 0x36, 0x08, 0x38, 0x39, 0x3A, 0x3B, 0x04, 0x14, 0x3E, 0xE1,
    0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57,
    0x58, 0x59, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x70, 0x71, 0x72, 0x73, 0x74, 0x75,
    0x76, 0x77, 0x78, 0x80, 0x8A, 0x8B, 0x8C, 0x8D, 0x8E, 0x8F, 0x90, 0x9A, 0x9B, 0x9C, 0x9D, 0x9E,
    0x9F, 0xA0, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF, 0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7,
    0xB8, 0xB9, 0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF, 0xDA, 0xDB,
    0xDC, 0xDD, 0xDE, 0xDF, 0xEA, 0xEB, 0xEC, 0xED, 0xEE, 0xEF, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF,
};

// Its exact inverse: the ASCII byte written for each EBCDIC byte read.
static const unsigned char ebcdic_to_ascii_table[256] = {
    0x00, 0x01, 0x02, 0x03, 0x9C, 0x09, 0x86, 0x7F, 0x97, 0x8D, 0x8E, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F,
    0x10, 0x11, 0x12, 0x13, 0x9D, 0x85, 0x08, 0x87, 0x18, 0x19, 0x92, 0x8F, 0x1C, 0x1D, 0x1E, 0x1F,
    0x80, 0x81, 0x82, 0x83, 0x84, 0x0A, 0x17, 0x1B, 0x88, 0x89, 0x8A, 0x8B, 0x8C, 0x05, 0x06, 0x07,
    0x90, 0x91, 0x16, 0x93, 0x94, 0x95, 0x96, 0x04, 0x98, 0x99, 0x9A, 0x9B, 0x14, 0x15, 0x9E, 0x1A,
    0x20, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0x5B, 0x2E, 0x3C, 0x28, 0x2B, 0x21,
    0x26, 0xA9, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF, 0xB0, 0xB1, 0x5D, 0x24, 0x2A, 0x29, 0x3B, 0x5E,
    0x2D, 0x2F, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0x7C, 0x2C, 0x25, 0x5F, 0x3E, 0x3F,
    0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF, 0xC0, 0xC1, 0xC2, 0x60, 0x3A, 0x23, 0x40, 0x27, 0x3D, 0x22,
    0xC3, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9,
    0xCA, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x6F, 0x70, 0x71, 0x72, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF, 0xD0,
    0xD1, 0x7E, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7,
    0xD8, 0xD9, 0xDA, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF, 0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7,
    0x7B, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0xE8, 0xE9, 0xEA, 0xEB, 0xEC, 0xED,
    0x7D, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F, 0x50, 0x51, 0x52, 0xEE, 0xEF, 0xF0, 0xF1, 0xF2, 0xF3,
    0x5C, 0x9F, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9,
    0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF,
};

static int ascii_to_ebcdic_byte(int byte, int, FILE *out)
{
    putc(ascii_to_ebcdic_table[byte], out);
    return 0;
}

static int ebcdic_to_ascii_byte(int byte, int, FILE *out)
{
    putc(ebcdic_to_ascii_table[byte], out);
    return 0;
}

int8_t ascii_to_ebcdic_file(const char *source, const char *destination)
{
    return convert_file(source, destination, ascii_to_ebcdic_byte);
}

int8_t ebcdic_to_ascii_file(const char *source, const char *destination)
{
    return convert_file(source, destination, ebcdic_to_ascii_byte);
}

// ---- File status ---------------------------------------------------------------------

int file_exists(const char *path)
{
    return os_exists(path);
}

int file_size(const char *path)
{
    FILE *stream = os_open_stream(path, "rb");
    if (stream == nullptr)
        return -1;
    long size = stream_size(stream);
    fclose(stream);
    return (int)size;
}
