// The Win32 back end, continued: removal that never follows a link. Each entry is opened
// itself (FILE_FLAG_OPEN_REPARSE_POINT), proven on its handle to lie in the folder meant, and
// deleted through that handle, so that what was proven is what goes.
#include "os.h"
#include "os_common.h"
#include "shared.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

// Writes the full path in the wide form whose paths may pass 259 units, '\\?\C:\a' or
// '\\?\UNC\server\share\a', into wide (OS_PATH_UNITS units). 0, or -1.
static int long_wide_path(const char *full, WCHAR *wide)
{
    const char *rest = full;
    const WCHAR *lead = L"\\\\?\\";
    if (full[0] == '\\' && full[1] == '\\') {
        rest = full + 2;
        lead = L"\\\\?\\UNC\\";
    } else if (!full[0] || full[1] != ':' || full[2] != '\\') {
        lead = L"";
    }
    int length = static_cast<int>(wcslen(lead));
    if (to_wide(rest, wide + length, OS_PATH_UNITS - length) < 0)
        return -1;
    memcpy(wide, lead, length * sizeof(WCHAR));
    return 0;
}

// Opens the entry at the full path itself: a link or junction as itself, never what it
// leads to.
static HANDLE open_itself(const char *full, DWORD access, DWORD share)
{
    WCHAR wide[OS_PATH_UNITS];
    if (long_wide_path(full, wide) != 0)
        return INVALID_HANDLE_VALUE;
    return OS_CALL(CreateFileW(wide, access | FILE_READ_ATTRIBUTES | SYNCHRONIZE, share, nullptr,
                               OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// 1 when the open entry is a symbolic link or junction (a name-surrogate reparse point; other
// reparse points, such as cloud placeholders, are the files and folders they stand for).
static int is_link(HANDLE handle, DWORD *attributes)
{
    FILE_ATTRIBUTE_TAG_INFO info;
    if (!OS_CALL(GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &info, sizeof info)))
        return -1;
    *attributes = info.FileAttributes;
    return (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                   IsReparseTagNameSurrogate(info.ReparseTag)
               ? 1
               : 0;
}

int join(char *buffer, const char *folder, const char *name)
{
    size_t length = strlen(folder);
    const char *separator = length > 0 && folder[length - 1] == '\\' ? "" : "\\";
    int written = snprintf(buffer, OS_PATH_SIZE, "%s%s%s", folder, separator, name);
    if (written >= 0 && written < OS_PATH_SIZE)
        return 0;
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return -1;
}

int is_entry_name(const char *name)
{
    if (name[0] && !strpbrk(name, "\\/:") && strcmp(name, ".") != 0 && strcmp(name, "..") != 0)
        return 1;
    SetLastError(ERROR_INVALID_NAME);
    return 0;
}

// 1 when the final path of the open entry is the path named, which ends in its own name:
// the entry named there itself, not what a link there leads to.
static int is_named(HANDLE handle, const char *path)
{
    char final[OS_PATH_SIZE];
    return final_path_of_handle(handle, final, sizeof final) == 0 && os_equal_folded(final, path);
}

int is_itself_at(const char *path)
{
    HANDLE handle = open_itself(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (handle == INVALID_HANDLE_VALUE)
        return 0;
    int named = is_named(handle, path);
    OS_CALL(CloseHandle(handle));
    if (!named)
        SetLastError(ERROR_ACCESS_DENIED);
    return named;
}

// Deletes the open entry (which was opened with DELETE access) once its handle closes.
static int delete_open(HANDLE handle)
{
    FILE_DISPOSITION_INFO info;
    info.DeleteFile = TRUE;
    return OS_CALL(SetFileInformationByHandle(handle, FileDispositionInfo, &info, sizeof info))
               ? 0
               : -1;
}

// Opens the entry at path and deletes it through its handle, when it is what is asked: a
// link or junction in any case, else a folder when folder is 1 or a file when it is 0; and
// when final is not null, only when the entry's final path is final (its folder's final
// path and its name). 0, or -1 with the system's error set.
static int delete_itself(const char *path, int folder, const char *final)
{
    HANDLE handle;
    int tries = 0;
    do
        handle = open_itself(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    while (handle == INVALID_HANDLE_VALUE && sharing_wait(&tries));
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    DWORD attributes = 0;
    int link = is_link(handle, &attributes);
    int result = -1;
    if (link < 0) {
        // The system's error stands.
    } else if (!link && ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != (folder != 0)) {
        SetLastError(folder ? ERROR_DIRECTORY : ERROR_ACCESS_DENIED);
    } else if (final && !is_named(handle, final)) {
        // A Linux link that Wine shows as the file or folder it leads to.
        SetLastError(ERROR_ACCESS_DENIED);
    } else {
        result = delete_open(handle);
    }
    DWORD error = GetLastError();
    OS_CALL(CloseHandle(handle));
    SetLastError(error);
    return result;
}

// Writes the full path of path into full (OS_PATH_SIZE bytes); its last part is the name the
// folder lists (the long name for a short one). 0, or -1.
static int long_full_path(const char *path, char *full)
{
    if (full_path_of(path, full, OS_PATH_SIZE) != 0)
        return -1;
    char *cut = strrchr(full, '\\');
    WCHAR wide[OS_PATH_UNITS];
    WIN32_FIND_DATAW data;
    HANDLE find = !cut || !cut[1] || long_wide_path(full, wide) != 0
                      ? INVALID_HANDLE_VALUE
                      : OS_CALL(FindFirstFileW(wide, &data));
    if (find != INVALID_HANDLE_VALUE) {
        OS_CALL(FindClose(find));
        char name[OS_NAME_SIZE];
        uint32_t room = OS_PATH_SIZE - static_cast<uint32_t>(cut + 1 - full);
        int length = to_utf8(data.cFileName, name, sizeof name);
        if (length >= 0 && static_cast<uint32_t>(length) < room)
            memcpy(cut + 1, name, static_cast<size_t>(length) + 1);
    }
    return 0;
}

// Writes the full path of path into full (long_full_path), and the path it has when its
// folder's final path is put first into final (both OS_PATH_SIZE bytes). Result: full,
// or null when path has no full path; *named is final, or null when that folder's final
// path cannot be told.
static const char *full_and_final(const char *path, char *full, char *final, const char **named)
{
    *named = nullptr;
    if (long_full_path(path, full) != 0)
        return nullptr;
    char *cut = strrchr(full, '\\');
    if (!cut || !cut[1])
        return full;
    // 'C:\x' is named in 'C:\', whose separator stays.
    char parent[OS_PATH_SIZE];
    size_t kept = cut - full == 2 && full[1] == ':' ? 3 : static_cast<size_t>(cut - full);
    memcpy(parent, full, kept);
    parent[kept] = '\0';
    // The folder is opened as the system resolves it: through links on the way.
    WCHAR wide[OS_PATH_UNITS];
    HANDLE handle =
        long_wide_path(parent, wide) != 0
            ? INVALID_HANDLE_VALUE
            : OS_CALL(CreateFileW(wide, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (handle == INVALID_HANDLE_VALUE)
        return full;
    if (final_path_of_handle(handle, parent, sizeof parent) == 0 &&
        join(final, parent, cut + 1) == 0)
        *named = final;
    OS_CALL(CloseHandle(handle));
    return full;
}

int remove_itself(const char *path, int folder)
{
    char full[OS_PATH_SIZE], final[OS_PATH_SIZE];
    const char *named;
    if (!full_and_final(path, full, final, &named))
        return -1;
    return delete_itself(full, folder, named);
}

// ---- Held folders ----------------------------------------------------------------------

// Holds the folder at path, which must not be a link or junction and, when final is not
// null, must have that final path.
static OsHeldFolder *hold(const char *path, const char *final, int removable)
{
    HANDLE handle = open_itself(path, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    DWORD attributes = 0;
    OsHeldFolder *folder = nullptr;
    if (is_link(handle, &attributes) == 0 && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        (!final || is_named(handle, final)))
        folder = static_cast<OsHeldFolder *>(calloc(1, sizeof(OsHeldFolder)));
    if (!folder || final_path_of_handle(handle, folder->path, sizeof folder->path) != 0) {
        free(folder);
        CloseHandle(handle);
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    folder->handle = handle;
    folder->removable = removable;
    folder->find = INVALID_HANDLE_VALUE;
    return folder;
}

OsHeldFolder *os_hold_folder(const char *path)
{
    char full[OS_PATH_SIZE], final[OS_PATH_SIZE];
    const char *named;
    if (!full_and_final(path, full, final, &named))
        return nullptr;
    return hold(full, named, 0);
}

OsHeldFolder *os_hold_subfolder(OsHeldFolder *folder, const char *name)
{
    char path[OS_PATH_SIZE];
    if (!is_entry_name(name) || join(path, folder->path, name) != 0)
        return nullptr;
    return hold(path, path, 1);
}

// The next entry of the held folder's listing into *data, "." and ".." included. 1, or 0 at
// the end.
static int next_found(OsHeldFolder *folder, WIN32_FIND_DATAW *data)
{
    if (!folder->listing) {
        char pattern[OS_PATH_SIZE];
        WCHAR wide[OS_PATH_UNITS];
        folder->listing = 1;
        if (join(pattern, folder->path, "*") != 0 || long_wide_path(pattern, wide) != 0)
            return 0;
        folder->find = FindFirstFileW(wide, data);
        return folder->find != INVALID_HANDLE_VALUE;
    }
    if (folder->find == INVALID_HANDLE_VALUE)
        return 0;
    if (FindNextFileW(folder->find, data))
        return 1;
    FindClose(folder->find);
    folder->find = INVALID_HANDLE_VALUE;
    return 0;
}

int os_held_next(OsHeldFolder *folder, OsDirEntry *entry)
{
    WIN32_FIND_DATAW data;
    while (next_found(folder, &data)) {
        if (to_utf8(data.cFileName, entry->name, sizeof entry->name) < 0 ||
            strcmp(entry->name, ".") == 0 || strcmp(entry->name, "..") == 0)
            continue;
        DWORD kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                     FILE_ATTRIBUTE_DIRECTORY;
        entry->attributes = static_cast<int32_t>(data.dwFileAttributes & kept);
        // The listing gives a reparse point's tag in dwReserved0.
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
            IsReparseTagNameSurrogate(data.dwReserved0))
            entry->attributes = (entry->attributes & ~OS_ATTR_DIRECTORY) | OS_ATTR_LINK;
        entry->size = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 0
                      : data.nFileSizeHigh                               ? 0xFFFFFFFFu
                                                                         : data.nFileSizeLow;
        return 1;
    }
    return 0;
}

int os_held_delete(OsHeldFolder *folder, const char *name)
{
    char path[OS_PATH_SIZE];
    if (!is_entry_name(name) || join(path, folder->path, name) != 0)
        return -1;
    return delete_itself(path, 0, path);
}

int os_held_make_current(OsHeldFolder *folder)
{
    WCHAR wide[OS_PATH_UNITS];
    return to_wide(folder->path, wide) >= 0 && SetCurrentDirectoryW(wide) ? 0 : -1;
}

// Removes the held folder, empty by now: its hold is closed (a handle that may delete would
// keep the listing out under Wine) and the folder opened again, itself, for deletion; it
// goes only when that is the very folder held. 0, or -1.
static int remove_held(OsHeldFolder *folder)
{
    char current[OS_PATH_SIZE];
    BY_HANDLE_FILE_INFORMATION held, opened;
    // Windows refuses to remove the current folder; Wine may not, so refuse it here.
    if (!folder->removable || full_path_of(".", current, sizeof current) != 0 ||
        os_equal_folded(current, folder->path) ||
        !GetFileInformationByHandle(folder->handle, &held)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return -1;
    }
    CloseHandle(folder->handle);
    int tries = 0;
    do
        folder->handle = open_itself(folder->path, DELETE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    while (folder->handle == INVALID_HANDLE_VALUE && sharing_wait(&tries));
    if (folder->handle == INVALID_HANDLE_VALUE)
        return -1;
    if (!GetFileInformationByHandle(folder->handle, &opened) ||
        opened.dwVolumeSerialNumber != held.dwVolumeSerialNumber ||
        opened.nFileIndexHigh != held.nFileIndexHigh ||
        opened.nFileIndexLow != held.nFileIndexLow) {
        SetLastError(ERROR_ACCESS_DENIED);
        return -1;
    }
    return delete_open(folder->handle);
}

int os_release_folder(OsHeldFolder *folder, int remove)
{
    if (!folder)
        return -1;
    if (folder->find != INVALID_HANDLE_VALUE)
        FindClose(folder->find);
    int result = remove ? remove_held(folder) : 0;
    DWORD error = GetLastError();
    if (folder->handle != INVALID_HANDLE_VALUE)
        CloseHandle(folder->handle);
    free(folder);
    SetLastError(error);
    return result;
}
