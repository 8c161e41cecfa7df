// Inside the OS layer only: the small steps of a lock file that each back end offers, and
// from which os_lock.cpp builds the one protocol of os_lock_take and os_lock_release. A
// handle is the back end's descriptor or HANDLE as an intptr_t.
#pragma once

#include <stdint.h>

// A step's result that asks for the whole take again: the name changed under it.
enum { LOCK_FILE_AGAIN = 100 };

// 1 when the armed fault of the kind fires now, the back end's error then set for it.
int lock_fault_fires(int kind);

// Opens the entry at path (a full path) for reading and writing, inheritable, without
// following a link, without waiting and without making a terminal the controlling one; when
// nothing has that name, creates a plain file, as any file the programs make, refusing to
// create through a dangling link. OS_LOCK_TAKEN with *handle open (neither proven nor
// locked), or another OS_LOCK_* result (os.h): LINK, FOLDER, DEVICE, READ_ONLY, IN_USE
// (Windows: shared with no writer), FAILED (the system's error set), or LOCK_FILE_AGAIN when
// the name was taken or removed in between.
int lock_file_open(const char *path, intptr_t *handle);

// What the open file is: OS_LOCK_TAKEN for a plain, writable file with one name that is not
// a symbolic link or junction, else OS_LOCK_LINK, OS_LOCK_HARD_LINK, OS_LOCK_FOLDER,
// OS_LOCK_DEVICE or OS_LOCK_READ_ONLY; OS_LOCK_FAILED when it cannot be asked.
int lock_file_prove(intptr_t handle);

// The final path of the open file ('Z:\a\b' form, every link resolved). 0, or -1.
int lock_file_final_path(intptr_t handle, char *buffer, uint32_t size);

// Takes the lock of the open file without waiting: OS_LOCK_TAKEN, OS_LOCK_HELD, or
// OS_LOCK_FAILED. On Windows the open itself took it (its share mode), so this is 0.
int lock_file_try(intptr_t handle);

// 1 when the name path (a link not followed) still leads to the open file, else 0.
int lock_file_is_named(intptr_t handle, const char *path);

// Reads the file from its start into buffer, NUL-terminated, cut to size - 1 bytes. 0, or -1.
int lock_file_read(intptr_t handle, char *buffer, uint32_t size);

// Writes text from the file's start in one call, then cuts the file to that length. 0, or -1.
int lock_file_write(intptr_t handle, const char *text);

// Closes the handle, keeping the system's error of the step before.
void lock_file_close(intptr_t handle);

// Milliseconds from a fixed moment, for the bound of the retries; pauses about 1 ms.
uint32_t lock_clock_ms(void);
void lock_pause(void);
