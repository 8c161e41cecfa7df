// Fuzz target for Zandrel's job lines: a fuzzed job list read as the driver reads it
// (start_job_list, then next_job until the end), each job's archive names put through the
// check that stands before the archive tool, and the name tables and prefixes of each job.
// Properties: a physical line of the list starts at most one job, every archive name of a job
// and every name of its tables has a form in the ANSI code page that fits the archive tool's
// limit, and no archive name that passes the check holds a blank, a quote or a character a
// file name cannot hold. Every line refused is kept for the summary once, in order, with a
// line number the list has and no job started on it.
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
    LeftOut left_out = {0, ""};
    int count = fill_name_tables(old_list, new_list, *old_names, *new_names, &left_out);
    fuzz_check(is_terminated_within(left_out.names, sizeof left_out.names),
               "the names left out overrun");
    fuzz_check(count >= 0 && count < NAME_TABLE_ENTRIES, "fill_name_tables took too many pairs");
    for (int k = 0; k < NAME_TABLE_ENTRIES; k++) {
        fuzz_check(is_terminated_within((*old_names)[k], NAME_SIZE), "an old name overruns");
        fuzz_check(is_terminated_within((*new_names)[k], NAME_SIZE), "a new name overruns");
        bool taken = k < count;
        fuzz_check(((*old_names)[k][0] != '\0') == taken, "the old table ends elsewhere");
        fuzz_check(taken || (*new_names)[k][0] == '\0', "a new name after the last pair");
        fuzz_check(strchr((*old_names)[k], ' ') == nullptr, "an old name holds a blank");
        fuzz_check(strchr((*new_names)[k], ' ') == nullptr, "a new name holds a blank");
        fuzz_check(tool_name_length((*old_names)[k]) <= NAME_MAX, "an old name is too long");
        fuzz_check(tool_name_length((*new_names)[k]) <= NAME_MAX, "a new name is too long");
    }
    free(old_names);
    free(new_names);
}

// The archive tool's command line takes the name as it stands: no blank or tab, no quote,
// nothing Windows refuses in a file name, and a colon only as a drive's.
static bool fits_command_line(const char *name)
{
    for (size_t i = 0; name[i] != '\0'; i++) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (c < 32 || c == ' ' || c == '"' || c == '<' || c == '>' || c == '|' || c == '?' ||
            c == '*')
            return false;
        if (c == ':' && i != 1)
            return false;
    }
    return name[0] != '\0';
}

static void check_job(const JobFields *job, int32_t previous_line, int32_t physical_lines)
{
    fuzz_check(job->line_number > previous_line, "one physical line started two jobs");
    fuzz_check(job->line_number <= physical_lines, "a job on a line the list does not have");
    for (const char *name : {job->old_mas, job->new_mas}) {
        fuzz_check(is_terminated_within(name, ARCHIVE_NAME_SIZE), "an archive name overruns");
        fuzz_check(os_ansi_length(name) >= 0, "an archive name has no ANSI form");
        fuzz_check(tool_name_length(name) <= ARCHIVE_NAME_MAX, "an archive name is too long");
    }
    if (!archive_names_refused(job->old_mas, job->new_mas)) {
        fuzz_check(fits_command_line(job->old_mas), "OLD_MAS reaches the tool unfit");
        fuzz_check(fits_command_line(job->new_mas), "NEW_MAS reaches the tool unfit");
    }
    check_prefixes(job->old_mas);
    check_prefixes(job->new_mas);
    check_tables(job->old_bitmaps, job->new_bitmaps);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string bytes(reinterpret_cast<const char *>(data), size);
    std::string path = scratch_folder() + "\\JOBS.LST";
    fuzz_check(write_bytes(path, bytes), "cannot write the job list");
    Stream *stream = stream_open(path.c_str(), "rb");
    fuzz_check(stream != nullptr, "cannot open the job list");
    int32_t physical_lines = 1; // LF, CR LF and a lone CR each end one
    for (size_t i = 0; i < bytes.size(); i++)
        physical_lines += bytes[i] == '\n' ? (i == 0 || bytes[i - 1] != '\r') : bytes[i] == '\r';
    JobList list;
    JobFields *job = static_cast<JobFields *>(malloc(sizeof(JobFields)));
    int32_t previous_line = 0;
    LineList refused;
    memset(&refused, 0, sizeof refused);
    if (start_job_list(&list, stream, "JOBS.LST") == 0) {
        list.refused = &refused;
        while (next_job(&list, job) == 1) {
            check_job(job, previous_line, physical_lines);
            for (int32_t k = 0; k < refused.kept; k++)
                fuzz_check(refused.lines[k] != job->line_number, "a refused line started a job");
            previous_line = job->line_number;
        }
        fuzz_check(refused.count == list.lines_refused, "a refused line is not kept");
        for (int32_t k = 0; k < refused.kept; k++) {
            fuzz_check(refused.lines[k] >= 1 && refused.lines[k] <= physical_lines,
                       "a refused line the list does not have");
            fuzz_check(k == 0 || refused.lines[k] > refused.lines[k - 1],
                       "refused lines out of order");
        }
    }
    free_line_list(&refused);
    free(job);
    stream_close(stream);
    os_delete_file(path.c_str());
    return 0;
}
