// The car cloner's program entry: finds its job list by its own file name, prints the
// banner (or the help text), and hands every complete job line to run_job.
#include "driver.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "filecopy.h"
#include "job.h"
#include "os.h"
#include "paths.h"
#include "stream.h"
#include "strings.h"
#include "version.h"
#include "worklock.h"

// The job list's name: a program base name of at most 59 UTF-16 units and ".LST".
enum { JOB_LIST_BASE_MAX = 59, JOB_LIST_NAME_SIZE = JOB_LIST_BASE_MAX * 3 + 5 };

// locate_file works in a PATH_BUFFER_SIZE buffer, which the program's path is read into.
static_assert((int)PROGRAM_PATH_SIZE >= (int)PATH_BUFFER_SIZE,
              "the program path buffer is too small");

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

// An argument as the C runtime gives it (in the ANSI code page on Windows) in UTF-8, into
// text (PROGRAM_PATH_SIZE bytes); "" when it does not fit.
static const char *argument_text(char *text, int argc, char **argv, int index)
{
    const char *given = index < argc && argv[index] ? argv[index] : "";
    int written = snprintf(text, PROGRAM_PATH_SIZE, "%s", given);
    if (written < 0 || written >= PROGRAM_PATH_SIZE ||
        os_ansi_to_utf8(text, PROGRAM_PATH_SIZE) != 0)
        text[0] = '\0';
    return text;
}

// The program's own path, made absolute: the system's word for it, else argv[0]. path holds
// PROGRAM_PATH_SIZE bytes, more than locate_file handles; it leaves a path longer than that
// handles as it is, and the system reports that path absolute already. 0, or -1 when the
// path is unknown (longer than PROGRAM_PATH_MAX units, and argv[0] no better); path then
// holds what names the job list: argv[0], or its last component when argv[0] is too long.
static int find_program_path(char *path, int argc, char **argv)
{
    if (os_program_path(path, PROGRAM_PATH_SIZE) == 0 &&
        os_utf16_length(path) <= PROGRAM_PATH_MAX) {
        locate_file(path);
        return 0;
    }
    char argument[PROGRAM_PATH_SIZE];
    const char *given = argument_text(argument, argc, argv, 0);
    int written = snprintf(path, PROGRAM_PATH_SIZE, "%s", given);
    if (written < 0 || written >= PROGRAM_PATH_SIZE || os_utf16_length(path) > PROGRAM_PATH_MAX) {
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
    list->refused = nullptr;
    // Text after a Ctrl-Z is never read, so only the bytes before it are judged.
    unsigned char head[3] = {0, 0, 0};
    int count = 0, nul = 0, c;
    while (!nul && (c = stream_getc(stream)) != EOF && c != CTRL_Z) {
        if (count < 3)
            head[count++] = (unsigned char)c;
        nul = c == 0;
    }
    if (stream_error(stream)) {
        os_print("Cannot read the job list %s, no job run\n", name);
        return -1;
    }
    int utf16 = count >= 2 &&
                ((head[0] == 0xFF && head[1] == 0xFE) || (head[0] == 0xFE && head[1] == 0xFF));
    if (nul || utf16) {
        os_print("%s is not plain text: save it as ANSI or UTF-8, no job run\n", name);
        return -1;
    }
    int mark = count == 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF;
    if (stream_seek(stream, mark ? 3 : 0, OS_SEEK_SET) != 0) {
        os_print("Cannot read the job list %s, no job run\n", name);
        return -1;
    }
    return 0;
}

// Counts the line just read as refused, its number kept for the summary.
static void refuse_line(JobList *list)
{
    list->lines_refused++;
    if (list->refused)
        add_to_line_list(list->refused, "", list->line_number);
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

// 1 when a word of a bitmap list starts a comment as other files write them: "#" or "//".
static int starts_comment(const char *word)
{
    return word[0] == '#' || (word[0] == '/' && word[1] == '/');
}

// 1 when a line, blanks at its start cut, starts as a comment of another kind of file: "//",
// "/*", "--", "::" or "'", "rem" and a blank, or ";" and a blank, which reads as a job once
// the blank is cut (";" followed by a name is the list's own leading separator).
static int starts_habit_comment(const char *text)
{
    static const char *const openers[] = {"//", "/*", "--", "::", "'"};
    for (const char *opener : openers)
        if (strncmp(text, opener, strlen(opener)) == 0)
            return 1;
    if (same_ignoring_case(text, "rem", 3) && strchr(" \t", text[3]) != nullptr)
        return 1;
    size_t separators = strspn(text, ";");
    return separators > 0 && (text[separators] == ' ' || text[separators] == '\t');
}

// 1 when a line or its bitmap lists hold a comment written by habit (a line that starts as
// starts_habit_comment says, a bitmap word that starts with "#" or "//"), having said so.
static int holds_habit_comment(const JobList *list, const char *text, const JobFields *job)
{
    int found = starts_habit_comment(text);
    const char *lists[2] = {job->old_bitmaps, job->new_bitmaps};
    char word[JOB_FIELD_SIZE];
    for (const char *next : lists)
        while (!found && *next) {
            next = get_field(word, next, sizeof word, ' ');
            found = starts_comment(word);
        }
    if (found)
        os_print("%s line %d: comments stand on lines of their own starting with #, no job run\n",
               list->name, (int)list->line_number);
    return found;
}

// Splits a line of at most JOB_LINE_MAX bytes, in UTF-8, into *job, every "/" read as "\". 1
// when it is a job; 0 for a blank line or a comment; -1 for any other line, said.
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
    if (holds_habit_comment(list, text, job))
        return -1;
    char *fields[4] = {job->old_mas, job->new_mas, job->old_bitmaps, job->new_bitmaps};
    for (char *field : fields)
        to_backslashes(field);
    const char *missing = job->old_mas[0] == '\0' ? "OLD_MAS" : "NEW_MAS";
    if (job->old_mas[0] == '\0' || job->new_mas[0] == '\0') {
        os_print("%s line %d is not a job: no %s\n", list->name, (int)list->line_number, missing);
        return -1;
    }
    // The archive tool is handed the archive names in the ANSI code page.
    const char *names[2] = {job->old_mas, job->new_mas};
    for (const char *name : names)
        if (os_ansi_length(name) < 0) {
            os_print("%s line %d: %s has no form in this system's ANSI code page, no job run\n",
                     list->name, (int)list->line_number, shown(name));
            return -1;
        }
    for (const char *name : names)
        if (tool_name_length(name) > ARCHIVE_NAME_MAX) {
            os_print("%s line %d: archive name too long (%d characters at most): %s\n", list->name,
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
            os_print("Cannot read the job list %s after line %d, the rest is not run\n", list->name,
                   (int)list->line_number - 1);
            return -1;
        }
        if (length == LINE_CUT) {
            os_print("%s line %d holds a Ctrl-Z: the list ends there, this line and the rest are "
                   "not read\n",
                   list->name, (int)list->line_number);
            refuse_line(list);
            return 0;
        }
        // Valid UTF-8 is taken as it is. Read in the ANSI code page, each byte takes up to
        // three in UTF-8, which line has room for.
        if (length <= JOB_LINE_MAX && !os_text_is_utf8(line))
            os_ansi_to_utf8(line, sizeof line);
        int split = -1;
        if (length > JOB_LINE_MAX)
            os_print("%s line %d is longer than %d characters, no job run\n", list->name,
                   (int)list->line_number, JOB_LINE_MAX);
        else
            split = split_job_line(list, line, job);
        if (split == 1)
            return 1;
        if (split == -1)
            refuse_line(list);
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

void add_to_line_list(LineList *list, const char *name, int32_t line)
{
    list->count++;
    if (list->kept == list->room) {
        int32_t room = list->room > 0 ? list->room * 2 : 16;
        void *names = realloc(list->names, (size_t)room * sizeof list->names[0]);
        if (names)
            list->names = (char(*)[ARCHIVE_NAME_SIZE])names;
        void *lines = names ? realloc(list->lines, (size_t)room * sizeof(int32_t)) : nullptr;
        if (lines)
            list->lines = (int32_t *)lines;
        if (!names || !lines)
            return;
        list->room = room;
    }
    size_t length = strnlen(name, ARCHIVE_NAME_SIZE - 1);
    memcpy(list->names[list->kept], name, length);
    list->names[list->kept][length] = '\0';
    list->lines[list->kept++] = line;
}

void free_line_list(LineList *list)
{
    free(list->names);
    free(list->lines);
    memset(list, 0, sizeof *list);
}

// Keeps job's OLD_MAS among the old archives of the lines run so far, once per spelling.
static void note_old_archive(LineList *earlier, const JobFields *job)
{
    for (int32_t k = 0; k < earlier->kept; k++)
        if (strcmp(earlier->names[k], job->old_mas) == 0)
            return;
    add_to_line_list(earlier, job->old_mas, job->line_number);
}

// 1 when job's NEW_MAS, not its own OLD_MAS, is the very file an earlier line's OLD_MAS
// names (however spelled): making it would overwrite an archive the list started from. Said.
static int loops_back(const LineList *earlier, const JobFields *job)
{
    if (os_same_file(job->old_mas, job->new_mas))
        return 0;
    for (int32_t k = 0; k < earlier->kept; k++)
        if (os_same_file(job->new_mas, earlier->names[k])) {
            os_print("%s not made: it is the old archive of line %d, which it would overwrite\n",
                   shown(job->new_mas), (int)earlier->lines[k]);
            return 1;
        }
    return 0;
}

// The jobs of a list, for the line that sums them up: how many, how many made, and those to
// redo: not made, and made with bitmap pairs left out.
struct JobTally {
    int32_t jobs, made;
    LineList not_made, left_out;
};

static void count_job(JobTally *tally, const JobFields *job, int made)
{
    tally->jobs++;
    if (made != JOB_NOT_MADE)
        tally->made++;
    if (made == JOB_NOT_MADE)
        add_to_line_list(&tally->not_made, job->new_mas, job->line_number);
    else if (made == JOB_MADE_PAIRS_LEFT_OUT)
        add_to_line_list(&tally->left_out, job->new_mas, job->line_number);
}

// Prints the entries of one list of the summary after its head: "NAME (line L)" each, or
// the bare line numbers when the entries have no name.
static void print_line_list(const char *head, const LineList *list, int named)
{
    if (list->count == 0)
        return;
    os_print("%s", head);
    for (int32_t k = 0; k < list->kept; k++) {
        const char *comma = k == 0 ? "" : ", ";
        if (named)
            os_print("%s%s (line %d)", comma, shown(list->names[k]), (int)list->lines[k]);
        else
            os_print("%s%d", comma, (int)list->lines[k]);
    }
    if (list->count > list->kept)
        os_print(" and %d more", (int)(list->count - list->kept));
}

// After a list of more than one job or refused line: "Made M of N jobs", then every job to
// redo with its line: not made, made with pairs left out; then the lines refused.
static void sum_up(const JobTally *tally, const LineList *refused)
{
    if (tally->jobs + refused->count < 2)
        return;
    os_print("Made %d of %d jobs", (int)tally->made, (int)tally->jobs);
    print_line_list("; not made: ", &tally->not_made, 1);
    char head[64];
    snprintf(head, sizeof head, "; made with pairs left out (%d): ", (int)tally->left_out.count);
    print_line_list(head, &tally->left_out, 1);
    snprintf(head, sizeof head, "; lines refused (%d): ", (int)refused->count);
    print_line_list(head, refused, 0);
    os_print("\n");
}

// Runs every job of the list. Result: the exit status.
static int run_job_list(Stream *stream, const char *name)
{
    JobList list;
    int result = start_job_list(&list, stream, name), not_all_done = 0;
    JobFields job;
    LineList earlier, refused;
    memset(&earlier, 0, sizeof earlier);
    memset(&refused, 0, sizeof refused);
    list.refused = &refused;
    JobTally tally;
    memset(&tally, 0, sizeof tally);
    while (result == 0) {
        os_change_directory(work_folder);
        int got = next_job(&list, &job);
        if (got != 1) {
            result = got;
            break;
        }
        os_print("Creating '%s' from '%s' ... \n", shown(job.new_mas), shown(job.old_mas));
        int made = JOB_NOT_MADE;
        if (loops_back(&earlier, &job) ||
            run_job_telling(job.old_mas, job.new_mas, job.old_bitmaps, job.new_bitmaps, &made) != 0)
            not_all_done = 1;
        note_old_archive(&earlier, &job);
        count_job(&tally, &job, made);
    }
    stream_close(stream);
    os_change_directory(work_folder);
    clear_left_scratch_folder();
    sum_up(&tally, &refused);
    free_line_list(&earlier);
    free_line_list(&refused);
    free_line_list(&tally.not_made);
    free_line_list(&tally.left_out);
    return exit_status_of(result, 0, not_all_done || list.lines_refused > 0);
}

// 1 when no job can run, having said why: the program's folder is unknown or longer than a
// job accepts, or MASadelic.exe is not in the current folder. Else sets the work folder.
static int start_refused(int path_known, char *path, const char *given)
{
    if (!path_known) {
        // The system's path is the one too long; argv[0] may be a short relative name.
        char full[OS_PATH_SIZE];
        int known = os_program_path(full, sizeof full) == 0;
        os_print("Program path too long (%d characters at most): %s\n", PROGRAM_PATH_MAX,
                 shown(known ? full : given));
        return 1;
    }
    char folder[PROGRAM_PATH_SIZE];
    directory_of(folder, path);
    if (os_utf16_length(folder) > WORK_FOLDER_MAX || strlen(folder) >= sizeof work_folder) {
        os_print("Work folder too long (%d characters at most): %s\n", WORK_FOLDER_MAX,
               shown(folder));
        return 1;
    }
    memcpy(work_folder, folder, strlen(folder) + 1);
    if (!os_same_file(".", work_folder))
        os_print("Jobs run in the program's folder: %s\n", shown(work_folder));
    if (!file_exists("MASadelic.exe")) {
        os_print("MASadelic.exe required\n");
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
    char argument[PROGRAM_PATH_SIZE];
    char folder[OS_PATH_SIZE];
    if (os_get_current_directory(folder, sizeof folder) != 0)
        snprintf(folder, sizeof folder, "%s", "the current folder");
    os_print("%s reads no arguments, %s%s ignored: it reads the job list %s.LST in %s\n",
             shown(base), shown(argument_text(argument, argc, argv, 1)),
             argc > 2 ? " and the others" : "", shown(base), shown(folder));
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
    if (written < 0 || (size_t)written >= sizeof job_list ||
        os_utf16_length(base) > JOB_LIST_BASE_MAX)
        os_print("Program name too long for its job list (%d characters at most): %s\n",
                 JOB_LIST_BASE_MAX, shown(base));
    else if (case_twin_refused(job_list))
        return -1;
    else
        list = stream_open(job_list, "rb");
    if (!list) {
        print_lines(help_lines);
        return -1;
    }
    // The list's name as every line shows it.
    char job_list_shown[2 * JOB_LIST_NAME_SIZE];
    visible_text(job_list_shown, sizeof job_list_shown, job_list);
    os_print("processing job file: %s\n\n", job_list_shown);
    char argument[PROGRAM_PATH_SIZE];
    if (start_refused(path_known, path, argument_text(argument, argc, argv, 0))) {
        stream_close(list);
        return -1;
    }
    if (take_work_lock() != 0) {
        stream_close(list);
        return exit_status_of(0, 1, 0);
    }
    int status = run_job_list(list, job_list_shown);
    release_work_lock();
    return status;
}
