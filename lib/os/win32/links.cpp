// The names of an open file (Windows).
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
