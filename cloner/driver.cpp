// The car cloner's program entry: finds its job list by its own file name, prints the
// banner (or the help text), and hands every complete job line to run_job.
#include "driver.h"

#include <stdio.h>
#include <string.h>

#include "filecopy.h"
#include "job.h"
#include "os.h"
#include "paths.h"
#include "stream.h"
#include "strings.h"
#include "version.h"
#include "worklock.h"

enum { JOB_LIST_NAME_SIZE = 64 };

const char *const banner_lines[] = {
    "", "Zandrel - makes a new car from an existing car archive",
    "", CARTOOLS_RELEASE_LINE,
    "", nullptr,
};

const char *const help_lines[] = {
    "This program use MASadelic by Velkor.  'MASadelic.exe' must be located on",
    "the same folder than Zandrel. Zandrel use the job list 'Zandrel.lst' .",
    "",
    "Syntax of a job:",
    "",
    "        [OLD_MAS];[NEW_MAS];[BMP1 BMP2];[NEW_BMP1 NEW_BMP2];[options]",
    "          ex: 1gt500.mas;2gt500.mas;1SHGT500;bmp\\2SHGT500;d",
    "",
    "Options available:",
    "    d   Delete all new BMPs listed",
    "",
    "You can rename Zandrel.exe and Zandrel.lst, but with the same body: ",
    "For example Setup.exe and Setup.lst",
    "",
    nullptr,
};

static int is_rooted(const char *path)
{
    return path[0] == '\\' || path[0] == '/' || (path[0] != '\0' && path[1] == ':');
}

static const char *last_component(const char *path)
{
    const char *name = path;
    for (const char *p = path; *p; p++)
        if (*p == '\\' || *p == '/')
            name = p + 1;
    return name;
}

// The program's own path, made absolute: the system's word for it, else argv[0]. path holds
// PROGRAM_PATH_SIZE bytes, more than locate_file handles; it leaves a path of 256 to 259
// characters as it is, and the system reports that path absolute already. 0, or -1 when the
// path is unknown (longer than the system reports, and argv[0] no better); path then holds
// what names the job list: argv[0], or its last component when argv[0] is too long.
static int find_program_path(char *path, int argc, char **argv)
{
    if (os_program_path(path, PROGRAM_PATH_SIZE) == 0) {
        locate_file(path);
        return 0;
    }
    const char *given = argc > 0 && argv[0] ? argv[0] : "";
    int written = snprintf(path, PROGRAM_PATH_SIZE, "%s", given);
    if (written < 0 || written >= PROGRAM_PATH_SIZE) {
        written = snprintf(path, PROGRAM_PATH_SIZE, "%s", last_component(given));
        if (written < 0 || written >= PROGRAM_PATH_SIZE)
            path[0] = '\0';
        return -1;
    }
    // An empty name would be located as the current folder itself.
    if (path[0] == '\0')
        return -1;
    if (locate_file(path) || is_rooted(path))
        return 0;
    return -1;
}

enum { CTRL_Z = 26 };
enum { LINE_END = -1, LINE_READ_ERROR = -2, LINE_CUT = -3 };

int start_job_list(JobList *list, Stream *stream, const char *name)
{
    list->stream = stream;
    list->name = name;
    list->line_number = 0;
    list->ended = 0;
    list->after_cr = 0;
    list->lines_refused = 0;
    // Text after a Ctrl-Z is never read, so only the bytes before it are judged.
    unsigned char head[3] = {0, 0, 0};
    int count = 0, nul = 0, c;
    while (!nul && (c = stream_getc(stream)) != EOF && c != CTRL_Z) {
        if (count < 3)
            head[count++] = (unsigned char)c;
        nul = c == 0;
    }
    if (stream_error(stream)) {
        printf("Cannot read the job list %s, no job run\n", name);
        return -1;
    }
    int utf16 = count >= 2 &&
                ((head[0] == 0xFF && head[1] == 0xFE) || (head[0] == 0xFE && head[1] == 0xFF));
    if (nul || utf16) {
        printf("%s is not plain text: save it as ANSI or UTF-8, no job run\n", name);
        return -1;
    }
    int mark = count == 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF;
    if (stream_seek(stream, mark ? 3 : 0, OS_SEEK_SET) != 0) {
        printf("Cannot read the job list %s, no job run\n", name);
        return -1;
    }
    return 0;
}

// After a Ctrl-Z: 1 when anything but more Ctrl-Z bytes follows, 0 when nothing does,
// LINE_READ_ERROR when the rest cannot be read.
static int text_follows(Stream *stream)
{
    int c;
    while ((c = stream_getc(stream)) == CTRL_Z) {
    }
    if (c == EOF)
        return stream_error(stream) ? LINE_READ_ERROR : 0;
    return 1;
}

// Reads one physical line into line (JOB_FIELD_SIZE bytes, terminated), without its line
// end: LF, CR LF or a lone CR, as an editor shows the lines. Result: the line's length,
// JOB_LINE_MAX + 1 for any longer line (whose first JOB_LINE_MAX characters are kept); LINE_END
// when nothing was left; LINE_CUT for a line that a Ctrl-Z with text after it cut; LINE_READ_ERROR.
static int32_t read_physical_line(JobList *list, char *line)
{
    int32_t length = 0;
    int any = 0;
    for (;;) {
        int c = stream_getc(list->stream);
        if (c == EOF) {
            if (stream_error(list->stream))
                return LINE_READ_ERROR;
            list->ended = 1;
            break;
        }
        // The LF of a CR LF whose CR ended the line before.
        int lf_of_cr = list->after_cr && c == '\n';
        list->after_cr = 0;
        if (lf_of_cr)
            continue;
        any = 1;
        if (c == '\n')
            break;
        if (c == '\r') {
            list->after_cr = 1;
            break;
        }
        if (c == CTRL_Z) {
            list->ended = 1;
            int follows = text_follows(list->stream);
            if (follows != 0)
                return follows == 1 ? LINE_CUT : follows;
            break;
        }
        if (length < JOB_LINE_MAX)
            line[length] = (char)c;
        if (length <= JOB_LINE_MAX)
            length++;
    }
    line[length < JOB_LINE_MAX ? length : JOB_LINE_MAX] = '\0';
    return any ? length : LINE_END;
}

// Cuts blanks and tabs at both ends of field; in a bitmap list a tab then parts names as a
// blank does.
static void trim_field(char *field, int tabs_to_blanks)
{
    size_t start = strspn(field, " \t");
    size_t length = strlen(field + start);
    memmove(field, field + start, length + 1);
    while (length > 0 && (field[length - 1] == ' ' || field[length - 1] == '\t'))
        field[--length] = '\0';
    for (char *c = field; tabs_to_blanks && *c; c++)
        if (*c == '\t')
            *c = ' ';
}

// Splits a line of at most JOB_LINE_MAX characters into *job, every "/" read as "\". 1 when
// it is a job; 0 for a blank line or a comment; -1 for any other line, said.
static int split_job_line(const JobList *list, const char *line, JobFields *job)
{
    const char *text = line + strspn(line, " \t");
    if (*text == '\0' || *text == '#')
        return 0;
    const char *next = get_field(job->old_mas, line, JOB_FIELD_SIZE, ';');
    next = get_field(job->new_mas, next, JOB_FIELD_SIZE, ';');
    next = get_field(job->old_bitmaps, next, JOB_FIELD_SIZE, ';');
    get_field(job->new_bitmaps, next, JOB_FIELD_SIZE, ';');
    trim_field(job->old_mas, 0);
    trim_field(job->new_mas, 0);
    trim_field(job->old_bitmaps, 1);
    trim_field(job->new_bitmaps, 1);
    char *fields[4] = {job->old_mas, job->new_mas, job->old_bitmaps, job->new_bitmaps};
    for (char *field : fields)
        to_backslashes(field);
    const char *missing = job->old_mas[0] == '\0' ? "OLD_MAS" : "NEW_MAS";
    if (job->old_mas[0] == '\0' || job->new_mas[0] == '\0') {
        printf("%s line %d is not a job: no %s\n", list->name, (int)list->line_number, missing);
        return -1;
    }
    const char *names[2] = {job->old_mas, job->new_mas};
    for (const char *name : names)
        if (strlen(name) > ARCHIVE_NAME_MAX) {
            printf("%s line %d: archive name too long (%d characters at most): %s\n", list->name,
                   (int)list->line_number, ARCHIVE_NAME_MAX, shown(name));
            return -1;
        }
    job->line_number = list->line_number;
    return 1;
}

int next_job(JobList *list, JobFields *job)
{
    char line[JOB_FIELD_SIZE];
    while (!list->ended) {
        int32_t length = read_physical_line(list, line);
        if (length == LINE_END)
            return 0;
        list->line_number++;
        if (length == LINE_READ_ERROR) {
            printf("Cannot read the job list %s after line %d, the rest is not run\n", list->name,
                   (int)list->line_number - 1);
            return -1;
        }
        if (length == LINE_CUT) {
            printf("%s line %d holds a Ctrl-Z: the list ends there, this line and the rest are "
                   "not read\n",
                   list->name, (int)list->line_number);
            list->lines_refused++;
            return 0;
        }
        int split = -1;
        if (length > JOB_LINE_MAX)
            printf("%s line %d is longer than %d characters, no job run\n", list->name,
                   (int)list->line_number, JOB_LINE_MAX);
        else
            split = split_job_line(list, line, job);
        if (split == 1)
            return 1;
        if (split == -1)
            list->lines_refused++;
    }
    return 0;
}

// The exit status, decided here only: -1 when the job list could not be read to its end
// (list_result -1); 1 when the work folder's lock was refused (another Zandrel works there,
// or the lock file cannot be made), or when any job or line did not do all it asked; else 0.
static int exit_status_of(int list_result, int lock_refused, int not_all_done)
{
    if (list_result == -1)
        return -1;
    return lock_refused || not_all_done ? 1 : 0;
}

// Runs every job of the list. Result: the exit status.
static int run_job_list(Stream *stream, const char *name)
{
    JobList list;
    int result = start_job_list(&list, stream, name), not_all_done = 0;
    JobFields job;
    while (result == 0) {
        os_change_directory(work_folder);
        int got = next_job(&list, &job);
        if (got != 1) {
            result = got;
            break;
        }
        printf("Creating '%s' from '%s' ... \n", shown(job.new_mas), shown(job.old_mas));
        if (run_job(job.old_mas, job.new_mas, job.old_bitmaps, job.new_bitmaps) != 0)
            not_all_done = 1;
    }
    stream_close(stream);
    return exit_status_of(result, 0, not_all_done || list.lines_refused > 0);
}

// 1 when no job can run, having said why: the program's folder is unknown or longer than a
// job accepts, or MASadelic.exe is not in the current folder. Else sets the work folder.
static int start_refused(int path_known, char *path, const char *given)
{
    if (!path_known) {
        printf("Program path too long (259 characters at most): %s\n", given);
        return 1;
    }
    char folder[PROGRAM_PATH_SIZE];
    directory_of(folder, path);
    if (strlen(folder) > WORK_FOLDER_MAX) {
        printf("Work folder too long (%d characters at most): %s\n", WORK_FOLDER_MAX, folder);
        return 1;
    }
    memcpy(work_folder, folder, strlen(folder) + 1);
    if (!os_same_file(".", work_folder))
        printf("Jobs run in the program's folder: %s\n", work_folder);
    if (!file_exists("MASadelic.exe")) {
        printf("MASadelic.exe required\n");
        return 1;
    }
    return 0;
}

// A job list dropped on the program's icon arrives as an argument: says in one line that
// arguments are not read, and which job list is read instead, and where.
static void say_arguments_ignored(int argc, char **argv, const char *base)
{
    if (argc < 2)
        return;
    char folder[PATH_BUFFER_SIZE];
    if (os_get_current_directory(folder, sizeof folder) != 0)
        snprintf(folder, sizeof folder, "%s", "the current folder");
    printf("%s reads no arguments, %s%s ignored: it reads the job list %s.LST in %s\n", base,
           argv[1], argc > 2 ? " and the others" : "", base, folder);
}

int zandrel_main(int argc, char **argv)
{
    char path[PROGRAM_PATH_SIZE], base[PROGRAM_PATH_SIZE], job_list[JOB_LIST_NAME_SIZE];
    int path_known = find_program_path(path, argc, argv) == 0;
    base_name_of(base, path);
    print_lines(banner_lines);
    say_arguments_ignored(argc, argv, base);
    int written = snprintf(job_list, sizeof job_list, "%s.LST", base);
    Stream *list = nullptr;
    if (written >= 0 && (size_t)written < sizeof job_list)
        list = stream_open(job_list, "rb");
    else
        printf("Program name too long for its job list (59 characters at most): %s\n", base);
    if (!list) {
        print_lines(help_lines);
        return -1;
    }
    printf("processing job file: %s\n\n", job_list);
    if (start_refused(path_known, path, argc > 0 && argv[0] ? argv[0] : "")) {
        stream_close(list);
        return -1;
    }
    if (take_work_lock() != 0) {
        stream_close(list);
        return exit_status_of(0, 1, 0);
    }
    int status = run_job_list(list, job_list);
    release_work_lock();
    return status;
}
