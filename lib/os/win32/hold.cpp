// The Win32 back end, continued: folder holds, a handle on the folder itself whose share
// mode refuses other writers of the folder.
#include "os.h"
#include "shared.h"

// A refused hold is tried again every few milliseconds for at most this long.
enum { HOLD_WAIT_MS = 50, HOLD_PAUSE_MS = 2 };

static void id_of(const BY_HANDLE_FILE_INFORMATION *info, OsFolderId *id)
{
    id->volume = info->dwVolumeSerialNumber;
    id->index = (static_cast<uint64_t>(info->nFileIndexHigh) << 32) | info->nFileIndexLow;
}

int os_folder_id(const char *path, OsFolderId *id)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (file_identity(path, &info) != 0)
        return -1;
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetLastError(ERROR_DIRECTORY);
        return -1;
    }
    id_of(&info, id);
    return 0;
}

// Both holds share reading, so that the folder can still be listed, and neither shares
// writing or deletion. A shared hold asks only to list the folder, which other shared holds
// allow; an exclusive hold also asks to add files, which no other hold allows, and it
// cannot come while another holds the folder without sharing writing.
// Not inherited: a started program never keeps a hold after its holder ended.
static HANDLE open_held(const WCHAR *path, int mode)
{
    DWORD access = FILE_LIST_DIRECTORY | (mode == OS_HOLD_EXCLUSIVE ? FILE_ADD_FILE : 0);
    return CreateFileW(path, access, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

int os_folder_hold(const char *path, int mode, OsFolderHold *hold)
{
    hold->handle = -1;
    WCHAR wide[OS_PATH_UNITS];
    if (to_wide(path, wide) < 0)
        return -1;
    ULONGLONG start = GetTickCount64();
    HANDLE handle;
    while ((handle = open_held(wide, mode)) == INVALID_HANDLE_VALUE &&
           GetLastError() == ERROR_SHARING_VIOLATION && GetTickCount64() - start < HOLD_WAIT_MS)
        Sleep(HOLD_PAUSE_MS);
    if (handle == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION ? 1 : -1;
    BY_HANDLE_FILE_INFORMATION info;
    DWORD error = GetFileInformationByHandle(handle, &info) ? ERROR_SUCCESS : GetLastError();
    if (error == ERROR_SUCCESS && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        error = ERROR_DIRECTORY;
    if (error != ERROR_SUCCESS) {
        CloseHandle(handle);
        SetLastError(error);
        return -1;
    }
    id_of(&info, &hold->id);
    hold->handle = reinterpret_cast<intptr_t>(handle);
    return 0;
}

void os_folder_release(OsFolderHold *hold)
{
    if (hold->handle == -1)
        return;
    CloseHandle(reinterpret_cast<HANDLE>(hold->handle));
    hold->handle = -1;
}
