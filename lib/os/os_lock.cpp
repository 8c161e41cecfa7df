// The protocol of run locks, the same on every back end, over the steps of a lock file that
// each back end offers (os_lock_file.h): open without following a link, prove what was
// opened, lock it, make sure its name still leads to it, read what it holds; and at the end,
// remove it only while it is still the file held. Also whether a final path is the entry a
// name stands for, by folder identity, on which the lock's proof rests.
#include "os.h"
#include "os_common.h"
#include "os_lock_file.h"

#include <stdio.h>
#include <string.h>

// How long a take that finds the lock held, or the name changing, is tried again: a run
// that ends at that moment lets the next one in, and a refusal still comes at once.
enum { LOCK_RETRY_MS = 50, HEAD_SIZE = 128 };

// Writes path's folder into folder (a drive's root with its backslash). Its last part, or
// null when path has none or the folder does not fit.
static const char *split_last_part(const char *path, char *folder, uint32_t size)
{
    const char *last = strrchr(path, '\\');
    if (!last || last[1] == '\0')
        return nullptr;
    int kept = static_cast<int>(last - path);
    if (kept == 2 && path[1] == ':')
        kept++;
    int written = snprintf(folder, size, "%.*s", kept, path);
    return written >= 0 && static_cast<uint32_t>(written) < size ? last + 1 : nullptr;
}

// 1 when folder lists an entry spelled exactly name, else 0.
static int lists_exactly(const char *folder, const char *name)
{
    OsDirList *list = os_list_open(folder);
    OsDirEntry entry;
    int found = 0;
    while (list && !found && os_list_next(list, &entry))
        found = strcmp(entry.name, name) == 0;
    if (list)
        os_list_close(list);
    return found;
}

int os_final_path_names(const char *final, const char *path)
{
    char final_folder[OS_PATH_SIZE], folder[OS_PATH_SIZE];
    OsFolderId final_id, id;
    const char *final_name = split_last_part(final, final_folder, sizeof final_folder);
    const char *name = split_last_part(path, folder, sizeof folder);
    if (!final_name || !name || os_folder_id(final_folder, &final_id) != 0 ||
        os_folder_id(folder, &id) != 0 || os_compare_folder_ids(&final_id, &id) != 0)
        return 0;
    if (strcmp(final_name, name) == 0)
        return 1;
    // Windows matches a name in any case, so final carries the case stored; a folder where
    // both spellings stand apart (Linux, seen through Wine) compares exactly.
    return os_compare_names(final_name, name) == 0 && !lists_exactly(folder, name) ? 1 : 0;
}

// 1 when the open file is the entry its full path names, or when the system cannot tell
// (the identity checks then stand alone); else 0.
static int lies_where_named(intptr_t handle, const char *path)
{
    char final[OS_PATH_SIZE];
    if (lock_file_final_path(handle, final, sizeof final) != 0)
        return 1;
    return os_final_path_names(final, path);
}

// 1 when text is the caller's: empty, or beginning with own_head.
static int text_is_own(const char *text, const char *own_head)
{
    return text[0] == '\0' ||
           (own_head && own_head[0] && strncmp(text, own_head, strlen(own_head)) == 0);
}

// One attempt: opens, proves, locks and checks the name of the lock file. OS_LOCK_TAKEN
// with *handle locked, or another result with nothing held.
static int take_once(const char *path, intptr_t *handle)
{
    int result = lock_file_open(path, handle);
    if (result != OS_LOCK_TAKEN)
        return result;
    result = lock_file_prove(*handle);
    if (result == OS_LOCK_TAKEN && !lies_where_named(*handle, path))
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
static int take_with_retries(const char *path, intptr_t *handle)
{
    uint32_t start = lock_clock_ms();
    for (;;) {
        int result = take_once(path, handle);
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
    char head[HEAD_SIZE];
    lock->handle = -1;
    if (previous_size > 0)
        previous[0] = '\0';
    if (lock_fault_fires(OS_FAULT_CREATE))
        return OS_LOCK_FAILED;
    // The full path: the holder may change its current folder before it releases.
    if (os_full_path(path, lock->path, sizeof lock->path) != 0)
        return OS_LOCK_FAILED;
    intptr_t handle;
    int result = take_with_retries(lock->path, &handle);
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
