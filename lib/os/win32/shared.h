// Inside the Win32 back end only: helpers its modules share.
#pragma once

#include <stdint.h>
#include <windows.h>

// The full path of path with no trailing backslash (but 'C:\'). 0, or -1.
int full_path_of(const char *path, char *buffer, DWORD size);
// The volume serial number and file index of an existing file or folder. 0, or -1.
int file_identity(const char *path, BY_HANDLE_FILE_INFORMATION *info);
// The final path of an open file or folder, every link resolved, in 'C:\x' form. 0, or -1.
int final_path_of_handle(HANDLE handle, char *buffer, uint32_t size);
// Deletes the file (folder 0) or removes the empty folder (folder 1) at path through a
// handle on the entry itself: a link or junction as itself, and nothing whose final path
// lies outside the folder it is named in (a Linux link under Wine). 0, or -1.
int remove_itself(const char *path, int folder);
