// Fuzz target for Zandrel's job lines: a fuzzed job list read and split line by line as the
// driver does (text mode, pieces of at most 254 characters, the line end cut, four fields
// with the limits 32, 32, 255 and 255), then the name tables and prefixes of each job.
//
// Input: the whole job list.
#include <stdlib.h>
#include <string.h>

#include <string>

#include "driver.h"
#include "fuzz_support.h"
#include "job.h"
#include "os.h"
#include "stream.h"
#include "strings.h"

enum { LINE_SIZE = 255, ARCHIVE_FIELD = 32, BITMAP_FIELD = 255, PREFIX_SIZE = 5 };

static char *field(const char **next, int32_t size)
{
    char *dest = static_cast<char *>(malloc(size));
    *next = get_field(dest, *next, size, ';');
    fuzz_check(is_terminated_within(dest, size), "a job field is not terminated");
    fuzz_check(strchr(dest, ';') == nullptr, "a job field holds the separator");
    return dest;
}

static void check_prefixes(const char *archive)
{
    char *first = static_cast<char *>(malloc(PREFIX_SIZE));
    char *second = static_cast<char *>(malloc(PREFIX_SIZE));
    form_prefixes(archive, first, second);
    fuzz_check(is_terminated_within(first, PREFIX_SIZE), "the first prefix is not terminated");
    fuzz_check(is_terminated_within(second, PREFIX_SIZE), "the second prefix is not terminated");
    for (const char *c = first; *c; c++)
        fuzz_check(*c < 'a' || *c > 'z', "the first prefix holds a lower-case letter");
    for (const char *c = second; *c; c++)
        fuzz_check(*c < 'a' || *c > 'z', "the second prefix holds a lower-case letter");
    free(first);
    free(second);
}

static void check_tables(const char *old_list, const char *new_list)
{
    typedef char Table[NAME_TABLE_ENTRIES][NAME_SIZE];
    Table *old_names = static_cast<Table *>(malloc(sizeof(Table)));
    Table *new_names = static_cast<Table *>(malloc(sizeof(Table)));
    int count = fill_name_tables(old_list, new_list, *old_names, *new_names);
    fuzz_check(count >= 0 && count < NAME_TABLE_ENTRIES, "fill_name_tables took too many pairs");
    for (int k = 0; k < NAME_TABLE_ENTRIES; k++) {
        fuzz_check(is_terminated_within((*old_names)[k], NAME_SIZE), "an old name overruns");
        fuzz_check(is_terminated_within((*new_names)[k], NAME_SIZE), "a new name overruns");
        bool taken = k < count;
        fuzz_check(((*old_names)[k][0] != '\0') == taken, "the old table ends elsewhere");
        fuzz_check(taken || (*new_names)[k][0] == '\0', "a new name after the last pair");
        fuzz_check(strchr((*old_names)[k], ' ') == nullptr, "an old name holds a blank");
        fuzz_check(strchr((*new_names)[k], ' ') == nullptr, "a new name holds a blank");
    }
    free(old_names);
    free(new_names);
}

// One line as the driver's run_job_line splits it, without running the job.
static void split_job_line(char *line)
{
    drop_line_end(line);
    const char *next = line;
    char *old_mas = field(&next, ARCHIVE_FIELD);
    char *new_mas = field(&next, ARCHIVE_FIELD);
    char *old_bitmaps = field(&next, BITMAP_FIELD);
    char *new_bitmaps = field(&next, BITMAP_FIELD);
    fuzz_check(next >= line && next <= line + strlen(line), "get_field left the line");
    if (old_mas[0] != '\0' && new_mas[0] != '\0') {
        check_prefixes(old_mas);
        check_prefixes(new_mas);
        check_tables(old_bitmaps, new_bitmaps);
    }
    free(old_mas);
    free(new_mas);
    free(old_bitmaps);
    free(new_bitmaps);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string path = scratch_folder() + "\\JOBS.LST";
    fuzz_check(write_bytes(path, std::string(reinterpret_cast<const char *>(data), size)),
               "cannot write the job list");
    Stream *list = stream_open(path.c_str(), "r");
    fuzz_check(list != nullptr, "cannot open the job list");
    char *line = static_cast<char *>(malloc(LINE_SIZE));
    while (!stream_eof(list))
        if (stream_gets(line, LINE_SIZE, list))
            split_job_line(line);
    free(line);
    stream_close(list);
    os_delete_file(path.c_str());
    return 0;
}
