// The car cloner's entry: banner, job list, and one job per line.
#pragma once

#include <stdint.h>

#include "workfolder.h"

// The program's own path as the system reports it: at most 259 UTF-16 units (MAX_PATH), up
// to three bytes each in UTF-8, and the NUL.
enum { PROGRAM_PATH_MAX = 259, PROGRAM_PATH_SIZE = PROGRAM_PATH_MAX * 3 + 1 };

// The five banner lines and the fourteen help lines, each list ended by a null pointer.
extern const char *const banner_lines[];
extern const char *const help_lines[];

struct Stream;

// Lines of the job list kept for the summary, each with its number and an archive name (""
// for none): grows on the heap as the list goes on; free it with free_line_list. count
// counts every line added, kept counts those stored (fewer only when memory ran out).
struct LineList {
    char (*names)[ARCHIVE_NAME_SIZE];
    int32_t *lines;
    int32_t count, kept, room;
};

// Adds line (and name, cut to ARCHIVE_NAME_SIZE - 1 bytes) to *list, room allowing.
void add_to_line_list(LineList *list, const char *name, int32_t line);
void free_line_list(LineList *list);

// A job line holds at most 254 bytes as the file holds them, and so does each of its fields;
// a line read in the ANSI code page takes up to three bytes for each in UTF-8.
enum { JOB_LINE_MAX = 254, JOB_FIELD_SIZE = JOB_LINE_MAX * 3 + 1 };

// The job list while it is read: a stream opened in binary, its name as printed, and the
// number of the last physical line read (lines end at LF, CR LF or a lone CR).
struct JobList {
    Stream *stream;
    const char *name;
    int32_t line_number;
    int8_t ended;          // the end of the list was met: its last byte, or a Ctrl-Z
    int8_t after_cr;       // the last line ended at a CR, whose LF may follow
    int32_t lines_refused; // lines that are no job and not blank or a comment, each said
    LineList *refused;     // when not null, gets the number of each line refused
};

// One job of the list: its line and its four fields in UTF-8, blanks and tabs cut at both
// ends and tabs in the bitmap lists turned into blanks. The archive names have a form in the
// ANSI code page, of 1 to ARCHIVE_NAME_MAX bytes.
struct JobFields {
    int32_t line_number;
    char old_mas[JOB_FIELD_SIZE], new_mas[JOB_FIELD_SIZE];
    char old_bitmaps[JOB_FIELD_SIZE], new_bitmaps[JOB_FIELD_SIZE];
};

// Checks that the job list (stream, opened "rb") is plain text, ANSI or UTF-8 (a UTF-8 byte
// order mark is skipped), up to its first Ctrl-Z: not UTF-16, no NUL byte. 0 with *list
// ready at its first line (list->refused null); -1 when no job may run, having said why (not
// plain text, or a read error).
int start_job_list(JobList *list, Stream *stream, const char *name);

// Reads lines up to the next job and fills *job. A line that is well-formed UTF-8 is taken as
// it is, any other is read in the ANSI code page and converted to UTF-8. Empty and blank lines
// and comments (first character other than a blank or tab "#") are passed silently; every
// other line that is no job gets one line naming it and why: a comment as other files write
// them (";" and a blank, "//", "::", "rem"...), longer than 254 bytes, no OLD_MAS
// or NEW_MAS, an archive name with no form in the ANSI code page or longer than
// ARCHIVE_NAME_MAX bytes in it. A Ctrl-Z ends the list; when anything but more Ctrl-Z
// bytes follows it, that is said and the line holding it runs no job. Each line said is
// counted in list->lines_refused and added to list->refused. Result: 1 for a job,
// 0 at the end of the list, -1 on a read error (said).
int next_job(JobList *list, JobFields *job);

// The whole program: reads the job list named after the program file (base name plus
// ".LST") from the current folder and runs each job with the program's folder as the work
// folder, saying so once when that is not the current folder. Command-line arguments are
// not read (when there are any, one line says so); argv[0] is used only when the system
// cannot tell the program's path. Result, the exit status: 0 once the job list was read to
// its end and every job made its archive with no bitmap pair left out (or it held no job);
// 1 when, besides, a job did not, or a line was no job, or when no job ran because
// another Zandrel works in the folder or its lock file "tmp.lock" cannot be made (the lock
// is taken after the checks at the start, before the first job, and released and its file
// removed once the list is done); -1 when the job list cannot be
// opened (the help text is printed), cannot be read or is not plain text, when the
// program's path is unknown (longer than PROGRAM_PATH_SIZE holds) or its folder longer than
// WORK_FOLDER_MAX, or when MASadelic.exe is not in the current folder.
int zandrel_main(int argc, char **argv);
