// The Win32 back end, continued: paths resolved by the system (full paths, links followed
// or recognised).
#include "os.h"
#include "os_common.h"
#include "shared.h"

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

int final_path_of_handle(HANDLE handle, char *buffer, uint32_t size)
{
    if (size > 0)
        buffer[0] = '\0';
    char final[MAX_PATH * 2 + 8];
    DWORD length = GetFinalPathNameByHandleA(handle, final, sizeof final,
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
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

int os_final_path(const char *path, char *buffer, uint32_t size)
{
    if (size > 0)
        buffer[0] = '\0';
    HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    int result = final_path_of_handle(handle, buffer, size);
    DWORD error = GetLastError();
    CloseHandle(handle);
    SetLastError(error);
    return result;
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

int full_path_of(const char *path, char *buffer, DWORD size)
{
    DWORD length = GetFullPathNameA(path, size, buffer, nullptr);
    if (length == 0 || length >= size)
        return -1;
    if (length > 3 && buffer[length - 1] == '\\')
        buffer[length - 1] = '\0';
    return 0;
}

int file_identity(const char *path, BY_HANDLE_FILE_INFORMATION *info)
{
    HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    BOOL known = GetFileInformationByHandle(handle, info);
    CloseHandle(handle);
    return known ? 0 : -1;
}
