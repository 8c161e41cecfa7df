// The names of an open file, and whether a folder's hold excludes others (Windows).
#include <io.h>
#include <windows.h>

#include "os.h"
#include "os_common.h"

int os_file_name_count(const OsOpenFile *file)
{
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(file->fd));
    BY_HANDLE_FILE_INFORMATION information;
    if (handle == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return -1;
    }
    if (!OS_CALL(GetFileInformationByHandle(handle, &information)))
        return -1;
    return information.nNumberOfLinks > 0x7fffffff ? 0x7fffffff
                                                    : static_cast<int>(information.nNumberOfLinks);
}

int os_folder_hold_excludes(const OsFolderHold *)
{
    return 1;
}
