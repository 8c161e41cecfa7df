// Fuzz target for the path routines: taking a path apart, making it absolute, normalising
// separators and searching a fuzzed PATH. Every result must stay terminated within the
// buffer the header gives it, and every pointer result must point into the caller's path;
// a name taken from a UTF-8 path starts at a whole character, and an absolute path made has
// at most PATH_UNITS_MAX UTF-16 units.
//
// Input: flags (bit 0: the root is current instead of a scratch folder), then NUL-separated
// texts: the path, the PATH value.
#include <stdlib.h>
#include <string.h>

#include <string>

#include "fuzz_support.h"
#include "os.h"
#include "paths.h"

// A heap copy of text in a buffer of exactly size bytes (at least the text and its NUL).
static char *copy_of(const std::string &text, size_t size)
{
    char *buffer = static_cast<char *>(malloc(size));
    memset(buffer, 'X', size);
    memcpy(buffer, text.c_str(), text.size() + 1);
    return buffer;
}

static bool points_into(const char *result, const char *buffer, size_t length)
{
    return result >= buffer && result <= buffer + length;
}

static void check_taking_apart(const std::string &path)
{
    size_t room = path.size() + 1;
    char *copy = copy_of(path, room);
    char *name = file_name_of(copy);
    fuzz_check(points_into(name, copy, strlen(copy)), "file_name_of points outside its path");
    fuzz_check(strchr(name, '\\') == nullptr, "file_name_of's name holds a backslash");
    if (os_text_is_utf8(path.c_str()))
        fuzz_check((static_cast<unsigned char>(name[0]) & 0xC0) != 0x80,
                   "file_name_of's name starts inside a UTF-8 character");
    free(copy);

    copy = copy_of(path, room);
    char *extension = extension_of(copy);
    fuzz_check(points_into(extension, copy, strlen(copy)), "extension_of points outside");
    fuzz_check(strchr(extension, '\\') == nullptr, "extension_of's text holds a backslash");
    free(copy);

    copy = copy_of(path, room);
    char *out = static_cast<char *>(malloc(room < 2 ? 2 : room));
    fuzz_check(directory_of(out, copy) == out, "directory_of gave another buffer");
    fuzz_check(out[0] != '\0', "directory_of gave an empty text");
    free(out);
    free(copy);

    copy = copy_of(path, room);
    out = static_cast<char *>(malloc(room));
    fuzz_check(base_name_of(out, copy) == out, "base_name_of gave another buffer");
    fuzz_check(strchr(out, '\\') == nullptr, "base_name_of's text holds a backslash");
    free(out);
    free(copy);

    copy = copy_of(path, room);
    char *directory = static_cast<char *>(malloc(room));
    char *base = static_cast<char *>(malloc(room));
    char *ext = static_cast<char *>(malloc(room));
    fuzz_check(split_path(copy, directory, base, ext) == 0, "split_path gave no 0");
    fuzz_check(strlen(directory) + strlen(base) + strlen(ext) <= path.size(),
               "split_path's parts are longer than the path");
    free(directory);
    free(base);
    free(ext);
    free(copy);
}

static void check_make_absolute(const std::string &path)
{
    char *out = static_cast<char *>(malloc(PATH_BUFFER_SIZE));
    memset(out, 'X', PATH_BUFFER_SIZE);
    char *result = make_absolute_path(out, path.c_str());
    fuzz_check(is_terminated_within(out, PATH_BUFFER_SIZE), "make_absolute_path overran out");
    fuzz_check(result == out || (result == nullptr && out[0] == '\0'),
               "make_absolute_path's result and out disagree");
    fuzz_check(result == nullptr || path_fits(out), "make_absolute_path's path is too long");
    bool rooted = path[0] == '/' || (path.size() > 2 && path[1] == ':' && path[2] == '\\');
    if (rooted && path_fits(path.c_str()))
        fuzz_check(result == out && path == out, "make_absolute_path refused a rooted path");
    free(out);
}

static void check_normalize(const std::string &path)
{
    char *copy = copy_of(path, path.size() + 1);
    fuzz_check(normalize_separators(copy) == copy, "normalize_separators gave another buffer");
    fuzz_check(strchr(copy, '/') == nullptr, "normalize_separators left a slash");
    fuzz_check(strlen(copy) + 1 >= path.size(), "normalize_separators dropped more than one");
    free(copy);
}

// search_path_list and locate_file on a PATH_BUFFER_SIZE buffer of the path.
static void check_search(const std::string &path)
{
    if (path.size() >= PATH_BUFFER_SIZE)
        return;
    char *buffer = copy_of(path, PATH_BUFFER_SIZE);
    char *result = search_path_list(buffer);
    fuzz_check(is_terminated_within(buffer, PATH_BUFFER_SIZE), "search_path_list overran");
    fuzz_check(result == nullptr || (result == buffer && os_exists(buffer)),
               "search_path_list gave a path that names nothing");
    free(buffer);

    buffer = copy_of(path, PATH_BUFFER_SIZE);
    result = locate_file(buffer);
    fuzz_check(is_terminated_within(buffer, PATH_BUFFER_SIZE), "locate_file overran");
    fuzz_check(result == nullptr ? path == buffer : result == buffer && os_exists(buffer),
               "locate_file's result and buffer disagree");
    free(buffer);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input = {data, size};
    uint8_t flags = take_byte(&input);
    std::string path = take_text(&input, 1000);
    std::string path_list = take_text(&input, 1000);
    const std::string &folder = scratch_folder();
    // libFuzzer names its corpus and artifacts relative to the folder it started in.
    char previous[PATH_BUFFER_SIZE];
    fuzz_check(os_get_current_directory(previous, sizeof previous) == 0,
               "cannot read the current folder");
    if ((flags & 1) == 0 || os_change_directory("\\") != 0)
        os_change_directory(folder.c_str());
    os_set_environment("PATH", path_list.c_str());

    check_taking_apart(path);
    check_make_absolute(path);
    check_normalize(path);
    check_search(path);
    os_change_directory(previous);
    return 0;
}
