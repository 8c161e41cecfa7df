// The Win32 back end, continued: the conversions between the UTF-8 names inside and the
// UTF-16 ones of the system, and paths resolved by the system (full paths, final paths, links
// followed or recognised).
#include "os.h"
#include "os_common.h"
#include "shared.h"

#include <stdio.h>
#include <string.h>
#include <windows.h>

// ---- UTF-8 inside, UTF-16 to the system ------------------------------------------------

int to_wide(const char *text, WCHAR *wide, int units)
{
    int length =
        units > 0 ? MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide, units) : 0;
    if (length > 0)
        return length - 1;
    if (units <= 0 || GetLastError() == ERROR_INSUFFICIENT_BUFFER)
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
    if (units > 0)
        wide[0] = L'\0';
    return -1;
}

int to_utf8(const WCHAR *wide, char *buffer, uint32_t size)
{
    int room = size > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(size);
    int length =
        room > 0 ? WideCharToMultiByte(CP_UTF8, 0, wide, -1, buffer, room, nullptr, nullptr) : 0;
    if (length > 0)
        return length - 1;
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    if (size > 0)
        buffer[0] = '\0';
    return -1;
}

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

// The final path of an open entry from the name the system keeps for its handle, for when
// GetFinalPathNameByHandleW cannot give it (Wine's 32-bit build fails past 259 characters).
// Only a name in the '\??\C:\a' form that Wine keeps is taken; Windows keeps device
// names and never needs this. Into wide (OS_PATH_UNITS units), as '\\?\C:\a'. Its length,
// or 0.
static DWORD final_path_by_name(HANDLE handle, WCHAR *wide)
{
    typedef LONG(WINAPI * QueryObject)(HANDLE, int, void *, ULONG, ULONG *);
    QueryObject query = reinterpret_cast<QueryObject>(reinterpret_cast<void (*)(void)>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryObject")));
    struct Name {
        USHORT length, room;
        WCHAR *text;
    };
    union {
        Name name;
        char room[sizeof(Name) + OS_PATH_UNITS * sizeof(WCHAR) + 16];
    } found;
    ULONG used = 0;
    const int OBJECT_NAME_INFORMATION_CLASS = 1;
    if (!query || query(handle, OBJECT_NAME_INFORMATION_CLASS, &found, sizeof found, &used) != 0)
        return 0;
    DWORD count = found.name.length / sizeof(WCHAR);
    const WCHAR *text = found.name.text;
    if (count < 7 || count >= OS_PATH_UNITS || wcsncmp(text, L"\\??\\", 4) != 0 ||
        text[5] != L':' || text[6] != L'\\')
        return 0;
    memcpy(wide, text, count * sizeof(WCHAR));
    wide[1] = L'\\';
    wide[2] = L'?';
    wide[count] = L'\0';
    return count;
}

int final_path_of_handle(HANDLE handle, char *buffer, uint32_t size)
{
    if (size > 0)
        buffer[0] = '\0';
    WCHAR wide[OS_PATH_UNITS];
    DWORD length = OS_CALL(GetFinalPathNameByHandleW(handle, wide, OS_PATH_UNITS,
                                                     FILE_NAME_NORMALIZED | VOLUME_NAME_DOS));
    if (length == 0 && GetLastError() == ERROR_MORE_DATA)
        length = final_path_by_name(handle, wide);
    if (length == 0 || length >= OS_PATH_UNITS) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return -1;
    }
    // '\\?\C:\x' is 'C:\x'; '\\?\UNC\server\share' is '\\server\share'.
    WCHAR *start = wide;
    if (wcsncmp(wide, L"\\\\?\\UNC\\", 8) == 0) {
        start = wide + 6;
        start[0] = L'\\';
    } else if (wcsncmp(wide, L"\\\\?\\", 4) == 0) {
        start = wide + 4;
    }
    size_t kept = wcslen(start);
    if (kept > 3 && start[kept - 1] == L'\\')
        start[kept - 1] = L'\0';
    return to_utf8(start, buffer, size) < 0 ? -1 : 0;
}

// Opens the entry at path, links followed, for nothing but its attributes.
static HANDLE open_followed(const char *path)
{
    WCHAR wide[OS_PATH_UNITS];
    if (to_wide(path, wide) < 0)
        return INVALID_HANDLE_VALUE;
    return CreateFileW(wide, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

int os_final_path(const char *path, char *buffer, uint32_t size)
{
    if (size > 0)
        buffer[0] = '\0';
    HANDLE handle = open_followed(path);
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
    char copy[OS_PATH_SIZE];
    WCHAR wide[OS_PATH_UNITS];
    int written = snprintf(copy, sizeof copy, "%s", path);
    if (written < 0 || written >= static_cast<int>(sizeof copy)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return -1;
    }
    // Without the trailing separator the link itself is asked about, not its target.
    while (written > 1 && strchr("\\/", copy[written - 1]) && copy[written - 2] != ':')
        copy[--written] = '\0';
    DWORD attributes = to_wide(copy, wide) < 0 ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(wide);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return -1;
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? 1 : 0;
}

int full_path_of(const char *path, char *buffer, uint32_t size)
{
    WCHAR wide[OS_PATH_UNITS], full[OS_PATH_UNITS];
    if (to_wide(path, wide) < 0)
        return -1;
    DWORD length = GetFullPathNameW(wide, OS_PATH_UNITS, full, nullptr);
    if (length == 0 || length >= OS_PATH_UNITS) {
        if (length != 0)
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return -1;
    }
    if (length > 3 && full[length - 1] == L'\\')
        full[length - 1] = L'\0';
    return to_utf8(full, buffer, size) < 0 ? -1 : 0;
}

int file_identity(const char *path, BY_HANDLE_FILE_INFORMATION *info)
{
    HANDLE handle = open_followed(path);
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    BOOL known = GetFileInformationByHandle(handle, info);
    CloseHandle(handle);
    return known ? 0 : -1;
}
