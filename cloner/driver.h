// The car cloner's entry: banner, job list, and one job per line.
#pragma once

// Room for the program's own path as the system reports it: 259 characters and the NUL.
enum { PROGRAM_PATH_SIZE = 260 };

// The five banner lines and the fourteen help lines, each list ended by a null pointer.
extern const char *const banner_lines[];
extern const char *const help_lines[];

// Cuts one line end from a line read from the job list: a final LF, then a CR if one is
// left before it.
void drop_line_end(char *line);

// The whole program: reads the job list named after the program file (base name plus
// ".LST") from the current folder and runs each job with the program's folder as the work
// folder. Command-line arguments are not read; argv[0] is used only when the system cannot
// tell the program's path. Result, the exit status: 0 once the job list was read to its
// end; -1 when the job list cannot be opened (the help text is printed), when the program's
// path is unknown (longer than PROGRAM_PATH_SIZE holds) or its folder longer than
// WORK_FOLDER_MAX, or when MASadelic.exe is not in the current folder.
int zandrel_main(int argc, char **argv);
