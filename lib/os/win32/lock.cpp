// The Win32 back end, continued: the steps of a lock file, an inheritable handle whose share
// mode admits no other writer, opened without following links.
#include "os.h"
#include "os_common.h"
#include "os_lock_file.h"
#include "shared.h"

#include <stdio.h>
#include <string.h>
#include <windows.h>

// Readers and the holder's own deletion are admitted, no other writer: the open is the lock.
static const DWORD LOCK_SHARE = FILE_SHARE_READ | FILE_SHARE_DELETE;
// The entry itself, never what a symbolic link or junction leads to.
static const DWORD LOCK_FLAGS = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;

int lock_fault_fires(int kind)
{
    if (!os_fault_fires(kind))
        return 0;
    SetLastError(ERROR_WRITE_FAULT);
    return 1;
}

// What an entry that could not be opened is, from its attributes (a link not followed).
static int kind_refused(const WCHAR *path, DWORD error)
{
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)
        return OS_LOCK_IN_USE;
    DWORD attributes = GetFileAttributesW(path);
    // A file its holder deleted but still holds open refuses every open until it is gone.
    if (attributes == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_ACCESS_DENIED)
        return LOCK_FILE_AGAIN;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return OS_LOCK_LINK;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return OS_LOCK_FOLDER;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return OS_LOCK_READ_ONLY;
    SetLastError(error);
    return OS_LOCK_FAILED;
}

int lock_file_open(const char *path, intptr_t *handle)
{
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    WCHAR wide[OS_PATH_UNITS];
    *handle = -1;
    if (to_wide(path, wide) < 0)
        return OS_LOCK_FAILED;
    // A name that neither opens nor can be created twice over is a dangling link (Wine
    // shows a Linux one so); CREATE_NEW never creates what a link names.
    static const DWORD dispositions[] = {OPEN_EXISTING, CREATE_NEW};
    for (int attempt = 0; attempt < 2; attempt++) {
        for (DWORD disposition : dispositions) {
            HANDLE opened = CreateFileW(wide, GENERIC_READ | GENERIC_WRITE, LOCK_SHARE,
                                        &inheritable, disposition, LOCK_FLAGS, nullptr);
            if (opened != INVALID_HANDLE_VALUE) {
                *handle = reinterpret_cast<intptr_t>(opened);
                return OS_LOCK_TAKEN;
            }
            DWORD error = GetLastError();
            int missing = error == ERROR_FILE_NOT_FOUND;
            int exists = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
            if (!(disposition == OPEN_EXISTING ? missing : exists))
                return kind_refused(wide, error);
        }
    }
    return OS_LOCK_LINK;
}

int lock_file_prove(intptr_t handle)
{
    HANDLE file = reinterpret_cast<HANDLE>(handle);
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(file) != FILE_TYPE_DISK)
        return OS_LOCK_DEVICE;
    if (!GetFileInformationByHandle(file, &info))
        return OS_LOCK_FAILED;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return OS_LOCK_FOLDER;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // A symbolic link or junction stands for another name; a cloud-sync placeholder
        // and other reparse points are the file itself.
        FILE_ATTRIBUTE_TAG_INFO tag;
        if (!GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag) ||
            IsReparseTagNameSurrogate(tag.ReparseTag))
            return OS_LOCK_LINK;
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
        return OS_LOCK_READ_ONLY;
    return info.nNumberOfLinks != 1 ? OS_LOCK_HARD_LINK : OS_LOCK_TAKEN;
}

int lock_file_final_path(intptr_t handle, char *buffer, uint32_t size)
{
    return final_path_of_handle(reinterpret_cast<HANDLE>(handle), buffer, size);
}

int lock_file_try(intptr_t)
{
    return OS_LOCK_TAKEN;
}

int lock_file_is_named(intptr_t handle, const char *path)
{
    BY_HANDLE_FILE_INFORMATION mine, named;
    WCHAR wide[OS_PATH_UNITS];
    HANDLE other =
        to_wide(path, wide) < 0
            ? INVALID_HANDLE_VALUE
            : CreateFileW(wide, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                          nullptr);
    if (other == INVALID_HANDLE_VALUE)
        return 0;
    BOOL known = GetFileInformationByHandle(other, &named);
    CloseHandle(other);
    return known && GetFileInformationByHandle(reinterpret_cast<HANDLE>(handle), &mine) &&
                   mine.dwVolumeSerialNumber == named.dwVolumeSerialNumber &&
                   mine.nFileIndexHigh == named.nFileIndexHigh &&
                   mine.nFileIndexLow == named.nFileIndexLow
               ? 1
               : 0;
}

int lock_file_read(intptr_t handle, char *buffer, uint32_t size)
{
    HANDLE file = reinterpret_cast<HANDLE>(handle);
    if (size == 0)
        return 0;
    buffer[0] = '\0';
    if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return -1;
    DWORD length = 0;
    while (length + 1 < size) {
        DWORD got = 0;
        if (!ReadFile(file, buffer + length, size - 1 - length, &got, nullptr)) {
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

int lock_file_write(intptr_t handle, const char *text)
{
    HANDLE file = reinterpret_cast<HANDLE>(handle);
    DWORD length = static_cast<DWORD>(strlen(text)), put = 0;
    if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
        !WriteFile(file, text, length, &put, nullptr))
        return -1;
    if (put != length) {
        SetLastError(ERROR_WRITE_FAULT);
        return -1;
    }
    return SetEndOfFile(file) ? 0 : -1;
}

void lock_file_close(intptr_t handle)
{
    DWORD error = GetLastError();
    CloseHandle(reinterpret_cast<HANDLE>(handle));
    SetLastError(error);
}

uint32_t lock_clock_ms(void)
{
    return GetTickCount();
}

void lock_pause(void)
{
    Sleep(1);
}
