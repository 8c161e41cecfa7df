// Inside the Win32 back end only: helpers its modules share. Names are UTF-8 on this side of
// the back end and UTF-16 on the system's; every conversion between the two goes through
// to_wide and to_utf8.
#pragma once

#include <stdint.h>
#include <windows.h>

#include "os.h"

// UTF-8 text as UTF-16 into wide, units units of room (NUL counted). The number of units,
// NUL not counted; -1 when it does not fit (ERROR_FILENAME_EXCED_RANGE) or is no well-formed
// UTF-8 (ERROR_NO_UNICODE_TRANSLATION), wide then L"" when units > 0.
int to_wide(const char *text, WCHAR *wide, int units = OS_PATH_UNITS);
// UTF-16 text as UTF-8 into buffer, size bytes of room (NUL counted). The number of bytes, NUL
// not counted; -1 when it does not fit (ERROR_FILENAME_EXCED_RANGE), buffer then "" when
// size > 0. Lossless for every well-formed UTF-16 text.
int to_utf8(const WCHAR *wide, char *buffer, uint32_t size);

// The full path of path with no trailing backslash (but 'C:\'), GetFullPathNameW. 0, or -1.
int full_path_of(const char *path, char *buffer, uint32_t size);
// The volume serial number and file index of an existing file or folder, links followed.
// 0, or -1.
int file_identity(const char *path, BY_HANDLE_FILE_INFORMATION *info);
// The final path of an open file or folder, every link resolved, in 'C:\x' form
// ('\\server\share\x' for a share), no trailing backslash but at a drive's root. Past 259
// units, where Wine's GetFinalPathNameByHandleW fails, the name the system keeps for the
// handle. 0, or -1 (buffer then "" when size > 0) when it cannot be told or does not fit.
int final_path_of_handle(HANDLE handle, char *buffer, uint32_t size);
// Deletes the file (folder 0) or removes the empty folder (folder 1) at path through a
// handle on the entry itself: a link or junction as itself, and nothing whose final path
// lies outside the folder it is named in (a Linux link under Wine). 0, or -1.
int remove_itself(const char *path, int folder);

// Another program that has a file open in a way that refuses what is asked (an antivirus or an
// indexer opens each new or changed file for a moment, sharing only reading) makes a rename,
// delete, open or create fail with ERROR_SHARING_VIOLATION or ERROR_LOCK_VIOLATION. Each such
// call is made in a loop, `do ... while (failed && sharing_wait(&tries))`, tries starting at 0:
// after such a failure, and while fewer than SHARING_TRIES pauses were made, sharing_wait
// pauses SHARING_PAUSE_MS and gives 1 (try again); else 0, with the system's error as the
// call left it. Any other failure (a read-only file's ERROR_ACCESS_DENIED) is never retried.
enum { SHARING_PAUSE_MS = 50, SHARING_TRIES = 8 };
int sharing_wait(int *tries);

// A folder held (remove.cpp), whose files held.cpp reaches by its final path.
struct OsHeldFolder {
    HANDLE handle;           // the folder, shared for reading and writing, not deletion
    int removable;           // 1 when held with os_hold_subfolder
    char path[OS_PATH_SIZE]; // its final path, 'C:\a' form
    HANDLE find;             // its listing, once begun; INVALID_HANDLE_VALUE at the end
    int listing;             // 1 once the listing has begun
};

// Joins folder and name into buffer (OS_PATH_SIZE bytes). 0, or -1.
int join(char *buffer, const char *folder, const char *name);
// 1 when name is one entry of a folder: not empty, no separator or drive, not "." or "..";
// else 0 (ERROR_INVALID_NAME).
int is_entry_name(const char *name);
// 1 when the final path of the open file lies inside folder, compared as Windows compares
// names (folded alike, a character's UTF-8 length unchanged), else 0.
int lies_inside(HANDLE handle, const char *folder);
// 1 when the entry at path (a full path), opened itself, has path as its final path: a file,
// folder, link or junction there itself, not a Linux link that Wine shows as what it leads to.
// Else 0 (ERROR_ACCESS_DENIED when the entry is there but leads elsewhere).
int is_itself_at(const char *path);
