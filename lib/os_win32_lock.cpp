// The Win32 back end, continued: paths resolved by the system (full paths, links followed
// or recognised) and run locks, an inheritable handle whose share mode admits no other writer.
#include "os.h"
#include "os_common.h"
#include "os_win32_shared.h"

#include <stdio.h>
#include <string.h>
#include <windows.h>

// ---- Paths as the system resolves them -----------------------------------------------

int os_full_path(const char *path, char *buffer, uint32_t size)
{
    if (size == 0)
        return -1;
    if (!path[0] || full_path_of(path, buffer, size) != 0) {
        buffer[0] = '\0';
        return -1;
    }
    return 0;
}

int os_final_path(const char *path, char *buffer, uint32_t size)
{
    if (size > 0)
        buffer[0] = '\0';
    HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    char final[MAX_PATH * 2 + 8];
    DWORD length = GetFinalPathNameByHandleA(handle, final, sizeof final,
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(handle);
    if (length == 0 || length >= sizeof final)
        return -1;
    // '\\?\C:\x' is 'C:\x'; '\\?\UNC\server\share' is '\\server\share'.
    const char *start = final, *lead = "";
    if (strncmp(final, "\\\\?\\UNC\\", 8) == 0) {
        start = final + 8;
        lead = "\\\\";
    } else if (strncmp(final, "\\\\?\\", 4) == 0)
        start = final + 4;
    size_t kept = strlen(start);
    if (kept > 3 && start[kept - 1] == '\\')
        kept--;
    int written = snprintf(buffer, size, "%s%.*s", lead, static_cast<int>(kept), start);
    if (written < 0 || static_cast<uint32_t>(written) >= size) {
        if (size > 0)
            buffer[0] = '\0';
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return -1;
    }
    return 0;
}

int os_is_link(const char *path)
{
    char copy[MAX_PATH * 2];
    int written = snprintf(copy, sizeof copy, "%s", path);
    if (written < 0 || written >= static_cast<int>(sizeof copy)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return -1;
    }
    // Without the trailing separator the link itself is asked about, not its target.
    while (written > 1 && strchr("\\/", copy[written - 1]) && copy[written - 2] != ':')
        copy[--written] = '\0';
    DWORD attributes = GetFileAttributesA(copy);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return -1;
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? 1 : 0;
}

// ---- Run locks -----------------------------------------------------------------------

// Tries over and over only while other runs keep removing the file in between.
enum { LOCK_ATTEMPTS = 1000 };

// Reads from the start of the file into buffer, NUL-terminated, cut to size - 1 bytes.
static int read_from_start(HANDLE handle, char *buffer, uint32_t size)
{
    if (size == 0)
        return 0;
    buffer[0] = '\0';
    if (SetFilePointer(handle, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return -1;
    DWORD length = 0;
    while (length + 1 < size) {
        DWORD got = 0;
        if (!ReadFile(handle, buffer + length, size - 1 - length, &got, nullptr)) {
            buffer[length] = '\0';
            return -1;
        }
        if (got == 0)
            break;
        length += got;
    }
    buffer[length] = '\0';
    return 0;
}

// 1 when the lock file's name still leads to the open file, else 0.
static int name_leads_to(const char *path, HANDLE handle)
{
    BY_HANDLE_FILE_INFORMATION mine, named;
    return GetFileInformationByHandle(handle, &mine) && file_identity(path, &named) == 0 &&
                   mine.dwVolumeSerialNumber == named.dwVolumeSerialNumber &&
                   mine.nFileIndexHigh == named.nFileIndexHigh &&
                   mine.nFileIndexLow == named.nFileIndexLow
               ? 1
               : 0;
}

// 1 when the name stands for a file that its holder has deleted but still holds open:
// Windows then refuses every open with "access denied" until the last handle closes.
static int is_being_deleted(const char *path)
{
    return GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES &&
                   GetLastError() == ERROR_ACCESS_DENIED
               ? 1
               : 0;
}

// Opens the lock file, which takes the lock: the share mode admits readers and the
// holder's own deletion, but no other writer. 0 with *handle open, 1 held elsewhere, -1.
static int open_and_lock(const char *path, HANDLE *handle)
{
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    for (int attempt = 0; attempt < LOCK_ATTEMPTS; attempt++) {
        *handle =
            CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                        &inheritable, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (*handle != INVALID_HANDLE_VALUE)
            return 0;
        DWORD error = GetLastError();
        if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)
            return 1;
        if (error != ERROR_ACCESS_DENIED || !is_being_deleted(path)) {
            SetLastError(error);
            return -1;
        }
        Sleep(1);
    }
    SetLastError(ERROR_SHARING_VIOLATION);
    return 1;
}

int os_lock_take(const char *path, OsRunLock *lock, char *previous, uint32_t previous_size)
{
    lock->handle = -1;
    if (previous_size > 0)
        previous[0] = '\0';
    if (os_fault_fires(OS_FAULT_CREATE)) {
        SetLastError(ERROR_WRITE_FAULT);
        return -1;
    }
    // The full path: the holder may change its current folder before it releases.
    if (!path[0] || full_path_of(path, lock->path, sizeof lock->path) != 0) {
        SetLastError(path[0] ? ERROR_FILENAME_EXCED_RANGE : ERROR_PATH_NOT_FOUND);
        return -1;
    }
    for (int attempt = 0; attempt < LOCK_ATTEMPTS; attempt++) {
        HANDLE handle;
        int result = open_and_lock(lock->path, &handle);
        if (result != 0)
            return result;
        if (name_leads_to(lock->path, handle)) {
            if (read_from_start(handle, previous, previous_size) != 0) {
                DWORD error = GetLastError();
                CloseHandle(handle);
                SetLastError(error);
                return -1;
            }
            lock->handle = reinterpret_cast<intptr_t>(handle);
            return 0;
        }
        CloseHandle(handle);
    }
    SetLastError(ERROR_SHARING_VIOLATION);
    return 1;
}

int os_lock_write(OsRunLock *lock, const char *text)
{
    if (lock->handle == -1) {
        SetLastError(ERROR_INVALID_HANDLE);
        return -1;
    }
    if (os_fault_fires(OS_FAULT_WRITE)) {
        SetLastError(ERROR_WRITE_FAULT);
        return -1;
    }
    HANDLE handle = reinterpret_cast<HANDLE>(lock->handle);
    if (SetFilePointer(handle, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
        !SetEndOfFile(handle))
        return -1;
    DWORD length = static_cast<DWORD>(strlen(text));
    for (DWORD done = 0; done < length;) {
        DWORD put = 0;
        if (!WriteFile(handle, text + done, length - done, &put, nullptr) || put == 0)
            return -1;
        done += put;
    }
    return 0;
}

int os_lock_read(const char *path, char *buffer, uint32_t size)
{
    if (size > 0)
        buffer[0] = '\0';
    // Sharing deletion too, so that a reader never keeps the holder from removing the file.
    HANDLE handle =
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    int result = read_from_start(handle, buffer, size);
    DWORD error = GetLastError();
    CloseHandle(handle);
    SetLastError(error);
    return result;
}

int os_lock_is_held(const char *path)
{
    // The holder's share mode refuses every other writer; an open for writing that is
    // admitted is closed at once, the file untouched.
    HANDLE handle =
        CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
        return 0;
    }
    DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? 1 : 0;
}

void os_lock_release(OsRunLock *lock)
{
    if (lock->handle == -1)
        return;
    HANDLE handle = reinterpret_cast<HANDLE>(lock->handle);
    // Only the holder removes the file, and only while the name still leads to it; the
    // share mode admits the deletion, which completes when the handle closes.
    if (name_leads_to(lock->path, handle))
        os_delete_file(lock->path);
    CloseHandle(handle);
    lock->handle = -1;
}
