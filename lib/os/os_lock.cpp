// The protocol of run locks, the same on every back end, over the steps of a lock file that
// each back end offers (os_lock_file.h): open without following a link, prove what was
// opened, lock it, make sure its name still leads to it, read what it holds; and at the end,
// remove it only while it is still the file held.
#include "os.h"
#include "os_common.h"
#include "os_lock_file.h"

#include <stdio.h>
#include <string.h>

// How long a take that finds the lock held, or the name changing, is tried again: a run
// that ends at that moment lets the next one in, and a refusal still comes at once.
enum { LOCK_RETRY_MS = 50, HEAD_SIZE = 128 };

// Writes where the lock file at full (a full path) lies once every link of its folder is
// resolved: the folder's final path and the file's name. 0, or -1.
static int expected_final_path(const char *full, char *buffer, uint32_t size)
{
    const char *name = strrchr(full, '\\');
    char folder[OS_PATH_SIZE];
    if (!name || name[1] == '\0')
        return -1;
    int kept = static_cast<int>(name - full) + (name - full == 2 ? 1 : 0);
    snprintf(folder, sizeof folder, "%.*s", kept, full);
    if (os_final_path(folder, buffer, size) != 0)
        return -1;
    size_t length = strlen(buffer);
    int written = snprintf(buffer + length, size - length, "%s%s",
                           buffer[length - 1] == '\\' ? "" : "\\", name + 1);
    return written >= 0 && static_cast<uint32_t>(written) < size - length ? 0 : -1;
}

// 1 when the open file lies where expected, names compared as Windows compares them, or
// when the system cannot tell (the identity checks then stand alone); else 0.
static int lies_where_expected(intptr_t handle, const char *expected)
{
    char final[OS_PATH_SIZE];
    if (lock_file_final_path(handle, final, sizeof final) != 0)
        return 1;
    return os_compare_names(final, expected) == 0 ? 1 : 0;
}

// 1 when text is the caller's: empty, or beginning with own_head.
static int text_is_own(const char *text, const char *own_head)
{
    return text[0] == '\0' ||
           (own_head && own_head[0] && strncmp(text, own_head, strlen(own_head)) == 0);
}

// One attempt: opens, proves, locks and checks the name of the lock file. OS_LOCK_TAKEN
// with *handle locked, or another result with nothing held.
static int take_once(const char *path, const char *expected, intptr_t *handle)
{
    int result = lock_file_open(path, handle);
    if (result != OS_LOCK_TAKEN)
        return result;
    result = lock_file_prove(*handle);
    if (result == OS_LOCK_TAKEN && !lies_where_expected(*handle, expected))
        result = OS_LOCK_LINK;
    if (result == OS_LOCK_TAKEN)
        result = lock_file_try(*handle);
    if (result == OS_LOCK_TAKEN && !lock_file_is_named(*handle, path))
        result = LOCK_FILE_AGAIN;
    if (result != OS_LOCK_TAKEN)
        lock_file_close(*handle);
    return result;
}

// Takes the lock, trying again for LOCK_RETRY_MS while it is held or the name changes.
static int take_with_retries(const char *path, const char *expected, intptr_t *handle)
{
    uint32_t start = lock_clock_ms();
    for (;;) {
        int result = take_once(path, expected, handle);
        int again = result == LOCK_FILE_AGAIN || result == OS_LOCK_HELD || result == OS_LOCK_IN_USE;
        if (!again)
            return result;
        if (lock_clock_ms() - start >= LOCK_RETRY_MS)
            return result == LOCK_FILE_AGAIN ? OS_LOCK_HELD : result;
        lock_pause();
    }
}

const char *os_lock_refusal(int result)
{
    switch (result) {
    case OS_LOCK_LINK:
        return "is a symbolic link or junction: remove the link (not what it leads to)";
    case OS_LOCK_HARD_LINK:
        return "is a second name of another file (a hard link): delete this name";
    case OS_LOCK_FOLDER:
        return "is a folder: move it away";
    case OS_LOCK_DEVICE:
        return "is a pipe or a device, not a file: remove it";
    case OS_LOCK_READ_ONLY:
        return "is read-only (unpacked from a CD or a read-only zip): clear its read-only "
               "attribute, or delete it";
    case OS_LOCK_FOREIGN:
        return "holds text of another program: move it away";
    default:
        return "";
    }
}

int os_lock_take(const char *path, OsRunLock *lock, const char *own_head, char *previous,
                 uint32_t previous_size)
{
    char expected[OS_PATH_SIZE], head[HEAD_SIZE];
    lock->handle = -1;
    if (previous_size > 0)
        previous[0] = '\0';
    if (lock_fault_fires(OS_FAULT_CREATE))
        return OS_LOCK_FAILED;
    // The full path: the holder may change its current folder before it releases.
    if (os_full_path(path, lock->path, sizeof lock->path) != 0 ||
        expected_final_path(lock->path, expected, sizeof expected) != 0)
        return OS_LOCK_FAILED;
    intptr_t handle;
    int result = take_with_retries(lock->path, expected, &handle);
    if (result != OS_LOCK_TAKEN)
        return result;
    if (lock_file_read(handle, head, sizeof head) != 0 ||
        (previous_size > 0 && lock_file_read(handle, previous, previous_size) != 0)) {
        lock_file_close(handle);
        return OS_LOCK_FAILED;
    }
    if (!text_is_own(head, own_head)) {
        if (previous_size > 0)
            previous[0] = '\0';
        lock_file_close(handle);
        return OS_LOCK_FOREIGN;
    }
    lock->handle = handle;
    return OS_LOCK_TAKEN;
}

int os_lock_write(OsRunLock *lock, const char *text)
{
    if (lock->handle == -1 || lock_fault_fires(OS_FAULT_WRITE))
        return -1;
    return lock_file_write(lock->handle, text);
}

void os_lock_release(OsRunLock *lock)
{
    if (lock->handle == -1)
        return;
    // Only the holder removes the file, and only while the name still leads to it as a plain
    // file; a name swapped for a link in between is removed as itself by os_delete_file.
    if (lock_file_is_named(lock->handle, lock->path) &&
        lock_file_prove(lock->handle) == OS_LOCK_TAKEN)
        os_delete_file(lock->path);
    lock_file_close(lock->handle);
    lock->handle = -1;
}
