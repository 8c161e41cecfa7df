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

enum { JOB_LIST_NAME_SIZE = 64, LINE_SIZE = 255 };
enum { ARCHIVE_FIELD_SIZE = 32, BITMAP_FIELD_SIZE = 255 };

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

void drop_line_end(char *line)
{
    size_t length = strlen(line);
    if (length > 0 && line[length - 1] == '\n')
        line[--length] = '\0';
    if (length > 0 && line[length - 1] == '\r')
        line[--length] = '\0';
}

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

// Splits one job line and runs it when it names both archives.
static void run_job_line(char *line)
{
    char old_mas[ARCHIVE_FIELD_SIZE], new_mas[ARCHIVE_FIELD_SIZE];
    char old_bitmaps[BITMAP_FIELD_SIZE], new_bitmaps[BITMAP_FIELD_SIZE];
    drop_line_end(line);
    const char *next = get_field(old_mas, line, ARCHIVE_FIELD_SIZE, ';');
    next = get_field(new_mas, next, ARCHIVE_FIELD_SIZE, ';');
    next = get_field(old_bitmaps, next, BITMAP_FIELD_SIZE, ';');
    get_field(new_bitmaps, next, BITMAP_FIELD_SIZE, ';');
    if (old_mas[0] == '\0' || new_mas[0] == '\0')
        return;
    printf("Creating '%s' from '%s' ... \n", new_mas, old_mas);
    run_job(old_mas, new_mas, old_bitmaps, new_bitmaps);
}

static int run_job_list(Stream *list)
{
    char line[LINE_SIZE];
    while (!stream_eof(list)) {
        os_change_directory(work_folder);
        if (stream_gets(line, LINE_SIZE, list))
            run_job_line(line);
    }
    stream_close(list);
    return 0;
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
    if (!file_exists("MASadelic.exe")) {
        printf("MASadelic.exe required\n");
        return 1;
    }
    return 0;
}

int zandrel_main(int argc, char **argv)
{
    char path[PROGRAM_PATH_SIZE], base[PROGRAM_PATH_SIZE], job_list[JOB_LIST_NAME_SIZE];
    int path_known = find_program_path(path, argc, argv) == 0;
    base_name_of(base, path);
    print_lines(banner_lines);
    int written = snprintf(job_list, sizeof job_list, "%s.LST", base);
    Stream *list = nullptr;
    if (written >= 0 && (size_t)written < sizeof job_list)
        list = stream_open(job_list, "r");
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
    return run_job_list(list);
}
