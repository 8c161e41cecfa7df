// Files opened once, over Win32: opened with a handle whose status and identity come from
// GetFileInformationByHandle, checked by name and by final path, and rewritten through it.
#include "os.h"
#include "os_common.h"
#include "shared.h"

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

static HANDLE handle_of(const OsOpenFile *file)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(file->fd));
}

static void take_handle_status(OsOpenFile *file, const BY_HANDLE_FILE_INFORMATION *info)
{
    DWORD attributes = info->dwFileAttributes;
    file->status.is_directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
    file->status.is_file =
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) ? 0 : 1;
    file->status.size = file->status.is_directory || info->nFileSizeHigh != 0
                            ? (file->status.is_directory ? 0 : 0xFFFFFFFFu)
                            : static_cast<uint32_t>(info->nFileSizeLow);
    file->volume = info->dwVolumeSerialNumber;
    file->index = (static_cast<uint64_t>(info->nFileIndexHigh) << 32) | info->nFileIndexLow;
    file->names = info->nNumberOfLinks;
}

int os_open_file(const char *path, int for_writing, OsOpenFile *file)
{
    file->fd = -1;
    DWORD access = GENERIC_READ | (for_writing ? GENERIC_WRITE : 0);
    // Others may read and write beside the run, but not delete or rename the file.
    WCHAR wide[OS_PATH_UNITS];
    if (to_wide(path, wide) < 0)
        return -1;
    HANDLE handle;
    int tries = 0;
    do
        handle = OS_CALL(CreateFileW(wide, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    while (handle == INVALID_HANDLE_VALUE && sharing_wait(&tries));
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    BY_HANDLE_FILE_INFORMATION info;
    if (!OS_CALL(GetFileInformationByHandle(handle, &info))) {
        CloseHandle(handle);
        return -1;
    }
    // Wine running as root writes to read-only files; Windows does not, for anyone.
    if (for_writing && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) {
        CloseHandle(handle);
        SetLastError(ERROR_ACCESS_DENIED);
        return -1;
    }
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle),
                             (for_writing ? _O_RDWR : _O_RDONLY) | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return -1;
    }
    take_handle_status(file, &info);
    file->fd = fd;
    return 0;
}

int lies_inside(HANDLE handle, const char *folder)
{
    char final[OS_PATH_SIZE], inside[OS_PATH_SIZE];
    size_t length = strlen(folder);
    while (length > 0 && folder[length - 1] == '\\')
        length--;
    if (length >= sizeof inside || final_path_of_handle(handle, final, sizeof final) != 0 ||
        strlen(final) <= length || final[length] != '\\')
        return 0;
    memcpy(inside, folder, length);
    inside[length] = '\0';
    final[length] = '\0';
    return os_equal_folded(final, inside);
}

int os_file_is_still_at(const OsOpenFile *file, const char *path, const char *folder)
{
    WCHAR wide[OS_PATH_UNITS];
    HANDLE named =
        to_wide(path, wide) < 0
            ? INVALID_HANDLE_VALUE
            : OS_CALL(CreateFileW(wide, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (named == INVALID_HANDLE_VALUE)
        return 0;
    BY_HANDLE_FILE_INFORMATION info;
    BOOL known = OS_CALL(GetFileInformationByHandle(named, &info));
    OS_CALL(CloseHandle(named));
    if (!known || info.dwVolumeSerialNumber != file->volume ||
        ((static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow) != file->index)
        return 0;
    // Wine shows a Linux link as a plain file, so the final path decides, for every name.
    return lies_inside(handle_of(file), folder);
}

int os_replace_content(const OsOpenFile *file, const void *bytes, uint32_t size)
{
    HANDLE handle = handle_of(file);
    LARGE_INTEGER start = {};
    if (!OS_CALL(SetFilePointerEx(handle, start, nullptr, FILE_BEGIN)) ||
        !OS_CALL(SetEndOfFile(handle)))
        return -1;
    const char *at = static_cast<const char *>(bytes);
    while (size > 0) {
        if (os_fault_fires(OS_FAULT_WRITE)) {
            SetLastError(ERROR_WRITE_FAULT);
            return -1;
        }
        DWORD written = 0;
        if (!OS_CALL(WriteFile(handle, at, size, &written, nullptr)) || written == 0)
            return -1;
        at += written;
        size -= written;
    }
    return 0;
}

int os_create_new(const char *path)
{
    if (os_fault_fires(OS_FAULT_CREATE)) {
        SetLastError(ERROR_WRITE_FAULT);
        return -1;
    }
    WCHAR wide[OS_PATH_UNITS];
    if (to_wide(path, wide) < 0)
        return -1;
    HANDLE handle;
    int tries = 0;
    do
        handle =
            OS_CALL(CreateFileW(wide, GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    while (handle == INVALID_HANDLE_VALUE && sharing_wait(&tries));
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0)
        CloseHandle(handle);
    return fd;
}

int os_delete_created(int fd, const char *path)
{
    // Opened without sharing deletion, the file cannot be renamed or replaced while it is
    // open: the handle is the file path names.
    (void)path;
    int result = -1;
    if (os_fault_fires(OS_FAULT_DELETE)) {
        SetLastError(ERROR_ACCESS_DENIED);
    } else {
        HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
        FILE_DISPOSITION_INFO info;
        info.DeleteFile = TRUE;
        if (handle != INVALID_HANDLE_VALUE &&
            OS_CALL(SetFileInformationByHandle(handle, FileDispositionInfo, &info, sizeof info)))
            result = 0;
    }
    DWORD error = GetLastError();
    os_close(fd);
    SetLastError(error);
    return result;
}
