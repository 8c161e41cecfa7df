// Input splitting, checks and the scratch folder of the fuzz targets.
#include "fuzz_support.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "os.h"
#include "paths.h"

uint8_t take_byte(FuzzInput *input)
{
    if (input->size == 0)
        return 0;
    uint8_t byte = input->data[0];
    input->data++;
    input->size--;
    return byte;
}

uint32_t take_u16(FuzzInput *input)
{
    uint32_t low = take_byte(input);
    return low | (static_cast<uint32_t>(take_byte(input)) << 8);
}

std::string take_text(FuzzInput *input, size_t max_length)
{
    const void *end = memchr(input->data, 0, input->size);
    size_t length = end ? static_cast<const uint8_t *>(end) - input->data : input->size;
    std::string text(reinterpret_cast<const char *>(input->data),
                     length < max_length ? length : max_length);
    size_t used = end ? length + 1 : length;
    input->data += used;
    input->size -= used;
    return text;
}

std::string take_bytes(FuzzInput *input, size_t count)
{
    size_t length = count < input->size ? count : input->size;
    std::string bytes(reinterpret_cast<const char *>(input->data), length);
    input->data += length;
    input->size -= length;
    return bytes;
}

std::string take_rest(FuzzInput *input)
{
    return take_bytes(input, input->size);
}

void fuzz_check(bool ok, const char *what)
{
    if (ok)
        return;
    fprintf(stderr, "fuzz check failed: %s\n", what);
    fflush(stderr);
    abort();
}

bool is_terminated_within(const char *buffer, size_t size)
{
    return memchr(buffer, 0, size) != nullptr;
}

static char scratch_path[PATH_BUFFER_SIZE];

// The current folder cannot be removed, so the process steps out of it first.
static void remove_scratch_folder()
{
    char parent[PATH_BUFFER_SIZE];
    directory_of(parent, scratch_path);
    os_change_directory(parent);
    os_remove_directory(scratch_path);
}

const std::string &scratch_folder()
{
    static std::string folder;
    if (!folder.empty())
        return folder;
    if (os_make_temp_directory(scratch_path, sizeof scratch_path) != 0) {
        fprintf(stderr, "fuzz: cannot make a temporary folder\n");
        exit(2);
    }
    folder = scratch_path;
    atexit(remove_scratch_folder);
    return folder;
}

bool write_bytes(const std::string &path, const std::string &bytes)
{
    int fd = os_open(path.c_str(), OS_OPEN_READ_WRITE | OS_OPEN_CREATE | OS_OPEN_TRUNCATE);
    if (fd < 0)
        return false;
    int32_t written = bytes.empty() ? 0 : os_write(fd, bytes.data(), bytes.size());
    int closed = os_close(fd);
    return written == static_cast<int32_t>(bytes.size()) && closed == 0;
}

bool read_bytes(const std::string &path, std::string *bytes)
{
    int fd = os_open(path.c_str(), OS_OPEN_READ);
    if (fd < 0)
        return false;
    bytes->clear();
    char block[4096];
    int32_t count;
    while ((count = os_read(fd, block, sizeof block)) > 0)
        bytes->append(block, count);
    os_close(fd);
    return count == 0;
}
