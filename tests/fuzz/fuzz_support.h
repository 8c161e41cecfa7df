// Helpers shared by the fuzz targets: taking a fuzzed input apart, failing a check so that
// libFuzzer and the replay program both see it, and one scratch folder per process.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

// The entry every target defines; libFuzzer or the replay program calls it once per input.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

// The unread rest of an input.
struct FuzzInput {
    const uint8_t *data;
    size_t size;
};

// The next byte, or 0 once the input is used up.
uint8_t take_byte(FuzzInput *input);
// The next two bytes as a little-endian number (missing bytes count as 0).
uint32_t take_u16(FuzzInput *input);
// The bytes up to the next NUL (or the end), the NUL consumed; at most max_length of them
// are kept, the rest of that text is skipped.
std::string take_text(FuzzInput *input, size_t max_length);
// The next count bytes, fewer when the input ends first.
std::string take_bytes(FuzzInput *input, size_t count);
// Everything left.
std::string take_rest(FuzzInput *input);

// Stops the process with "fuzz check failed: <what>" on standard error when ok is false; an
// abort is what libFuzzer reports as a crash and what makes the replay program fail.
void fuzz_check(bool ok, const char *what);

// 1 when a NUL lies within the first size bytes of buffer.
bool is_terminated_within(const char *buffer, size_t size);

// A folder made once per process with os_make_temp_directory, removed again at exit (it
// must be empty by then). Its absolute path in Windows form; stops the process when the
// folder cannot be made.
const std::string &scratch_folder();

// Whole-file writes and reads in binary through the OS layer. write_bytes gives false on
// failure; read_bytes gives false when the file cannot be opened.
bool write_bytes(const std::string &path, const std::string &bytes);
bool read_bytes(const std::string &path, std::string *bytes);
