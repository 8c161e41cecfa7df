// The Win32 back end, continued: what makes an entry the one it is (volume serial number
// and file index).
#include "os.h"

#include <windows.h>

int os_file_id(const char *path, OsFileId *id)
{
    HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    BY_HANDLE_FILE_INFORMATION info;
    BOOL known = GetFileInformationByHandle(handle, &info);
    CloseHandle(handle);
    if (!known)
        return -1;
    id->volume = info.dwVolumeSerialNumber;
    id->index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return 0;
}
